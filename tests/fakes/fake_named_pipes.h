// Named pipes for host tests: in-memory byte streams between a server and one client.
//
// Waits are real but bounded by their time-outs, and end early when the other side acts, so a
// pipe thread and a test thread can talk as two processes would. Error codes follow Windows:
// no server gives kErrorFileNotFound, a server with a client (or not waiting) kErrorPipeBusy, a
// peer gone kErrorBrokenPipe.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "os/named_pipe.h"
#include "os/synchronization.h"

namespace orv::fakes {

class FakeNamedPipes final : public os::NamedPipes {
 public:
  os::OsResult<os::PipeEnd> Connect(std::string_view name, std::uint32_t waitMs) override;
  os::OsResult<os::PipeServer> CreateServer(std::string_view name) override;

  // The secured ends: Connect and CreateServer, recorded.
  os::OsResult<os::PipeEnd> ConnectIdentifyOnly(std::string_view name, std::uint32_t waitMs) override;
  os::OsResult<os::PipeServer> CreateServerWith(std::string_view name,
                                                const os::PipeServerOptions& options) override;
  struct ServerCreation {
    std::string name;
    std::string securityDescriptor;
    bool rejectRemoteClients = false;
    bool firstInstance = false;
  };
  // What was asked of them, under `mutex`.
  std::vector<ServerCreation> serverCreations;
  std::vector<std::string> identifyOnlyConnects;

  // Whether a server instance of the name exists (as a client process would see it).
  bool IsServed(std::string_view name) const;
  // How many server instances were created so far under the name.
  int ServersCreated(std::string_view name) const;

  // Every client write fails with it while it is set.
  os::OsError clientWriteFailure = os::kSuccess;
  int openAttempts = 0;  // Connect and CreateServer calls, under `mutex`
  // What a server's wait for a client looks at its stop event through (FakeOs sets it).
  os::Synchronization* sync = nullptr;

  // Shared state of one pipe instance; public only for the fake's own end classes.
  struct Channel {
    bool listening = false;     // the server waits for (or accepts) a client
    bool clientConnected = false;
    bool clientLeft = false;    // the client closed; busy until the server disconnects
    bool serverOpen = true;
    std::uint64_t session = 0;  // grows with each client, so a dropped client stays dropped
    std::deque<std::uint8_t> toServer;
    std::deque<std::uint8_t> toClient;
  };

  mutable std::mutex mutex;
  std::condition_variable changed;

 private:
  friend class FakePipeServer;
  std::map<std::string, std::shared_ptr<Channel>> servers_;
  std::map<std::string, int> created_;
};

}  // namespace orv::fakes
