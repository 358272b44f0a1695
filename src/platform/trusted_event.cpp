#include "platform/trusted_event.h"

#include <optional>
#include <string>

#include "os/object_security.h"
#include "platform/agent_event_ids.h"

namespace orv {

os::OsResult<os::Event> NewAgentNamedEvent(os::Synchronization& sync, const AgentEventLog& log,
                                           os::EventReset reset, std::string_view name) {
  std::optional<std::string> existingOwner;
  os::OsResult<os::Event> event = sync.NewSecuredEvent(reset, name, os::kSystemAndAdminsEvent, existingOwner);
  std::string owner;
  if (!event) {
    if (event.error() != os::kErrorAccessDenied) return event;
    owner = "?";
  } else if (existingOwner && *existingOwner != os::kSidLocalSystem &&
             *existingOwner != os::kSidAdministrators) {
    owner = existingOwner->empty() ? std::string("?") : *existingOwner;
  } else {
    return event;
  }
  log.Warning(event_id::kUntrustedNamedEvent,
              "名前付きイベント「" + std::string(name) + "」は別のユーザー (" + owner +
                  ") が作成したため使用しません。");
  return os::kErrorAccessDenied;
}

}  // namespace orv
