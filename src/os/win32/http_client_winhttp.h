// HTTP exchanges over WinHTTP (Windows only).
#pragma once

#include <memory>

#include "os/http_client.h"

namespace orv::win32 {

class WinHttpClient final : public os::HttpClient {
 public:
  WinHttpClient();
  ~WinHttpClient() override;
  bool IsAvailable() override;
  bool Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) override;
  void CancelExchanges() override;

  // What exchanges in progress and a cancel share; exchanges that a cancel abandoned keep it
  // alive until they end.
  struct Exchanges;

 private:
  std::shared_ptr<Exchanges> exchanges_;
};

}  // namespace orv::win32
