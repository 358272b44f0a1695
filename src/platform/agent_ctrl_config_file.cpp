#include "platform/agent_ctrl_config_file.h"

#include <array>
#include <memory>
#include <utility>

namespace orv {
namespace {

// The known elements, one bit each while open.
enum OpenElement : std::uint32_t {
  kConfig = 1,
  kVer = 2,
  kAddEvent = 4,
  kStopEvent = 8,
  kLogType = 16,
  kLog = 32,
  kSrc = 64,
  kEvtId = 128,
  kActId = 256,
  kMsg = 512,
};

constexpr std::array<std::pair<std::string_view, std::uint32_t>, 10> kKnownElements{{
    {"config", kConfig},
    {"ver", kVer},
    {"addevent", kAddEvent},
    {"stopevent", kStopEvent},
    {"logtype", kLogType},
    {"log", kLog},
    {"src", kSrc},
    {"evt_id", kEvtId},
    {"act_id", kActId},
    {"msg", kMsg},
}};

std::uint32_t FlagOf(std::string_view name) {
  for (const auto& [known, flag] : kKnownElements) {
    if (name == known) return flag;
  }
  return 0;
}

// The log type a rule is filed under; 0 outside any logtype (its rules are dropped).
enum LogType : int { kNoLogType = 0, kApplication = 1, kSystem = 2, kOtherLogType = 4 };

// The type a <logtype> element's attributes give: only a first attribute named path decides;
// anything else keeps `current`. `last` receives the reader's last answer.
int LogTypeOf(os::XmlNodeReader& reader, int current, std::int32_t& last) {
  std::string name;
  std::string value;
  if ((last = reader.MoveToFirstAttribute()) != os::kXmlOk) return current;
  if ((last = reader.LocalName(name)) != os::kXmlOk || name != "path") return current;
  if ((last = reader.Value(value)) != os::kXmlOk) return current;
  return value == "Application" ? kApplication : value == "System" ? kSystem : kOtherLogType;
}

}  // namespace

bool AgentCtrl_ConfigFile::Load() {
  lastResult_ = 0;
  loadStatus_ = kLoaded;
  version_.clear();
  application_.clear();
  system_.clear();
  other_.clear();
  stopList_.clear();

  if (path_.empty() || !files_.FileExists(path_)) return Fail(kNoFile);

  std::unique_ptr<os::XmlNodeReader> reader;
  lastResult_ = xml_.OpenFile(path_, reader);
  if (os::XmlFailed(lastResult_) || reader == nullptr) return Fail(kReaderFailed);
  return ReadNodes(*reader);
}

bool AgentCtrl_ConfigFile::ReadNodes(os::XmlNodeReader& reader) {
  std::uint32_t open = 0;
  int logType = kNoLogType;
  EventDefinition rule;
  std::string name;
  std::string text;

  os::XmlNode node;
  while ((lastResult_ = reader.Read(node)) == os::kXmlOk) {
    switch (node.kind) {
      case os::XmlNodeKind::ElementStart: {
        lastResult_ = reader.LocalName(name);
        if (os::XmlFailed(lastResult_)) return Fail(kReaderFailed);
        const std::uint32_t flag = FlagOf(name);
        open |= flag;
        if (flag == kLogType) {
          logType = LogTypeOf(reader, logType, lastResult_);
        } else if (flag == kLog) {
          rule = {};
        }
        break;
      }
      case os::XmlNodeKind::Text: {
        lastResult_ = reader.Value(text);
        if (os::XmlFailed(lastResult_)) return Fail(kReaderFailed);
        if ((open & kVer) != 0) {
          version_ = text;
        } else if ((open & kStopEvent) != 0) {
          if ((open & kActId) != 0) stopList_.push_back(text);
        } else if ((open & kAddEvent) != 0) {
          if ((open & kSrc) != 0) {
            rule.src = text;
          } else if ((open & kEvtId) != 0) {
            rule.evt_id = text;
          } else if ((open & kActId) != 0) {
            rule.act_id = text;
          } else if ((open & kMsg) != 0) {
            rule.msg = text;
          }
        }
        break;
      }
      case os::XmlNodeKind::ElementEnd: {
        lastResult_ = reader.LocalName(name);
        if (os::XmlFailed(lastResult_)) return Fail(kReaderFailed);
        const std::uint32_t flag = FlagOf(name);
        open &= ~flag;
        if (flag == kLogType) {
          logType = kNoLogType;
        } else if (flag == kLog) {
          if (logType == kApplication) {
            application_.push_back(rule);
          } else if (logType == kSystem) {
            system_.push_back(rule);
          } else if (logType == kOtherLogType) {
            other_.push_back(rule);
          }
        }
        break;
      }
      case os::XmlNodeKind::Other:
        break;
    }
  }

  // A reader error is never a clean end, even when every known element was closed before it:
  // what follows the error (a second document element, say) was not read.
  if (os::XmlFailed(lastResult_)) return Fail(kIncomplete);
  if (open != 0 || version_.empty()) return Fail(kIncomplete);
  return true;
}

}  // namespace orv
