// Loads arbitrary bytes as the event definition file: the file comes from the cloud, so no
// content may crash the reader, loop, or end in a status outside 1..4; and nothing may load
// without a version.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/agent_ctrl_config_file.h"
#include "os/host/xml_reader_libxml2.h"

namespace {

// Every file exists: the input is always there to read.
class PresentFiles final : public orv::os::FileSystem {
 public:
  bool FileExists(std::string_view) override { return true; }
  bool DirectoryExists(std::string_view) override { return false; }
  bool IsLink(std::string_view) override { return false; }
  orv::os::OsError MakeDirectory(std::string_view) override { return 5; }
  orv::os::OsError WriteWholeFile(std::string_view, std::span<const std::uint8_t>, orv::os::CreateMode) override { return 5; }
  orv::os::OsError ReadWholeFile(std::string_view, std::vector<std::uint8_t>&) override { return 5; }
  orv::os::OsError ListDirectory(std::string_view, std::vector<orv::os::FileEntry>&) override { return 5; }
  orv::os::OsError RemoveFile(std::string_view) override { return 5; }
  orv::os::OsError RemoveEmptyDirectory(std::string_view) override { return 5; }
  orv::os::OsError WriteNewSecuredFile(std::string_view, std::span<const std::uint8_t>, std::string_view) override {
    return 5;
  }
  orv::os::OsError ReplaceWith(std::string_view, std::string_view) override { return 5; }
  orv::os::OsError MakePrivateDirectory(std::string_view) override { return 5; }
  orv::os::OsResult<orv::os::HeldPath> HoldPath(std::string_view) override { return 5; }
  orv::os::OsResult<orv::os::ReadHold> HoldForReading(std::string_view) override { return 5; }
};

const std::string& InputPath() {
  // Rewriting a file on a disk costs milliseconds; in memory it costs microseconds.
  static const std::string path = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/orv_config_fuzz_" + std::to_string(::getpid()) + ".xml";
  static const bool removedAtExit = std::atexit([] { std::remove(path.c_str()); }) == 0;
  (void)removedAtExit;
  return path;
}

// Raw bytes rarely spell the definition file's names; with an odd first byte each further byte
// picks a token instead, so the fuzzer reaches the routing of texts and rules quickly.
constexpr std::string_view kTokens[] = {
    "<config>", "</config>", "<ver>", "</ver>", "1.00", "<addevent>", "</addevent>",
    "<stopevent>", "</stopevent>", "<logtype path=\"Application\">", "<logtype path=\"System\">",
    "<logtype path=\"x\">", "<logtype id=\"1\">", "</logtype>", "<log>", "</log>", "<log/>",
    "<src>", "</src>", "<evt_id>", "</evt_id>", "<act_id>", "</act_id>", "<msg>", "</msg>",
    "text", " ", "&amp;", "<![CDATA[c]]>", "<!--c-->", "<x/>", "<?pi?>", "\xEF\xBB\xBF",
    "<?xml version=\"1.0\"?>", "<!DOCTYPE config>", "<", "&", "\xFF",
};

std::string Document(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || data[0] % 2 == 0) return std::string(reinterpret_cast<const char*>(data), size);
  std::string text;
  for (std::size_t i = 1; i < size; ++i) text += kTokens[data[i] % std::size(kTokens)];
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string document = Document(data, size);
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (std::fwrite(document.data(), 1, document.size(), file) != document.size()) std::abort();
  std::fclose(file);

  static PresentFiles files;
  static orv::host::Libxml2XmlReader xml;
  orv::AgentCtrl_ConfigFile config(files, xml);
  config.SetPath(InputPath());

  const bool loaded = config.Load();
  const std::int32_t status = config.GetLoadStatus();
  if (status < 1 || status > 4 || loaded != (status == 1)) std::abort();
  if (loaded && config.GetVersion().empty()) std::abort();

  // A second load of the same bytes starts from empty tables and ends the same way.
  const auto rules = [&config] {
    return config.ApplicationDefinitions().size() + config.SystemDefinitions().size() +
           config.OtherDefinitions().size() + config.StopList().size();
  };
  const auto first = rules();
  if (config.Load() != loaded || config.GetLoadStatus() != status || (loaded && rules() != first)) std::abort();
  return 0;
}
