#include "os/win32/named_pipe_win32.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "os/win32/security_descriptor_win32.h"
#include "os/win32/synchronization_win32.h"
#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {
namespace {

using UniquePipe = UniqueHandle<FileHandleTraits>;

// How long a cancelled operation may take to report back. Pipe I/O honours a cancel at once;
// this only bounds a peer or filter that does not.
constexpr DWORD kCancelGraceMs = 2000;

// One overlapped operation's memory. The system writes into it until the operation has
// completed, so it lives on the heap: an operation that never reports back after its cancel
// keeps its block (deliberately never freed) instead of writing into freed memory.
struct PendingIo {
  OVERLAPPED overlapped{};
  std::vector<std::uint8_t> buffer;
};

// What became of an operation.
struct IoOutcome {
  os::OsError error = os::kSuccess;
  DWORD transferred = 0;
  bool abandoned = false;  // the operation outlives the call; the block was let go
};

// Finishes one overlapped operation within `timeoutMs`. On time-out the operation is cancelled
// and its completion awaited for a short while: one that completed before the cancel took
// effect keeps its result (bytes already read are not dropped); one that never reports back is
// abandoned with its block.
IoOutcome FinishOverlapped(HANDLE pipe, std::unique_ptr<PendingIo>& io, BOOL started,
                           std::uint32_t timeoutMs) {
  IoOutcome outcome;
  if (!started) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      outcome.error = error;
      return outcome;
    }
    if (::WaitForSingleObject(io->overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
      ::CancelIoEx(pipe, &io->overlapped);
      if (::WaitForSingleObject(io->overlapped.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
        (void)io.release();  // still owned by the system
        outcome.abandoned = true;
        outcome.error = os::kErrorSemTimeout;
        return outcome;
      }
      if (!::GetOverlappedResult(pipe, &io->overlapped, &outcome.transferred, FALSE)) {
        const DWORD cancelError = ::GetLastError();
        outcome.error = cancelError == ERROR_OPERATION_ABORTED ? os::kErrorSemTimeout : cancelError;
      }
      return outcome;
    }
  }
  if (!::GetOverlappedResult(pipe, &io->overlapped, &outcome.transferred, FALSE)) {
    outcome.error = ::GetLastError();
  }
  return outcome;
}

// The reads and writes both ends share.
class PipeIo {
 public:
  PipeIo(UniquePipe pipe, UniqueKernelHandle ioEvent)
      : pipe_(std::move(pipe)), ioEvent_(std::move(ioEvent)) {}

  os::OsError Write(std::span<const std::uint8_t> data) {
    if (data.size() > 0xFFFFFFFFu) return os::kErrorInvalidParameter;
    auto io = NewIo();
    if (!io) return os::kErrorBrokenPipe;
    // Copied: an abandoned write may still read its buffer after the caller's data is gone.
    io->buffer.assign(data.begin(), data.end());
    const BOOL started = ::WriteFile(pipe_.get(), io->buffer.data(),
                                     static_cast<DWORD>(io->buffer.size()), nullptr, &io->overlapped);
    // A peer that never reads cannot hold the writer: byte pipes take a record this size at once.
    const IoOutcome outcome = Finish(io, started, 10000);
    if (outcome.error != os::kSuccess) return outcome.error;
    return outcome.transferred == data.size() ? os::kSuccess : os::kErrorNoData;
  }

  os::OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                   std::uint32_t timeoutMs) {
    auto io = NewIo();
    if (!io) return os::kErrorBrokenPipe;
    io->buffer.resize(std::min<std::size_t>(maxBytes, 0x10000));
    const BOOL started = ::ReadFile(pipe_.get(), io->buffer.data(),
                                    static_cast<DWORD>(io->buffer.size()), nullptr, &io->overlapped);
    const IoOutcome outcome = Finish(io, started, timeoutMs);
    if (outcome.error != os::kSuccess && outcome.error != ERROR_MORE_DATA) return outcome.error;
    io->buffer.resize(outcome.transferred);
    out = std::move(io->buffer);
    return os::kSuccess;
  }

  // A fresh block on the shared event; nullptr once an operation was abandoned, because that
  // operation may still signal the event and write its block.
  std::unique_ptr<PendingIo> NewIo() {
    if (broken_) return nullptr;
    auto io = std::make_unique<PendingIo>();
    ::ResetEvent(ioEvent_.get());
    io->overlapped.hEvent = ioEvent_.get();
    return io;
  }

  IoOutcome Finish(std::unique_ptr<PendingIo>& io, BOOL started, std::uint32_t timeoutMs) {
    const IoOutcome outcome = FinishOverlapped(pipe_.get(), io, started, timeoutMs);
    if (outcome.abandoned) broken_ = true;
    return outcome;
  }

 private:
  friend class Win32PipeServer;
  UniquePipe pipe_;
  UniqueKernelHandle ioEvent_;
  bool broken_ = false;
};

