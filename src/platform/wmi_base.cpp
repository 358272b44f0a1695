#include "platform/wmi_base.h"

#include <utility>

namespace orv {

WmiBase::WmiBase(os::WmiConnector& wmi) : wmi_(wmi) { (void)Connect(kDefaultNamespace); }

WmiBase::~WmiBase() {
  // Interfaces released after leaving COM would call into an uninitialised runtime.
  session_.reset();
  apartment_.reset();
}

bool WmiBase::Connect(std::string_view nameSpace) {
  session_.reset();
  connected_ = false;

  os::WmiResult result = os::kWmiOk;
  // Joining again before the earlier membership is dropped keeps COM up on this thread
  // throughout instead of tearing it down and starting it again.
  std::unique_ptr<os::WmiApartment> apartment = wmi_.JoinApartment(result);
  apartment_ = std::move(apartment);
  lastResult_ = result;
  if (apartment_ == nullptr) {
    if (!os::WmiFailed(lastResult_)) lastResult_ = os::kWmiFail;
    return false;
  }

  lastResult_ = wmi_.InitializeSecurity();
  // Security is per process and can be set once: whoever set it first decided.
  if (os::WmiFailed(lastResult_) && lastResult_ != os::kWmiTooLate) return false;

  session_ = wmi_.Connect(nameSpace, result);
  lastResult_ = result;
  if (session_ == nullptr) {
    if (!os::WmiFailed(lastResult_)) lastResult_ = os::kWmiFail;
    return false;
  }
  connected_ = true;
  return true;
}

bool WmiBase::ExecQuery(std::string_view query, std::unique_ptr<os::WmiEnumerator>& enumerator) {
  enumerator.reset();
  if (!connected_) return false;
  if (query.empty()) {
    lastResult_ = os::kWmiInvalidParameter;
    return false;
  }
  os::WmiResult result = os::kWmiOk;
  enumerator = session_->ExecQuery(query, result);
  lastResult_ = result;
  if (enumerator == nullptr) {
    if (!os::WmiFailed(lastResult_)) lastResult_ = os::kWmiFail;
    return false;
  }
  return true;
}

bool WmiBase::Subscribe(std::string_view query, std::shared_ptr<os::WmiEventSink> sink,
                        std::unique_ptr<os::WmiSubscription>& subscription) {
  subscription.reset();
  if (!connected_) return false;
  os::WmiResult result = os::kWmiOk;
  subscription = session_->Subscribe(query, std::move(sink), result);
  lastResult_ = result;
  if (subscription == nullptr) {
    if (!os::WmiFailed(lastResult_)) lastResult_ = os::kWmiFail;
    return false;
  }
  return true;
}

bool WmiBase::NextObject(os::WmiEnumerator* enumerator, std::unique_ptr<os::WmiObject>& object) {
  object.reset();
  if (!connected_ || enumerator == nullptr) return false;
  os::WmiResult result = os::kWmiOk;
  object = enumerator->Next(kNextTimeoutMs, result);
  lastResult_ = result;
  // A time-out is a success code, yet nothing came: only a plain success hands out an object.
  if (result != os::kWmiOk) object.reset();
  return object != nullptr;
}

}  // namespace orv
