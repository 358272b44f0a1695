// One HTTP exchange with a web server, as the Web API client and the self-update need it.
//
// The port does the transport only: session, connection, request, status and the raw body
// bytes. Decoding the body, choosing hosts and reading answers happen above it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

struct HttpProxy {
  std::string server;    // "host:port"; empty: no proxy at all (the system's settings are not used)
  std::string user;      // set on the request only when not empty
  std::string password;  // set on the request only when not empty
};

struct HttpRequest {
  std::string userAgent;
  HttpProxy proxy;
  std::string host;
  std::uint16_t port = 443;
  bool secure = true;              // TLS
  std::string method;              // "GET", "POST"
  std::string path;                // from the first "/"
  std::string headers;             // extra header lines, "\r\n"-separated, may be empty
  std::vector<std::uint8_t> body;  // sent as it is
  // The whole exchange, from opening to the last body byte. The per-step time-outs alone let a
  // server that trickles its answer hold the agent for ever.
  std::uint32_t deadlineMs = 5 * 60 * 1000;
};

// Long enough for an update package on a slow line.
inline constexpr std::uint32_t kDownloadDeadlineMs = 30 * 60 * 1000;
// The HTTP client's "timed out": what an exchange past its deadline ends with.
inline constexpr OsError kErrorHttpTimeout = 12002;

struct HttpResponse {
  std::uint32_t status = 0;
  std::vector<std::uint8_t> body;  // every byte the server sent, in order
};

// The HTTP client's "operation cancelled": what an exchange ends with after CancelExchanges.
inline constexpr OsError kErrorHttpCancelled = 12017;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // True when the system's HTTP client can be used at all.
  virtual bool IsAvailable() = 0;
  // Sends `request` and reads the whole answer. True when an answer arrived, whatever its
  // status; false with the system or HTTP-client error of the failed step in `error`.
  virtual bool Exchange(const HttpRequest& request, HttpResponse& response, OsError& error) = 0;
  // Callable from any thread: ends the exchange in progress at once and makes it and every later
  // one fail with kErrorHttpCancelled. A stopping service must not wait out a silent server's
  // time-outs, which add up to minutes.
  virtual void CancelExchanges() = 0;
};

}  // namespace orv::os
