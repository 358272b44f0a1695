// HTTP exchanges over WinHTTP (Windows only).
//
// One session, connection and request per exchange, closed in the reverse order of opening on
// every path. The system's proxy settings are never consulted: either the named proxy of the
// request or none at all.
//
// Each exchange runs on a thread of its own while the caller waits for it or for a cancel.
// Closing the handles of a synchronous WinHTTP call from another thread does not end the call
// everywhere (under Wine it goes on until the server lets go), so a cancel does not rely on it:
// the caller stops waiting at once, and the abandoned exchange ends by its own time-outs, owning
// everything it uses.
#include "os/win32/http_client_winhttp.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"
// <winhttp.h> needs the types of <windows.h>.
#include <winhttp.h>

namespace orv::win32 {

struct WinHttpClient::Exchanges {
  std::mutex mutex;
  bool cancelled = false;
  std::vector<HINTERNET> open;  // handles of exchanges in progress, oldest first
  UniqueKernelHandle cancelEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  // Takes `handle` into the open list; once cancelled it is closed instead (false).
  bool Track(HINTERNET handle) {
    std::lock_guard lock(mutex);
    if (cancelled) {
      ::WinHttpCloseHandle(handle);
      ::SetLastError(os::kErrorHttpCancelled);
      return false;
    }
    open.push_back(handle);
    return true;
  }
  // Closes `handle` unless a cancel already did: no handle is closed twice.
  void Close(HINTERNET handle) {
    std::lock_guard lock(mutex);
    const auto it = std::find(open.begin(), open.end(), handle);
    if (it == open.end()) return;
    open.erase(it);
    ::WinHttpCloseHandle(handle);
  }
  void Cancel() {
    std::lock_guard lock(mutex);
    cancelled = true;
    if (cancelEvent) ::SetEvent(cancelEvent.get());
    // Newest first, a request before its connection before its session: where closing ends a
    // blocked call, the abandoned exchange ends sooner.
    for (auto it = open.rbegin(); it != open.rend(); ++it) ::WinHttpCloseHandle(*it);
    open.clear();
  }
  bool Cancelled() {
    std::lock_guard lock(mutex);
    return cancelled;
  }
};

namespace {

// A handle of one exchange, closed when the exchange ends unless a cancel closed it first.
class TrackedHandle {
 public:
  TrackedHandle(WinHttpClient::Exchanges& exchanges, HINTERNET handle)
      : exchanges_(exchanges), handle_(handle != nullptr && exchanges.Track(handle) ? handle : nullptr) {}
  TrackedHandle(const TrackedHandle&) = delete;
  TrackedHandle& operator=(const TrackedHandle&) = delete;
  ~TrackedHandle() {
    if (handle_ != nullptr) exchanges_.Close(handle_);
  }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  WinHttpClient::Exchanges& exchanges_;
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

bool ExchangeOnce(WinHttpClient::Exchanges& client, const os::HttpRequest& request, os::HttpResponse& response,
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

// One exchange's inputs and results, shared by the caller and the thread that runs it.
struct ExchangeJob {
  os::HttpRequest request;
  os::HttpResponse response;
  os::OsError error = os::kSuccess;
  bool answered = false;
  UniqueKernelHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

void RunJob(WinHttpClient::Exchanges& exchanges, ExchangeJob& job) {
  try {
    job.answered = ExchangeOnce(exchanges, job.request, job.response, job.error);
  } catch (const std::bad_alloc&) {
    job.answered = false;
    job.error = ERROR_NOT_ENOUGH_MEMORY;
  }
}

// Beyond the deadline, the steps before the body each have their own bound; a job still running
// after all of them has stopped answering to any of them.
constexpr DWORD kJobGraceMs = kResolveTimeoutMs + kConnectTimeoutMs + kSendTimeoutMs + kReceiveTimeoutMs;

}  // namespace

WinHttpClient::WinHttpClient() : exchanges_(std::make_shared<Exchanges>()) {}

WinHttpClient::~WinHttpClient() = default;

bool WinHttpClient::IsAvailable() { return ::WinHttpCheckPlatform() != FALSE; }

bool WinHttpClient::Exchange(const os::HttpRequest& request, os::HttpResponse& response, os::OsError& error) {
  error = os::kSuccess;
  response = {};
  std::shared_ptr<ExchangeJob> job;
  try {
    job = std::make_shared<ExchangeJob>();
    job->request = request;
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  bool started = false;
  if (job->done && exchanges_->cancelEvent) {
    try {
      std::thread([job, exchanges = exchanges_] {
        RunJob(*exchanges, *job);
        ::SetEvent(job->done.get());
      }).detach();
      started = true;
    } catch (const std::system_error&) {
      // No thread to spare: the exchange runs here, bounded by its own time-outs.
    }
  }
  if (!started) {
    RunJob(*exchanges_, *job);
  } else {
    const HANDLE waits[] = {job->done.get(), exchanges_->cancelEvent.get()};
    const DWORD bound = request.deadlineMs > MAXDWORD - kJobGraceMs - 1 ? MAXDWORD - 1 : request.deadlineMs + kJobGraceMs;
    const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, bound);
    if (woken != WAIT_OBJECT_0) {
      // Cancelled or past every bound: the job is left to end on its own.
      error = woken == WAIT_OBJECT_0 + 1 ? os::kErrorHttpCancelled : os::kErrorHttpTimeout;
      return false;
    }
  }
  // Whatever a handle closed under a call reported (invalid handle, a broken connection), the
  // exchange was cancelled.
  if (!job->answered) {
    error = exchanges_->Cancelled() ? os::kErrorHttpCancelled : job->error;
    return false;
  }
  response = std::move(job->response);
  return true;
}

void WinHttpClient::CancelExchanges() { exchanges_->Cancel(); }

}  // namespace orv::win32
