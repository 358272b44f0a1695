#include "monitors/common/drive_watcher.h"

#include <memory>
#include <string>

#include "model/act_ids.h"
#include "platform/wmi_base.h"

namespace orv {
namespace {

}  // namespace

void AgentCtrl_COMMON_EventSink::Indicate(std::span<os::WmiObject* const> objects) {
  for (os::WmiObject* object : objects) {
    std::string eventClass;
    (void)object->GetText("__CLASS", eventClass);
    os::WmiResult result = os::kWmiOk;
    const std::unique_ptr<os::WmiObject> drive = object->GetEmbedded("TargetInstance", result);
    std::string caption;
    if (drive) (void)drive->GetText("Caption", caption);
    // Virtual disks come and go with backups and images; only this object is skipped, so that
    // a real drive delivered in the same call is still reported.
    if (caption.find("Microsoft Virtual Disk") != std::string::npos) continue;

    std::int32_t actId = 0;
    const char* what = nullptr;
    if (eventClass == "__InstanceCreationEvent") {
      actId = act_id::kDriveConnected;
      what = "が接続されました。";
    } else if (eventClass == "__InstanceDeletionEvent") {
      actId = act_id::kDriveRemoved;
      what = "が取り外されました。";
    } else {
      continue;  // a drive's properties changed
    }
    AgentEvent event(actId, clock_);
    event.act_para = caption;
    event.msg = caption + what;
    queue_.Post(event);
  }
}

void RunDriveWatcher(const os::OsPorts& os, os::Event& stop, EventQueue& queue) {
  WmiBase wmi(os.wmi);
  std::unique_ptr<os::WmiSubscription> subscription;
  // Without the query there is nothing to watch: the watcher ends at once, so its thread and
  // WMI connection are not held for the whole run only to wait for a stop that then finds it
  // ended.
  if (!wmi.Subscribe(kDriveEventQuery, std::make_shared<AgentCtrl_COMMON_EventSink>(os.clock, queue), subscription)) {
    return;
  }
  os::Event* const stopOnly[] = {&stop};
  (void)os.sync.WaitAny(stopOnly, os::kInfinite);
  subscription.reset();  // cancelled while the connection and COM still stand
}

}  // namespace orv
