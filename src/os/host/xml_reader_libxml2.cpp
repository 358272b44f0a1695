#include "os/host/xml_reader_libxml2.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace orv::host {
namespace {

// libxml2 2.12 made the error record const; take whichever this build declares.
template <typename>
struct SecondParameter;
template <typename R, typename A, typename B>
struct SecondParameter<R (*)(A, B)> {
  using Type = B;
};
using ErrorRecord = SecondParameter<xmlStructuredErrorFunc>::Type;

os::XmlResult FromLibxml2Error(int code) {
  return static_cast<os::XmlResult>(0xA0000000U | (static_cast<std::uint32_t>(code) & 0xFFFFU));
}

// Encoding and I/O errors bypass the reader's handler and go to libxml2's generic one, which
// prints; the document fails through the reader all the same.
void Silent(void*, const char*, ...) {}

os::XmlResult FromErrno(int error) {
  switch (error) {
    case ENOENT: return os::XmlResultFromOsError(os::kErrorFileNotFound);
    case ENOTDIR: return os::XmlResultFromOsError(3);  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EISDIR: return os::XmlResultFromOsError(os::kErrorAccessDenied);
    case EMFILE:
    case ENFILE: return os::XmlResultFromOsError(4);  // ERROR_TOO_MANY_OPEN_FILES
    case ENOMEM: return os::kXmlOutOfMemory;
    default: return os::kXmlFail;
  }
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

class Libxml2NodeReader final : public os::XmlNodeReader {
 public:
  explicit Libxml2NodeReader(int fd) : fd_(fd) {}
  Libxml2NodeReader(const Libxml2NodeReader&) = delete;
  Libxml2NodeReader& operator=(const Libxml2NodeReader&) = delete;
  ~Libxml2NodeReader() override {
    if (reader_ != nullptr) xmlFreeTextReader(reader_);
  }

  os::XmlResult Open(const std::string& path) {
    // No XML_PARSE_NOENT, DTDLOAD or DTDATTR: entities stay unexpanded and nothing outside
    // the file is loaded; NONET in case anything still tries.
    reader_ = xmlReaderForFd(fd_.get(), path.c_str(), nullptr, XML_PARSE_NONET);
    if (reader_ == nullptr) return os::kXmlOutOfMemory;
    xmlTextReaderSetStructuredErrorHandler(reader_, &Libxml2NodeReader::OnError, this);
    return os::kXmlOk;
  }

  os::XmlResult Read(os::XmlNode& node) override {
    if (os::XmlFailed(failure_)) return failure_;
    const int read = xmlTextReaderRead(reader_);
    // An error may arrive with a node that libxml2 still hands out: the document is bad anyway.
    if (os::XmlFailed(failure_)) return failure_;
    if (read == 0) return os::kXmlFalse;
    if (read < 0) return failure_ = os::kXmlFail;
    switch (xmlTextReaderNodeType(reader_)) {
      case XML_READER_TYPE_ELEMENT:
        // libxml2 allows one level more than the bound.
        if (xmlTextReaderDepth(reader_) >= static_cast<int>(os::kXmlMaxDepth)) {
          return failure_ = os::kXmlTooDeep;
        }
        node = {os::XmlNodeKind::ElementStart, xmlTextReaderIsEmptyElement(reader_) == 1};
        break;
      case XML_READER_TYPE_TEXT: {
        // libxml2 enforces the bound itself; a build with another bound must still agree.
        const xmlChar* text = xmlTextReaderConstValue(reader_);
        if (text != nullptr &&
            std::char_traits<char>::length(reinterpret_cast<const char*>(text)) >
                os::kXmlMaxTextLength) {
          return failure_ = os::kXmlFail;
        }
        node = {os::XmlNodeKind::Text, false};
        break;
      }
      case XML_READER_TYPE_END_ELEMENT: node = {os::XmlNodeKind::ElementEnd, false}; break;
      case XML_READER_TYPE_DOCUMENT_TYPE: return failure_ = os::kXmlDtdProhibited;
      default: node = {os::XmlNodeKind::Other, false}; break;
    }
    return os::kXmlOk;
  }

  os::XmlResult LocalName(std::string& name) override {
    return Copy(xmlTextReaderConstLocalName(reader_), name);
  }

  os::XmlResult Value(std::string& value) override {
    return Copy(xmlTextReaderConstValue(reader_), value);
  }

  os::XmlResult MoveToFirstAttribute() override {
    // libxml2 lists namespace declarations before the attributes; XmlLite keeps document
    // order. Skipping the declarations leaves both at the first real attribute.
    int moved = xmlTextReaderMoveToFirstAttribute(reader_);
    while (moved == 1 && xmlTextReaderIsNamespaceDecl(reader_) == 1) {
      moved = xmlTextReaderMoveToNextAttribute(reader_);
    }
    if (moved == 1) return os::kXmlOk;
    xmlTextReaderMoveToElement(reader_);
    return moved == 0 ? os::kXmlFalse : os::kXmlFail;
  }

 private:
  static void OnError(void* self, ErrorRecord error) {
    auto* reader = static_cast<Libxml2NodeReader*>(self);
    if (error != nullptr && error->level >= XML_ERR_ERROR && !os::XmlFailed(reader->failure_)) {
      reader->failure_ = FromLibxml2Error(error->code);
    }
  }

  static os::XmlResult Copy(const xmlChar* text, std::string& out) {
    if (text == nullptr) return os::kXmlFail;
    out = reinterpret_cast<const char*>(text);
    return os::kXmlOk;
  }

  FileDescriptor fd_;  // declared first: libxml2 reads it until the reader is freed
  xmlTextReaderPtr reader_ = nullptr;
  os::XmlResult failure_ = os::kXmlOk;
};

}  // namespace

Libxml2XmlReader::Libxml2XmlReader() { xmlInitParser(); }

os::XmlResult Libxml2XmlReader::OpenFile(std::string_view path,
                                         std::unique_ptr<os::XmlNodeReader>& reader) {
  const std::string file(path);
  xmlSetGenericErrorFunc(nullptr, &Silent);  // per thread: the one that reads
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  auto opened = std::make_unique<Libxml2NodeReader>(fd);
  const os::XmlResult result = opened->Open(file);
  if (os::XmlFailed(result)) return result;
  reader = std::move(opened);
  return os::kXmlOk;
}

}  // namespace orv::host
