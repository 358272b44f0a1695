#include "os/win32/named_pipe_win32.h"

#include <algorithm>

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {
namespace {

using UniquePipe = UniqueHandle<FileHandleTraits>;

// Finishes one overlapped operation within `timeoutMs`. On time-out the operation is cancelled
// and waited for, so the buffer and the OVERLAPPED block never outlive the call.
os::OsError FinishOverlapped(HANDLE pipe, OVERLAPPED& overlapped, BOOL started,
                             std::uint32_t timeoutMs, DWORD& transferred) {
  if (!started) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return error;
    if (::WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
      ::CancelIoEx(pipe, &overlapped);
      ::GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
      return os::kErrorSemTimeout;
    }
  }
  if (!::GetOverlappedResult(pipe, &overlapped, &transferred, FALSE)) return ::GetLastError();
  return os::kSuccess;
}

// The reads and writes both ends share.
class PipeIo {
 public:
  PipeIo(UniquePipe pipe, UniqueKernelHandle ioEvent)
      : pipe_(std::move(pipe)), ioEvent_(std::move(ioEvent)) {}

  os::OsError Write(std::span<const std::uint8_t> data) {
    if (data.size() > 0xFFFFFFFFu) return os::kErrorInvalidParameter;
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.get();
    DWORD written = 0;
    const BOOL started = ::WriteFile(pipe_.get(), data.data(), static_cast<DWORD>(data.size()),
                                     nullptr, &overlapped);
    // A peer that never reads cannot hold the writer: byte pipes take a record this size at once.
    const os::OsError error = FinishOverlapped(pipe_.get(), overlapped, started, 10000, written);
    if (error != os::kSuccess) return error;
    return written == data.size() ? os::kSuccess : os::kErrorNoData;
  }

  os::OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                   std::uint32_t timeoutMs) {
    std::vector<std::uint8_t> buffer(std::min<std::size_t>(maxBytes, 0x10000));
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.get();
    DWORD read = 0;
    const BOOL started = ::ReadFile(pipe_.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                    nullptr, &overlapped);
    const os::OsError error = FinishOverlapped(pipe_.get(), overlapped, started, timeoutMs, read);
    if (error != os::kSuccess && error != ERROR_MORE_DATA) return error;
    buffer.resize(read);
    out = std::move(buffer);
    return os::kSuccess;
  }

 private:
  friend class Win32PipeServer;
  UniquePipe pipe_;
  UniqueKernelHandle ioEvent_;
};

class Win32PipeServer final : public os::PipeServer {
 public:
  Win32PipeServer(UniquePipe pipe, UniqueKernelHandle ioEvent)
      : io_(std::move(pipe), std::move(ioEvent)) {}
  ~Win32PipeServer() override { Disconnect(); }

  os::OsError WaitForClient(std::uint32_t timeoutMs) override {
    if (connected_) return os::kSuccess;
    OVERLAPPED overlapped{};
    overlapped.hEvent = io_.ioEvent_.get();
    if (::ConnectNamedPipe(io_.pipe_.get(), &overlapped)) {
      connected_ = true;
      return os::kSuccess;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
      connected_ = true;
      return os::kSuccess;
    }
    if (error != ERROR_IO_PENDING) return error;
    ::SetLastError(ERROR_IO_PENDING);
    DWORD unused = 0;
    const os::OsError result =
        FinishOverlapped(io_.pipe_.get(), overlapped, FALSE, timeoutMs, unused);
    if (result == os::kSuccess) connected_ = true;
    return result;
  }

  void Disconnect() override {
    if (!connected_) return;
    // No FlushFileBuffers: it waits until the client has read everything, without a time-out,
    // so a client that never reads its answer would hold the pipe thread (and the monitoring
    // loop's stop) for ever. The agent only drops a client that has gone or at stop.
    ::DisconnectNamedPipe(io_.pipe_.get());
    connected_ = false;
  }

  os::OsError Write(std::span<const std::uint8_t> data) override { return io_.Write(data); }
  os::OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                   std::uint32_t timeoutMs) override {
    return io_.Read(out, maxBytes, timeoutMs);
  }

 private:
  PipeIo io_;
  bool connected_ = false;
};

class Win32PipeClient final : public os::PipeEnd {
 public:
  Win32PipeClient(UniquePipe pipe, UniqueKernelHandle ioEvent)
      : io_(std::move(pipe), std::move(ioEvent)) {}
  os::OsError Write(std::span<const std::uint8_t> data) override { return io_.Write(data); }
  os::OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                   std::uint32_t timeoutMs) override {
    return io_.Read(out, maxBytes, timeoutMs);
  }

 private:
  PipeIo io_;
};

}  // namespace

std::unique_ptr<os::PipeEnd> Win32NamedPipes::Connect(std::string_view name, std::uint32_t waitMs,
                                                      os::OsError& error) {
  const std::wstring wideName = Wide(name);
  UniquePipe pipe;
  for (int attempt = 0; attempt < 2 && !pipe; ++attempt) {
    pipe.reset(::CreateFileW(wideName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (pipe) break;
    error = ::GetLastError();
    if (error != ERROR_PIPE_BUSY || attempt == 1) return nullptr;
    if (!::WaitNamedPipeW(wideName.c_str(), waitMs)) {
      error = ::GetLastError();
      return nullptr;
    }
  }
  UniqueKernelHandle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent) {
    error = ::GetLastError();
    return nullptr;
  }
  error = os::kSuccess;
  return std::make_unique<Win32PipeClient>(std::move(pipe), std::move(ioEvent));
}

std::unique_ptr<os::PipeServer> Win32NamedPipes::CreateServer(std::string_view name,
                                                              os::OsError& error) {
  UniquePipe pipe(::CreateNamedPipeW(Wide(name).c_str(),
                                     PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 0, 0,
                                     nullptr));
  if (!pipe) {
    error = ::GetLastError();
    return nullptr;
  }
  UniqueKernelHandle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent) {
    error = ::GetLastError();
    return nullptr;
  }
  error = os::kSuccess;
  return std::make_unique<Win32PipeServer>(std::move(pipe), std::move(ioEvent));
}

}  // namespace orv::win32
