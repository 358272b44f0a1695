#include "fakes/fake_named_pipes.h"

#include <algorithm>
#include <chrono>

namespace orv::fakes {
namespace {

using Deadline = std::chrono::steady_clock::time_point;

Deadline After(std::uint32_t ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

os::OsError TakeBytes(std::deque<std::uint8_t>& queue, std::vector<std::uint8_t>& out,
                      std::size_t maxBytes) {
  const std::size_t count = std::min(maxBytes, queue.size());
  out.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
  queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
  return os::kSuccess;
}

class FakePipeClient final : public os::PipeEnd {
 public:
  FakePipeClient(FakeNamedPipes& pipes, std::shared_ptr<FakeNamedPipes::Channel> channel)
      : pipes_(pipes), channel_(std::move(channel)), session_(channel_->session) {}

  ~FakePipeClient() override {
    std::lock_guard lock(pipes_.mutex);
    if (Live()) {
      channel_->clientConnected = false;
      channel_->clientLeft = true;
    }
    pipes_.changed.notify_all();
  }

  os::OsError Write(std::span<const std::uint8_t> data) override {
    std::lock_guard lock(pipes_.mutex);
    if (pipes_.clientWriteFailure != os::kSuccess) return pipes_.clientWriteFailure;
    if (!Live()) return os::kErrorNoData;
    channel_->toServer.insert(channel_->toServer.end(), data.begin(), data.end());
    pipes_.changed.notify_all();
    return os::kSuccess;
  }

  os::OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                   std::uint32_t timeoutMs) override {
    std::unique_lock lock(pipes_.mutex);
    const bool ready = pipes_.changed.wait_until(lock, After(timeoutMs), [&] {
      return !Live() || !channel_->toClient.empty();
    });
    if (!channel_->toClient.empty() && Live()) return TakeBytes(channel_->toClient, out, maxBytes);
    if (!ready) return os::kErrorSemTimeout;
    return os::kErrorBrokenPipe;
  }

 private:
  bool Live() const {
    return channel_->serverOpen && channel_->clientConnected && channel_->session == session_;
  }
  FakeNamedPipes& pipes_;
  std::shared_ptr<FakeNamedPipes::Channel> channel_;
  std::uint64_t session_;
};

}  // namespace

class FakePipeServer final : public os::PipeServer {
 public:
  FakePipeServer(FakeNamedPipes& pipes, std::string name,
                 std::shared_ptr<FakeNamedPipes::Channel> channel)
      : pipes_(pipes), name_(std::move(name)), channel_(std::move(channel)) {}

  ~FakePipeServer() override {
    std::lock_guard lock(pipes_.mutex);
    channel_->serverOpen = false;
    channel_->clientConnected = false;
    pipes_.servers_.erase(name_);
    pipes_.changed.notify_all();
  }

  os::OsError WaitForClient(std::uint32_t timeoutMs) override {
    std::unique_lock lock(pipes_.mutex);
    // A client that wrote and left before the server looked is still served its bytes.
    if (channel_->clientConnected || channel_->clientLeft) return os::kSuccess;
    channel_->listening = true;
    pipes_.changed.notify_all();
    if (!pipes_.changed.wait_until(lock, After(timeoutMs),
                                   [&] { return channel_->clientConnected; })) {
      return os::kErrorSemTimeout;
    }
    channel_->listening = false;
    return os::kSuccess;
  }

  // Looks at the stop event between short real waits for the client.
  os::OsError WaitForClientUnless(os::Event& stop, std::uint32_t timeoutMs) override {
    constexpr std::uint32_t kSliceMs = 5;
    std::uint32_t waited = 0;
    for (;;) {
      os::Event* const stopOnly[] = {&stop};
      if (pipes_.sync != nullptr && pipes_.sync->WaitAny(stopOnly, 0) == 0) return os::kErrorSemTimeout;
      const std::uint32_t slice = timeoutMs == os::kInfinite ? kSliceMs : std::min(kSliceMs, timeoutMs - waited);
      const os::OsError error = WaitForClient(slice);
      if (error != os::kErrorSemTimeout) return error;
      if (timeoutMs != os::kInfinite && (waited += slice) >= timeoutMs) return error;
    }
  }

