// WMI port: COM apartment membership, process security, a connection to one namespace, WQL
// queries read one instance at a time, and text properties.
//
// Vocabulary: a thread joins COM's multithreaded apartment before it talks to WMI and leaves
// it when done, on the same thread; everything WMI handed out must be released before it
// leaves. A session is a connection to one namespace (root\cimv2); a query's enumerator is
// forward-only and yields instances (objects) whose properties are read by name.
//
// Results are HRESULTs, as COM returns them and as the agent keeps them: 0 success, other
// non-negative values success with a remark (S_FALSE, WBEM_S_TIMEDOUT), negative a failure.
// Nothing here waits without limit: the port has no infinite time-out, and connecting gives
// up after WMI's own maximum wait.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace orv::os {

using WmiResult = std::int32_t;

// COM's result codes, by the unsigned numbers the documentation gives them.
constexpr WmiResult WmiCode(std::uint32_t code) { return static_cast<WmiResult>(code); }

inline constexpr WmiResult kWmiOk = 0;
inline constexpr WmiResult kWmiFalse = 1;                            // S_FALSE, WBEM_S_FALSE
inline constexpr WmiResult kWmiTimedOut = 0x00040004;                // WBEM_S_TIMEDOUT
inline constexpr WmiResult kWmiFail = WmiCode(0x80004005);           // E_FAIL
inline constexpr WmiResult kWmiTooLate = WmiCode(0x80010119);        // RPC_E_TOO_LATE
inline constexpr WmiResult kWmiChangedMode = WmiCode(0x80010106);    // RPC_E_CHANGED_MODE
inline constexpr WmiResult kWmiNotFound = WmiCode(0x80041002);       // WBEM_E_NOT_FOUND
inline constexpr WmiResult kWmiAccessDenied = WmiCode(0x80041003);   // WBEM_E_ACCESS_DENIED
inline constexpr WmiResult kWmiTypeMismatch = WmiCode(0x80041005);   // WBEM_E_TYPE_MISMATCH
inline constexpr WmiResult kWmiInvalidParameter = WmiCode(0x80041008);  // WBEM_E_INVALID_PARAMETER
inline constexpr WmiResult kWmiInvalidNamespace = WmiCode(0x8004100E);  // WBEM_E_INVALID_NAMESPACE
inline constexpr WmiResult kWmiInvalidClass = WmiCode(0x80041010);   // WBEM_E_INVALID_CLASS
inline constexpr WmiResult kWmiInvalidQuery = WmiCode(0x80041017);   // WBEM_E_INVALID_QUERY

constexpr bool WmiFailed(WmiResult result) { return result < 0; }

// One instance a query returned.
class WmiObject {
 public:
  virtual ~WmiObject() = default;

  // The property `name` as UTF-8 text: kWmiOk with `text` set for a string; kWmiFalse with
  // `text` emptied when the property is null or empty; a failure (kWmiNotFound for no such
  // property, kWmiTypeMismatch for a value that is not a string) with `text` unchanged.
  virtual WmiResult GetText(std::string_view name, std::string& text) = 0;
  // The embedded object held by property `name` (an event's TargetInstance): non-null with
  // `result` kWmiOk; nullptr with kWmiFalse for a null property or a failure (kWmiNotFound,
  // kWmiTypeMismatch for a property that holds no object).
  virtual std::unique_ptr<WmiObject> GetEmbedded(std::string_view name, WmiResult& result) = 0;
};

// Receives what a notification query delivers, on one of WMI's threads.
class WmiEventSink {
 public:
  virtual ~WmiEventSink() = default;
  // The objects of one delivery, in order; valid only during the call.
  virtual void Indicate(std::span<WmiObject* const> objects) = 0;
};

// A running notification query; destroying it cancels the query. A delivery already under
// way may still finish after that, which is why sinks are shared with the subscription.
class WmiSubscription {
 public:
  virtual ~WmiSubscription() = default;
};

// A query's result set, read forward once.
class WmiEnumerator {
 public:
  virtual ~WmiEnumerator() = default;

  // Waits at most `timeoutMs` for the next instance: non-null with `result` kWmiOk; nullptr
  // with kWmiFalse at the end, kWmiTimedOut when none came in time (the query may still be
  // running), or a failure.
  virtual std::unique_ptr<WmiObject> Next(std::uint32_t timeoutMs, WmiResult& result) = 0;
};

// A connection to one namespace.
class WmiSession {
 public:
  virtual ~WmiSession() = default;

  // Starts the WQL query `wql` forward-only and returning at once (instances are fetched by
  // Next): non-null with `result` kWmiOk, or nullptr with the failure.
  virtual std::unique_ptr<WmiEnumerator> ExecQuery(std::string_view wql, WmiResult& result) = 0;
  // Starts the WQL notification query `wql`, delivering to `sink` on WMI's threads through an
  // unsecured apartment (the service's callers are not authenticated back): non-null with
  // `result` kWmiOk, or nullptr with the failure.
  virtual std::unique_ptr<WmiSubscription> Subscribe(std::string_view wql, std::shared_ptr<WmiEventSink> sink,
                                                     WmiResult& result) = 0;
};

// The calling thread's membership of the multithreaded apartment; leaves it when destroyed,
// which must happen on the thread that joined.
class WmiApartment {
 public:
  virtual ~WmiApartment() = default;
};

class WmiConnector {
 public:
  virtual ~WmiConnector() = default;

  // Joins the calling thread to the multithreaded apartment: non-null when `result` succeeded
  // (kWmiOk, or kWmiFalse when the thread had joined already); nullptr with the failure
  // (kWmiChangedMode when the thread is in a single-threaded apartment).
  virtual std::unique_ptr<WmiApartment> JoinApartment(WmiResult& result) = 0;
  // Sets the process's COM security once: default authentication, impersonation level
  // impersonate, no capabilities. kWmiTooLate when the process's security is already set.
  virtual WmiResult InitializeSecurity() = 0;
  // Connects the joined calling thread to namespace `nameSpace` with the caller's credentials
  // and the default locale, and sets the connection's call security (NTLM, no authorisation,
  // authentication per call, impersonate): non-null with `result` kWmiOk, or nullptr with the
  // result of the step that failed.
  virtual std::unique_ptr<WmiSession> Connect(std::string_view nameSpace, WmiResult& result) = 0;
};

}  // namespace orv::os
