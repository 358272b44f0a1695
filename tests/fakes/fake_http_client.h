// HTTP as a test scripts it: each exchange is recorded and answered by a handler.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "os/http_client.h"

namespace orv::fakes {

class FakeHttpClient final : public os::HttpClient {
 public:
  // Answers one request; false (with `error`) stands for a transport failure.
  using Handler = std::function<bool(const os::HttpRequest&, os::HttpResponse&, os::OsError&)>;

  bool IsAvailable() override { return true; }
  bool Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) override {
    std::lock_guard lock(mutex_);
    requests.push_back(request);
    if (IsCancelled()) {
      error = os::kErrorHttpCancelled;
      return false;
    }
    if (!handler) {
      error = kCannotConnect;
      return false;
    }
    if (handler(request, response, error) && !IsCancelled()) return true;
    if (IsCancelled()) error = os::kErrorHttpCancelled;
    return false;
  }
  void ClearRecords() {
    std::lock_guard lock(mutex_);
    requests = {};
  }
  void CancelExchanges() override {
    std::lock_guard lock(cancelMutex_);
    cancelled_ = true;
    cancelledChanged_.notify_all();
  }

  // For a handler playing a server that never answers: returns once the exchange is cancelled,
  // or after `bound` (real time), so a test that forgets to cancel still ends.
  void HangUntilCancelled(std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    std::unique_lock lock(cancelMutex_);
    cancelledChanged_.wait_for(lock, bound, [this] { return cancelled_; });
  }
  bool IsCancelled() {
    std::lock_guard lock(cancelMutex_);
    return cancelled_;
  }

  static constexpr os::OsError kCannotConnect = 12029;  // the HTTP client's "cannot connect"

  Handler handler;  // none: every exchange fails as if the server were unreachable
  std::vector<os::HttpRequest> requests;

 private:
  std::mutex mutex_;
  std::mutex cancelMutex_;
  std::condition_variable cancelledChanged_;
  bool cancelled_ = false;
};

}  // namespace orv::fakes
