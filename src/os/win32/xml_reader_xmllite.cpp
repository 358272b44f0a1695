#include "os/win32/xml_reader_xmllite.h"

// clang-format off
#include "os/win32/windows_api.h"
#include <ole2.h>
#include <shlwapi.h>
#include <xmllite.h>
// clang-format on

#include "os/win32/com_owners.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

os::XmlResult LastErrorResult() {
  const DWORD error = ::GetLastError();
  return error != 0 ? os::XmlResultFromOsError(error) : os::kXmlFail;
}

bool IsNamespaceDeclaration(IXmlReader& reader) {
  const wchar_t* prefix = nullptr;
  UINT prefixLength = 0;
  const wchar_t* name = nullptr;
  UINT nameLength = 0;
  if (FAILED(reader.GetPrefix(&prefix, &prefixLength)) ||
      FAILED(reader.GetLocalName(&name, &nameLength))) {
    return false;
  }
  const std::wstring_view prefixText(prefix, prefixLength);
  return prefixText == L"xmlns" ||
         (prefixText.empty() && std::wstring_view(name, nameLength) == L"xmlns");
}

class XmlLiteNodeReader final : public os::XmlNodeReader {
 public:
  os::XmlResult Open(std::string_view path) {
    module_.reset(::LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module_) return LastErrorResult();
    const FARPROC proc = ::GetProcAddress(module_.get(), "CreateXmlReader");
    if (proc == nullptr) return LastErrorResult();
    // Through void(*)(): the one function pointer type GCC lets us cast to any other.
    const auto create =
        reinterpret_cast<CreateXmlReaderFunction>(reinterpret_cast<void (*)()>(proc));

    IXmlReader* reader = nullptr;
    HRESULT hr = create(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader), nullptr);
    if (FAILED(hr)) return hr;
    reader_.reset(reader);
    // A file from outside must not expand entities: a DTD is an error. The depth bound
    // keeps a hostile nesting from growing the reader's element stack.
    hr = reader_.get()->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    if (FAILED(hr)) return hr;
    // Our own bound below decides; XmlLite's (Wine's allows one less than set) must not cut first.
    hr = reader_.get()->SetProperty(XmlReaderProperty_MaxElementDepth, os::kXmlMaxDepth + 2);
    if (FAILED(hr)) return hr;

