// WmiBase: the agent's one WMI client.
//
// Vocabulary: a WmiBase joins its thread to COM, connects to a namespace and runs WQL
// queries whose instances are fetched one at a time. It keeps whether its connection stands
// and the COM result of the last call it made (0 success, negative a failure).
//
// Threads: COM is joined by the thread that builds a WmiBase and left when it is destroyed,
// so build, use and destroy it on one thread, and release every enumerator and object it
// handed out before it goes.
//
// Deadlines: fetching waits at most kNextTimeoutMs per instance, so a hung provider costs one
// time-out instead of the monitoring loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "os/wmi.h"

namespace orv {

class WmiBase {
 public:
  static constexpr std::string_view kDefaultNamespace = "root\\cimv2";
  static constexpr std::uint32_t kNextTimeoutMs = 10'000;

  // Connects to root\cimv2; Connected() tells whether it worked.
  explicit WmiBase(os::WmiConnector& wmi);
  WmiBase(const WmiBase&) = delete;
  WmiBase& operator=(const WmiBase&) = delete;
  // Releases the connection, then leaves COM when joining it succeeded.
  ~WmiBase();

  // Drops any earlier connection, then joins COM, sets the process's COM security (already
  // set counts as success) and connects to `nameSpace`, keeping each step's result; false at
  // the first step that failed.
  bool Connect(std::string_view nameSpace);
  // Starts `query` (WQL, forward-only, returning at once); `enumerator` is emptied first.
  // False without a call when not connected (the last result keeps the connection's failure)
  // or when the query is empty (the last result becomes WBEM_E_INVALID_PARAMETER).
  bool ExecQuery(std::string_view query, std::unique_ptr<os::WmiEnumerator>& enumerator);
  // Fetches the next instance within kNextTimeoutMs; `object` is emptied first. True only
  // when one instance came; the end, a time-out and failures are false. False without a call
  // when not connected or `enumerator` is null.
  bool NextObject(os::WmiEnumerator* enumerator, std::unique_ptr<os::WmiObject>& object);
  // Starts the notification query `query` delivering to `sink`; `subscription` is emptied
  // first and cancels the query when destroyed (before this WmiBase goes). False without a
  // call when not connected.
  bool Subscribe(std::string_view query, std::shared_ptr<os::WmiEventSink> sink,
                 std::unique_ptr<os::WmiSubscription>& subscription);

  bool Connected() const { return connected_; }
  os::WmiResult LastResult() const { return lastResult_; }

 private:
  os::WmiConnector& wmi_;
  bool connected_ = false;
  os::WmiResult lastResult_ = os::kWmiOk;
  // Declared before the session so that the session is released first.
  std::unique_ptr<os::WmiApartment> apartment_;
  std::unique_ptr<os::WmiSession> session_;
};

}  // namespace orv
