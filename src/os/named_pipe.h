// Named pipes between the agent and its companion programs on the same machine.
//
// Both ends speak bytes; records and their text encodings are built above the port. Every wait
// here is bounded, so a silent peer can never hold a thread that must also watch a stop event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"
#include "os/synchronization.h"

namespace orv::os {

inline constexpr OsError kErrorBrokenPipe = 109;
inline constexpr OsError kErrorPipeBusy = 231;
inline constexpr OsError kErrorNoData = 232;
inline constexpr OsError kErrorPipeNotConnected = 233;
inline constexpr OsError kErrorSemTimeout = 121;  // a bounded pipe wait ran out

// One connected end of a pipe; closed when destroyed.
class PipeEnd {
 public:
  virtual ~PipeEnd() = default;
  // Writes all of `data` in one write; kSuccess, or the error (nothing more is promised).
  virtual OsError Write(std::span<const std::uint8_t> data) = 0;
  // Reads what arrives, at most `maxBytes`, within `timeoutMs`; kSuccess with `out` holding the
  // bytes, kErrorSemTimeout when nothing came in time, or the error (the peer is gone).
  virtual OsError Read(std::vector<std::uint8_t>& out, std::size_t maxBytes,
                       std::uint32_t timeoutMs) = 0;
};

// The serving end: one instance, duplex, byte mode. Destroying it disconnects and closes, without
// waiting for the client to read what is still buffered (that wait would have no bound).
class PipeServer : public PipeEnd {
 public:
  // kSuccess when a client is connected (also when one already was), kErrorSemTimeout when none
  // came within `timeoutMs`, or the error.
  virtual OsError WaitForClient(std::uint32_t timeoutMs) = 0;
  // As WaitForClient, but also ends with kErrorSemTimeout as soon as `stop` is set (without
  // consuming it), so a server need not wake up to look at its stop event.
  virtual OsError WaitForClientUnless(Event& stop, std::uint32_t timeoutMs) = 0;
  // Drops the current client (unread bytes are discarded); the instance can then wait for the
  // next one.
  virtual void Disconnect() = 0;
};

struct PipeServerOptions {
  std::string_view securityDescriptor;  // SDDL; empty: the default descriptor
  bool rejectRemoteClients = false;     // only clients on this machine
  // Fails (kErrorAccessDenied) when any instance of the name exists, so the agent never
  // becomes one more instance of a pipe another program created first.
  bool firstInstance = false;
};

class NamedPipes {
 public:
  virtual ~NamedPipes() = default;
  // Opens an existing pipe for reading and writing, without sharing. A busy pipe is waited for
  // up to `waitMs`. The error on failure (kErrorFileNotFound when nobody serves it).
  virtual OsResult<PipeEnd> Connect(std::string_view name, std::uint32_t waitMs) = 0;
  // Creates the one instance of a pipe with default buffers and security. The error on failure
  // (for example when the name is already served).
  virtual OsResult<PipeServer> CreateServer(std::string_view name) = 0;

  // --- Ends that lend the peer nothing and let no one else in ---
  // As Connect, but the server may only learn who connected, never act as this process
  // (SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION): a program that serves the name before the
  // real server cannot use a SYSTEM client to reach what only SYSTEM may.
  virtual OsResult<PipeEnd> ConnectIdentifyOnly(std::string_view name, std::uint32_t waitMs) = 0;
  // As CreateServer, with the options below.
  virtual OsResult<PipeServer> CreateServerWith(std::string_view name,
                                                const PipeServerOptions& options) = 0;
};

}  // namespace orv::os
