// HTTP exchanges over WinHTTP (Windows only). Stub until the real adapter lands.
#include "os/win32/http_client_winhttp.h"

namespace orv::win32 {

bool WinHttpClient::IsAvailable() { return false; }

bool WinHttpClient::Exchange(const os::HttpRequest&, os::HttpResponse&, os::OsError& error) {
  error = os::kErrorNotSupported;
  return false;
}

}  // namespace orv::win32
