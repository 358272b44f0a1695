// HTTP exchanges over WinHTTP (Windows only).
//
// One session, connection and request per exchange, closed in the reverse order of opening on
// every path. The system's proxy settings are never consulted: either the named proxy of the
// request or none at all.
#include "os/win32/http_client_winhttp.h"

#include <algorithm>
#include <new>
#include <string>

#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"
// <winhttp.h> needs the types of <windows.h>.
#include <winhttp.h>

namespace orv::win32 {

namespace {

// A handle of one exchange, closed when the exchange ends unless a cancel closed it first.
class TrackedHandle {
 public:
  TrackedHandle(WinHttpClient& client, HINTERNET handle)
      : client_(client), handle_(handle != nullptr && client.Track(handle) ? handle : nullptr) {}
  TrackedHandle(const TrackedHandle&) = delete;
  TrackedHandle& operator=(const TrackedHandle&) = delete;
  ~TrackedHandle() {
    if (handle_ != nullptr) client_.Close(handle_);
  }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  WinHttpClient& client_;
  HINTERNET handle_;
};

// Time-outs of the agent's own: WinHTTP's defaults leave name resolution unbounded, and the
// agent's main thread, which also runs every monitoring round, must come back from a dead or
// stalled server. Each bound applies per step; every read of the body has its own receive bound,
// so a server that keeps trickling bytes is bounded only by the body limit below.
constexpr int kResolveTimeoutMs = 30'000;
constexpr int kConnectTimeoutMs = 30'000;
constexpr int kSendTimeoutMs = 60'000;
constexpr int kReceiveTimeoutMs = 60'000;

// An answer larger than this is refused rather than allowed to exhaust memory; update packages
// are a small fraction of it.
constexpr std::size_t kMaxBodyBytes = 512u * 1024u * 1024u;

bool Fail(os::OsError& error) {
  error = ::GetLastError();
  if (error == os::kSuccess) error = os::kErrorInvalidData;  // a failure must never read as success
  return false;
}

bool SetTextOption(HINTERNET request, DWORD option, const std::string& text, os::OsError& error) {
  std::wstring wide = Wide(text);
  if (!::WinHttpSetOption(request, option, wide.data(), static_cast<DWORD>(wide.size()))) return Fail(error);
  return true;
}

bool ReadBody(HINTERNET request, ULONGLONG deadline, std::vector<std::uint8_t>& body, os::OsError& error) {
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
      error = os::kErrorHttpTimeout;
      return false;
    }
    // No single read may wait past the deadline either.
    DWORD receiveMs = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kReceiveTimeoutMs));
    if (!::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs)) {
      return Fail(error);
    }
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request, &available)) return Fail(error);
    if (available == 0) return true;
    if (available > kMaxBodyBytes - body.size()) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
    const std::size_t start = body.size();
    body.resize(start + available);
    DWORD read = 0;
    if (!::WinHttpReadData(request, body.data() + start, available, &read)) return Fail(error);
    body.resize(start + read);
    if (read == 0) return true;
  }
}

bool ExchangeOnce(WinHttpClient& client, const os::HttpRequest& request, os::HttpResponse& response,
                  os::OsError& error) {
  const ULONGLONG deadline = ::GetTickCount64() + request.deadlineMs;
  const std::wstring agent = Wide(request.userAgent);
  const std::wstring proxy = Wide(request.proxy.server);
  TrackedHandle session(
      client,
      proxy.empty()
          ? ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
          : ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Fail(error);
  if (!::WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                            kReceiveTimeoutMs)) {
    return Fail(error);
  }

  const std::wstring host = Wide(request.host);
  TrackedHandle connection(client, ::WinHttpConnect(session.get(), host.c_str(), request.port, 0));
  if (!connection) return Fail(error);

  const std::wstring method = Wide(request.method);
  const std::wstring path = Wide(request.path);
  TrackedHandle handle(client, ::WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    request.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!handle) return Fail(error);

  if (!request.proxy.server.empty()) {
    if (!request.proxy.user.empty() &&
        !SetTextOption(handle.get(), WINHTTP_OPTION_PROXY_USERNAME, request.proxy.user, error)) {
      return false;
    }
    if (!request.proxy.password.empty() &&
        !SetTextOption(handle.get(), WINHTTP_OPTION_PROXY_PASSWORD, request.proxy.password, error)) {
      return false;
    }
  }

  if (request.body.size() > 0xFFFFFFFFu) {
    error = os::kErrorInvalidParameter;
    return false;
  }
  const std::wstring headers = Wide(request.headers);
  const auto bodySize = static_cast<DWORD>(request.body.size());
  // WinHTTP takes the body as writable memory but only reads it.
  void* body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA
                                    : const_cast<std::uint8_t*>(request.body.data());
  if (!::WinHttpSendRequest(handle.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(headers.size()), body, bodySize, bodySize,
                            0)) {
    return Fail(error);
  }
  if (!::WinHttpReceiveResponse(handle.get(), nullptr)) return Fail(error);

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Fail(error);
  }
  response.status = status;
  response.body.clear();
  return ReadBody(handle.get(), deadline, response.body, error);
}

}  // namespace

bool WinHttpClient::IsAvailable() { return ::WinHttpCheckPlatform() != FALSE; }

bool WinHttpClient::Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) {
  error = os::kSuccess;
  try {
    if (ExchangeOnce(*this, request, response, error)) return true;
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  // Whatever a handle closed under a call reported (invalid handle, a broken connection), the
  // exchange was cancelled.
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) error = os::kErrorHttpCancelled;
  }
  response = {};
  return false;
}

bool WinHttpClient::Track(void* handle) {
  std::lock_guard lock(mutex_);
  if (cancelled_) {
    ::WinHttpCloseHandle(handle);
    ::SetLastError(os::kErrorHttpCancelled);
    return false;
  }
  open_.push_back(handle);
  return true;
}

void WinHttpClient::Close(void* handle) {
  std::lock_guard lock(mutex_);
  const auto it = std::find(open_.begin(), open_.end(), handle);
  if (it == open_.end()) return;  // closed by a cancel
  open_.erase(it);
  ::WinHttpCloseHandle(handle);
}

void WinHttpClient::CancelExchanges() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  // Newest first: a request before its connection before its session. Closing a request handle
  // is what ends a call blocked on it in another thread.
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) ::WinHttpCloseHandle(*it);
  open_.clear();
}

}  // namespace orv::win32
