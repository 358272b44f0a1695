// HTTP exchanges over WinHTTP (Windows only).
#pragma once

#include <mutex>
#include <vector>

#include "os/http_client.h"

namespace orv::win32 {

class WinHttpClient final : public os::HttpClient {
 public:
  bool IsAvailable() override;
  bool Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) override;
  void CancelExchanges() override;

  // The handles of exchanges in progress (HINTERNET), so that CancelExchanges can close them
  // from its own thread: whoever closes a handle first takes it out, so none is closed twice.
  // Track refuses (and closes) a handle once cancelled.
  bool Track(void* handle);
  void Close(void* handle);

 private:
  std::mutex mutex_;
  bool cancelled_ = false;
  std::vector<void*> open_;
};

}  // namespace orv::win32