  void Disconnect() override {
    std::lock_guard lock(pipes_.mutex);
    channel_->clientConnected = false;
    channel_->clientLeft = false;
    channel_->listening = false;
    channel_->toServer.clear();
    channel_->toClient.clear();
    pipes_.changed.notify_all();
  }

  os::OsError Write(std::span<const std::uint8_t> data) override {
    std::lock_guard lock(pipes_.mutex);
    if (!channel_->clientConnected) return os::kErrorPipeNotConnected;
    channel_->toClient.insert(channel_->toClient.end(), data.begin(), data.end());
    pipes_.changed.notify_all();
    return os::kSuccess;
  }

  // As on Windows, bytes a client wrote before it closed can still be read.
  os::OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                   std::uint32_t timeoutMs) override {
    std::unique_lock lock(pipes_.mutex);
    const bool ready = pipes_.changed.wait_until(lock, After(timeoutMs), [&] {
      return !channel_->clientConnected || !channel_->toServer.empty();
    });
    if (!channel_->toServer.empty()) return TakeBytes(channel_->toServer, out, maxBytes);
    if (!ready) return os::kErrorSemTimeout;
    return os::kErrorBrokenPipe;
  }

 private:
  FakeNamedPipes& pipes_;
  std::string name_;
  std::shared_ptr<FakeNamedPipes::Channel> channel_;
};

os::OsResult<os::PipeEnd> FakeNamedPipes::Connect(std::string_view name, std::uint32_t waitMs) {
  std::unique_lock lock(mutex);
  ++openAttempts;
  const auto it = servers_.find(std::string(name));
  if (it == servers_.end()) return os::kErrorFileNotFound;
  std::shared_ptr<Channel> channel = it->second;
  // A client is accepted as soon as the instance is free, as Windows queues it until the
  // server calls ConnectNamedPipe.
  if (!changed.wait_until(lock, After(waitMs), [&] {
        return !channel->serverOpen || (!channel->clientConnected && !channel->clientLeft);
      }) ||
      !channel->serverOpen) {
    return channel->serverOpen ? os::kErrorSemTimeout : os::kErrorFileNotFound;
  }
  channel->clientConnected = true;
  ++channel->session;
  changed.notify_all();
  return std::make_unique<FakePipeClient>(*this, channel);
}

os::OsResult<os::PipeServer> FakeNamedPipes::CreateServer(std::string_view name) {
  std::lock_guard lock(mutex);
  ++openAttempts;
  const std::string key(name);
  if (servers_.count(key) != 0) return os::kErrorPipeBusy;
  auto channel = std::make_shared<Channel>();
  servers_[key] = channel;
  ++created_[key];
  return std::make_unique<FakePipeServer>(*this, key, channel);
}

bool FakeNamedPipes::IsServed(std::string_view name) const {
  std::lock_guard lock(mutex);
  return servers_.count(std::string(name)) != 0;
}

int FakeNamedPipes::ServersCreated(std::string_view name) const {
  std::lock_guard lock(mutex);
  const auto it = created_.find(std::string(name));
  return it == created_.end() ? 0 : it->second;
}

os::OsResult<os::PipeEnd> FakeNamedPipes::ConnectIdentifyOnly(std::string_view name, std::uint32_t waitMs) {
  {
    std::lock_guard lock(mutex);
    identifyOnlyConnects.emplace_back(name);
  }
  return Connect(name, waitMs);
}

os::OsResult<os::PipeServer> FakeNamedPipes::CreateServerWith(std::string_view name,
                                                             const os::PipeServerOptions& options) {
  {
    std::lock_guard lock(mutex);
    serverCreations.push_back({std::string(name), std::string(options.securityDescriptor),
                               options.rejectRemoteClients, options.firstInstance});
    if (options.firstInstance && servers_.count(std::string(name)) != 0) {
      ++openAttempts;
      return os::kErrorAccessDenied;
    }
  }
  return CreateServer(name);
}

}  // namespace orv::fakes
