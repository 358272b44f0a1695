// AgentCtrl_ConfigFile: the event definition file. It tells the agent which event-log entries
// to forward (by provider and event id, as which event code, with which message) and which
// event codes never to post.
//
// The file is XML, UTF-8 (the agent writes it with a byte order mark):
//   <config>
//     <ver>1.00</ver>
//     <addevent>
//       <logtype path="Application|System|...">
//         <log><src/><evt_id/><act_id/><msg/></log>   (each child once, any order)
//       </logtype>
//     </addevent>
//     <stopevent><act_id>%d</act_id>...</stopevent>
//   </config>
// Load does not build a tree: it keeps which of these element names are open and routes each
// text by them. So an element it knows, written as an empty-element tag (<log/>), never
// closes, and the file fails to load as incomplete.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/file_system.h"
#include "os/xml_reader.h"

namespace orv {

// One forwarding rule; every text exactly as the file has it.
struct EventDefinition {
  std::string src;     // event provider name
  std::string evt_id;  // event id, decimal
  std::string act_id;  // event code to post, decimal
  std::string msg;     // message to post

  bool operator==(const EventDefinition&) const = default;
};

class AgentCtrl_ConfigFile {
 public:
  // Load status values.
  static constexpr std::int32_t kLoaded = 1;
  static constexpr std::int32_t kNoFile = 2;        // no path set, or no file at it
  static constexpr std::int32_t kReaderFailed = 3;  // reader or stream not set up, node unreadable
  static constexpr std::int32_t kIncomplete = 4;    // malformed, unfinished, or without a version

  AgentCtrl_ConfigFile(os::FileSystem& files, os::XmlReader& xml) : files_(files), xml_(xml) {}

  void SetPath(std::string_view path) { path_ = path; }
  const std::string& GetPath() const { return path_; }

  // Reads the file at the path into empty tables. True exactly when the status ends as
  // kLoaded; on failure the status says why and the tables keep what was read before it.
  bool Load();

  std::int32_t GetLoadStatus() const { return loadStatus_; }
  // The result code of the last reader call (HRESULT-like; 1 after a clean end of document).
  std::int32_t GetLastResult() const { return lastResult_; }
  const std::string& GetVersion() const { return version_; }

  const std::vector<EventDefinition>& ApplicationDefinitions() const { return application_; }
  const std::vector<EventDefinition>& SystemDefinitions() const { return system_; }
  // Rules under any other log type: kept as read, used by nothing.
  const std::vector<EventDefinition>& OtherDefinitions() const { return other_; }
  // Event codes never to post, as the file writes them.
  const std::vector<std::string>& StopList() const { return stopList_; }

 private:
  bool Fail(std::int32_t status) {
    loadStatus_ = status;
    return false;
  }
  bool ReadNodes(os::XmlNodeReader& reader);

  os::FileSystem& files_;
  os::XmlReader& xml_;

  std::vector<EventDefinition> application_;
  std::vector<EventDefinition> system_;
  std::vector<EventDefinition> other_;
  std::vector<std::string> stopList_;
  std::int32_t lastResult_ = 0;
  std::int32_t loadStatus_ = 0;
  std::string path_;
  std::string version_;
};

}  // namespace orv