class Win32PipeServer final : public os::PipeServer {
 public:
  Win32PipeServer(UniquePipe pipe, UniqueKernelHandle ioEvent)
      : io_(std::move(pipe), std::move(ioEvent)) {}
  ~Win32PipeServer() override {
    Disconnect();
    StopListening();
  }

  // A wait that ends without a client leaves the connect pending for the next wait: a server
  // that looks at its stop event between short waits then costs the system one wait per
  // look, not a cancel and a new connect each time.
  os::OsError WaitForClient(std::uint32_t timeoutMs) override { return Await(nullptr, timeoutMs); }
  os::OsError WaitForClientUnless(os::Event& stop, std::uint32_t timeoutMs) override {
    return Await(NativeEventHandle(stop), timeoutMs);
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
  // Waits for a client, or for `stop` when there is one.
  os::OsError Await(HANDLE stop, std::uint32_t timeoutMs) {
    if (connected_) return os::kSuccess;
    if (!listen_) {
      auto io = io_.NewIo();
      if (!io) return os::kErrorBrokenPipe;
      if (::ConnectNamedPipe(io_.pipe_.get(), &io->overlapped)) {
        connected_ = true;
        return os::kSuccess;
      }
      const DWORD error = ::GetLastError();
      if (error == ERROR_PIPE_CONNECTED) {
        connected_ = true;
        return os::kSuccess;
      }
      if (error != ERROR_IO_PENDING) return error;
      listen_ = std::move(io);
    }
    const HANDLE handles[] = {listen_->overlapped.hEvent, stop};
    if (::WaitForMultipleObjects(stop != nullptr ? 2 : 1, handles, FALSE, timeoutMs) != WAIT_OBJECT_0) {
      return os::kErrorSemTimeout;
    }
    DWORD transferred = 0;
    const BOOL done = ::GetOverlappedResult(io_.pipe_.get(), &listen_->overlapped, &transferred, FALSE);
    const os::OsError error = done ? os::kSuccess : ::GetLastError();
    listen_.reset();
    if (error == os::kSuccess) connected_ = true;
    return error;
  }

  // Ends a pending connect before the pipe closes; one that never reports back keeps its block.
  void StopListening() {
    if (!listen_) return;
    ::CancelIoEx(io_.pipe_.get(), &listen_->overlapped);
    if (::WaitForSingleObject(listen_->overlapped.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
      (void)listen_.release();  // still owned by the system
    }
    listen_.reset();
  }

  PipeIo io_;
  std::unique_ptr<PendingIo> listen_;  // the connect under way, while no client is there
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

os::OsResult<os::PipeEnd> Win32NamedPipes::Connect(std::string_view name, std::uint32_t waitMs) {
  return Open(name, waitMs, FILE_FLAG_OVERLAPPED);
}

os::OsResult<os::PipeEnd> Win32NamedPipes::ConnectIdentifyOnly(std::string_view name,
                                                               std::uint32_t waitMs) {
  return Open(name, waitMs, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION);
}

os::OsResult<os::PipeEnd> Win32NamedPipes::Open(std::string_view name, std::uint32_t waitMs,
                                                DWORD flags) {
  const std::wstring wideName = Wide(name);
  UniquePipe pipe;
  for (int attempt = 0; attempt < 2 && !pipe; ++attempt) {
    pipe.reset(::CreateFileW(wideName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, flags, nullptr));
    if (pipe) break;
    const os::OsError error = ::GetLastError();
    if (error != ERROR_PIPE_BUSY || attempt == 1) return error;
    if (!::WaitNamedPipeW(wideName.c_str(), waitMs)) return ::GetLastError();
  }
  UniqueKernelHandle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent) return ::GetLastError();
  return std::make_unique<Win32PipeClient>(std::move(pipe), std::move(ioEvent));
}

os::OsResult<os::PipeServer> Win32NamedPipes::CreateServer(std::string_view name) {
  return CreateServerWith(name, {});
}

os::OsResult<os::PipeServer> Win32NamedPipes::CreateServerWith(std::string_view name,
                                                               const os::PipeServerOptions& options) {
  std::optional<SddlDescriptor> descriptor;
  if (!options.securityDescriptor.empty()) {
    descriptor.emplace(options.securityDescriptor);
    if (descriptor->error() != os::kSuccess) return descriptor->error();
  }
  const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                         (options.firstInstance ? static_cast<DWORD>(FILE_FLAG_FIRST_PIPE_INSTANCE) : DWORD{0});
  const DWORD pipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                         (options.rejectRemoteClients ? static_cast<DWORD>(PIPE_REJECT_REMOTE_CLIENTS) : DWORD{0});
  UniquePipe pipe(::CreateNamedPipeW(Wide(name).c_str(), openMode, pipeMode, 1, 0, 0, 0,
                                     descriptor ? descriptor->attributes() : nullptr));
  if (!pipe) return ::GetLastError();
  UniqueKernelHandle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent) return ::GetLastError();
  return std::make_unique<Win32PipeServer>(std::move(pipe), std::move(ioEvent));
}

}  // namespace orv::win32
