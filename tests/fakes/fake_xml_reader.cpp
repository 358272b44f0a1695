#include "fakes/fake_xml_reader.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

namespace orv::fakes {

os::XmlResult FakeXmlReader::OpenFile(std::string_view path,
                                      std::unique_ptr<os::XmlNodeReader>& reader) {
  namespace fs = std::filesystem;
  if (openError != os::kSuccess) return os::XmlResultFromOsError(openError);
  std::error_code ignored;
  const auto content = files_.Content(path);
  if (!content || fs::is_regular_file(fs::path(path), ignored)) return real_.OpenFile(path, reader);

  static std::atomic<int> counter{0};
  const fs::path copy = fs::temp_directory_path() / ("orv_fake_xml_" + std::to_string(::getpid()) +
                                                     "_" + std::to_string(counter++) + ".xml");
  std::ofstream(copy, std::ios::binary)
      .write(content->data(), static_cast<std::streamsize>(content->size()));
  const os::XmlResult result = real_.OpenFile(copy.string(), reader);
  // The reader holds the file open; the name is not needed any more.
  fs::remove(copy, ignored);
  return result;
}

}  // namespace orv::fakes