    IStream* stream = nullptr;
    hr = ::SHCreateStreamOnFileW(Wide(path).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, &stream);
    if (FAILED(hr)) return hr;
    stream_.reset(stream);
    return reader_.get()->SetInput(stream_.get());
  }

  os::XmlResult Read(os::XmlNode& node) override {
    if (FAILED(failure_)) return failure_;
    XmlNodeType type = XmlNodeType_None;
    const HRESULT hr = reader_.get()->Read(&type);
    if (FAILED(hr)) return failure_ = hr;
    if (hr != S_OK) return os::kXmlFalse;
    switch (type) {
      case XmlNodeType_Element: {
        if (openElements_ >= os::kXmlMaxDepth) return failure_ = os::kXmlTooDeep;
        lastPlace_ = Place();
        const bool empty = reader_.get()->IsEmptyElement() != FALSE;
        if (!empty) ++openElements_;
        node = {os::XmlNodeKind::ElementStart, empty};
        break;
      }
      case XmlNodeType_Text:
      case XmlNodeType_Whitespace: {
        const std::wstring_view text = CurrentValue();
        // Wine's XmlLite, given a document cut off after whitespace, hands out empty
        // whitespace nodes forever instead of failing; no real text node is empty.
        if (text.empty()) return failure_ = static_cast<HRESULT>(MX_E_INPUTEND);
        if (TextTooLong(text)) return failure_ = os::kXmlFail;
        if (type == XmlNodeType_Text) lastPlace_ = Place();  // Wine misplaces whitespace
        node = {type == XmlNodeType_Text ? os::XmlNodeKind::Text : os::XmlNodeKind::Other, false};
        break;
      }
      case XmlNodeType_EndElement: {
        // Wine's XmlLite, given a document cut off after an end tag, makes up end tags for
        // every open element and reports a clean end: a truncated file would load. Each
        // made-up one sits where its start tag was, behind the node before it; a real end
        // tag always comes after.
        const std::uint64_t place = Place();
        if (place <= lastPlace_) return failure_ = static_cast<HRESULT>(MX_E_INPUTEND);
        lastPlace_ = place;
        if (openElements_ > 0) --openElements_;
        node = {os::XmlNodeKind::ElementEnd, false};
        break;
      }
      // Prohibit makes XmlLite fail on a DTD already; should one slip through, still refuse it.
      case XmlNodeType_DocumentType: return failure_ = os::kXmlDtdProhibited;
      default: node = {os::XmlNodeKind::Other, false}; break;
    }
    return os::kXmlOk;
  }

  os::XmlResult LocalName(std::string& name) override {
    const wchar_t* text = nullptr;
    UINT length = 0;
    const HRESULT hr = reader_.get()->GetLocalName(&text, &length);
    if (FAILED(hr)) return hr;
    name = Narrow(std::wstring_view(text, length));
    return os::kXmlOk;
  }

  os::XmlResult Value(std::string& value) override {
    const wchar_t* text = nullptr;
    UINT length = 0;
    const HRESULT hr = reader_.get()->GetValue(&text, &length);
    if (FAILED(hr)) return hr;
    value = Narrow(std::wstring_view(text, length));
    return os::kXmlOk;
  }

  os::XmlResult MoveToFirstAttribute() override {
    IXmlReader& reader = *reader_.get();
    HRESULT hr = reader.MoveToFirstAttribute();
    while (hr == S_OK && IsNamespaceDeclaration(reader)) hr = reader.MoveToNextAttribute();
    if (hr == S_OK) return os::kXmlOk;
    reader.MoveToElement();
    return FAILED(hr) ? hr : os::kXmlFalse;
  }

 private:
  // Where the current node is, as one number that grows through the document.
  std::uint64_t Place() {
    UINT line = 0;
    UINT position = 0;
    reader_.get()->GetLineNumber(&line);
    reader_.get()->GetLinePosition(&position);
    return (std::uint64_t{line} << 32) | position;
  }

  std::wstring_view CurrentValue() {
    const wchar_t* text = nullptr;
    UINT length = 0;
    if (FAILED(reader_.get()->GetValue(&text, &length)) || text == nullptr) return {};
    return {text, length};
  }

  // libxml2's bound on a text node, in UTF-8 bytes; XmlLite has none.
  static bool TextTooLong(std::wstring_view text) {
    if (text.size() <= os::kXmlMaxTextLength / 3) return false;  // no UTF-16 unit is over 3 bytes
    std::size_t bytes = 0;
    for (const wchar_t unit : text) {
      bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : (unit >= 0xD800 && unit < 0xE000) ? 2 : 3;
    }
    return bytes > os::kXmlMaxTextLength;
  }

  // Released in reverse order: the reader before its stream, both before the DLL.
  UniqueModule module_;
  UniqueCom<IStream> stream_;
  UniqueCom<IXmlReader> reader_;
  HRESULT failure_ = S_OK;
  std::uint32_t openElements_ = 0;  // counted here: Wine's GetDepth is off by one at ends
  std::uint64_t lastPlace_ = 0;     // of the last element, end tag or text
};

}  // namespace

os::XmlResult XmlLiteReader::OpenFile(std::string_view path,
                                      std::unique_ptr<os::XmlNodeReader>& reader) {
  auto opened = std::make_unique<XmlLiteNodeReader>();
  const os::XmlResult result = opened->Open(path);
  if (os::XmlFailed(result)) return result;
  reader = std::move(opened);
  return os::kXmlOk;
}

}  // namespace orv::win32
