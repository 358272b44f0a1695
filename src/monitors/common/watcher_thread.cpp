#include "monitors/common/watcher_thread.h"

namespace orv {

bool WatcherThread::Start(os::Synchronization& sync, std::function<void(os::Event& stop)> body) {
  Stop();
  // Manual reset: every wait of the body sees the stop, none consumes it.
  std::shared_ptr<os::Event> stop = sync.NewEvent(os::EventReset::Manual, {}).take();
  if (!stop) return false;  // without a stop event the thread could never be ended
  thread_ = sync.StartThread([stop, body = std::move(body)] { body(*stop); }).take();
  if (!thread_) return false;
  stop_ = std::move(stop);
  return true;
}

bool WatcherThread::Stop() {
  bool ended = true;
  if (thread_) {
    stop_->Set();
    ended = thread_->Join(kStopWaitMs);
    thread_.reset();
  }
  stop_.reset();
  return ended;
}

}  // namespace orv
