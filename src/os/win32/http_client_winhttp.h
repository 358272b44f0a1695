// HTTP exchanges over WinHTTP (Windows only).
#pragma once

#include "os/http_client.h"

namespace orv::win32 {

class WinHttpClient final : public os::HttpClient {
 public:
  bool IsAvailable() override;
  bool Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) override;
};

}  // namespace orv::win32
