// HTTP as a test scripts it: each exchange is recorded and answered by a handler.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "os/http_client.h"

namespace orv::fakes {

class FakeHttpClient final : public os::HttpClient {
 public:
  // Answers one request; false (with `error`) stands for a transport failure.
  using Handler = std::function<bool(const os::HttpRequest&, os::HttpResponse&, os::OsError&)>;

  bool IsAvailable() override { return available; }
  bool Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) override {
    std::lock_guard lock(mutex_);
    requests.push_back(request);
    if (!handler) {
      error = kCannotConnect;
      return false;
    }
    return handler(request, response, error);
  }

  static constexpr os::OsError kCannotConnect = 12029;  // the HTTP client's "cannot connect"

  bool available = true;
  Handler handler;  // none: every exchange fails as if the server were unreachable
  std::vector<os::HttpRequest> requests;

 private:
  std::mutex mutex_;
};

}  // namespace orv::fakes
