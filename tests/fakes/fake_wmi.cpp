#include "fakes/fake_wmi.h"

#include <sstream>
#include <thread>
#include <utility>

#include "platform/text_encoding.h"

namespace orv::fakes {
namespace {

// A step that fails hands out nothing, of whatever kind the step hands out.
struct NoWmiObject {
  template <typename T>
  operator std::unique_ptr<T>() const {  // NOLINT(google-explicit-constructor)
    return nullptr;
  }
};
NoWmiObject WmiFailed(os::WmiResult& result, os::WmiResult failure) {
  result = failure;
  return {};
}

}  // namespace

// Leaves when destroyed; the thread that joined must be the one that leaves.
class FakeWmiApartment final : public os::WmiApartment {
 public:
  explicit FakeWmiApartment(FakeWmi& wmi) : wmi_(wmi) {}
  ~FakeWmiApartment() override { wmi_.Left(); }

 private:
  FakeWmi& wmi_;
};

class FakeWmiObject final : public os::WmiObject {
 public:
  FakeWmiObject(FakeWmi& wmi, FakeWmiInstance properties, std::optional<FakeWmiInstance> target = std::nullopt)
      : wmi_(wmi), properties_(std::move(properties)), target_(std::move(target)) {
    wmi_.Opened();
  }
  ~FakeWmiObject() override { wmi_.Released(); }

  os::WmiResult GetText(std::string_view name, std::string& text) override {
    wmi_.Count();
    if (wmi_.failures.get != os::kWmiOk) return wmi_.failures.get;
    // Property names are not case-sensitive in WMI.
    for (const auto& [propertyName, value] : properties_) {
      if (AsciiLower(propertyName) != AsciiLower(name)) continue;
      if (!value) {
        text.clear();
        return os::kWmiFalse;
      }
      text = *value;
      return os::kWmiOk;
    }
    return os::kWmiNotFound;
  }

  std::unique_ptr<os::WmiObject> GetEmbedded(std::string_view name, os::WmiResult& result) override {
    wmi_.Count();
    if (wmi_.failures.get != os::kWmiOk) return WmiFailed(result, wmi_.failures.get);
    // The agent asks only for TargetInstance; any other name is no embedded object.
    if (AsciiLower(name) != "targetinstance") return WmiFailed(result, os::kWmiNotFound);
    if (!target_) return WmiFailed(result, os::kWmiFalse);
    result = os::kWmiOk;
    return std::make_unique<FakeWmiObject>(wmi_, *target_);
  }

 private:
  FakeWmi& wmi_;
  FakeWmiInstance properties_;
  std::optional<FakeWmiInstance> target_;
};

// Cancels when destroyed: no delivery starts afterwards.
class FakeWmiSubscription final : public os::WmiSubscription {
 public:
  FakeWmiSubscription(FakeWmi& wmi, int id) : wmi_(wmi), id_(id) { wmi_.Opened(); }
  ~FakeWmiSubscription() override {
    {
      const std::lock_guard lock(wmi_.mutex_);
      wmi_.sinks_.erase(id_);
    }
    wmi_.Released();
  }

 private:
  FakeWmi& wmi_;
  int id_;
};

class FakeWmiEnumerator final : public os::WmiEnumerator {
 public:
  FakeWmiEnumerator(FakeWmi& wmi, std::vector<FakeWmiInstance> instances, bool hung)
      : wmi_(wmi), instances_(std::move(instances)), hung_(hung) {
    wmi_.Opened();
  }
  ~FakeWmiEnumerator() override { wmi_.Released(); }

  std::unique_ptr<os::WmiObject> Next(std::uint32_t timeoutMs, os::WmiResult& result) override {
    wmi_.Count();
    wmi_.timeouts_.Add(timeoutMs);
    if (wmi_.failures.next != os::kWmiOk) return WmiFailed(result, wmi_.failures.next);
    if (hung_) return WmiFailed(result, os::kWmiTimedOut);
    if (position_ >= instances_.size()) return WmiFailed(result, os::kWmiFalse);
    result = os::kWmiOk;
    return std::make_unique<FakeWmiObject>(wmi_, instances_[position_++]);
  }

 private:
  FakeWmi& wmi_;
  std::vector<FakeWmiInstance> instances_;  // as they were when the query started
  std::size_t position_ = 0;
  bool hung_;
};

class FakeWmiSession final : public os::WmiSession {
 public:
  FakeWmiSession(FakeWmi& wmi, std::string nameSpace)
      : wmi_(wmi), nameSpace_(std::move(nameSpace)) {
    wmi_.Opened();
  }
  ~FakeWmiSession() override { wmi_.Released(); }

  std::unique_ptr<os::WmiEnumerator> ExecQuery(std::string_view wql,
                                               os::WmiResult& result) override {
    wmi_.Count();
    return wmi_.Query(nameSpace_, wql, result);
  }

  std::unique_ptr<os::WmiSubscription> Subscribe(std::string_view wql, std::shared_ptr<os::WmiEventSink> sink,
                                                 os::WmiResult& result) override {
    wmi_.Count();
    const std::lock_guard lock(wmi_.mutex_);
    wmi_.queries_.emplace_back(wql);
    if (wmi_.failures.subscribe != os::kWmiOk) return WmiFailed(result, wmi_.failures.subscribe);
    const int id = wmi_.nextSubscription_++;
    wmi_.sinks_[id] = std::move(sink);
    result = os::kWmiOk;
    return std::make_unique<FakeWmiSubscription>(wmi_, id);
  }

 private:
  FakeWmi& wmi_;
  std::string nameSpace_;
};

std::unique_ptr<os::WmiApartment> FakeWmi::JoinApartment(os::WmiResult& result) {
  Count();
  if (failures.join != os::kWmiOk) return WmiFailed(result, failures.join);
  {
    const std::lock_guard lock(mutex_);
    int& count = joined_[std::this_thread::get_id()];
    result = count == 0 ? os::kWmiOk : os::kWmiFalse;
    ++count;
  }
  ++openApartments_;
  return std::make_unique<FakeWmiApartment>(*this);
}

os::WmiResult FakeWmi::InitializeSecurity() {
  Count();
  if (failures.security != os::kWmiOk) return failures.security;
  const std::lock_guard lock(mutex_);
  if (securitySet_) return os::kWmiTooLate;
  securitySet_ = true;
  return os::kWmiOk;
}

std::unique_ptr<os::WmiSession> FakeWmi::Connect(std::string_view nameSpace,
                                                 os::WmiResult& result) {
  Count();
  ++connections_;
  if (!HasJoined()) return WmiFailed(result, kWmiNotInitialized);
  if (failures.connect != os::kWmiOk) return WmiFailed(result, failures.connect);
  const std::string key = AsciiLower(nameSpace);
  {
    const std::lock_guard lock(mutex_);
    if (key != "root\\cimv2" && !namespaces_.contains(key)) return WmiFailed(result, os::kWmiInvalidNamespace);
  }
  result = os::kWmiOk;
  return std::make_unique<FakeWmiSession>(*this, key);
}

void FakeWmi::AddInstance(std::string_view className, FakeWmiInstance properties,
                          std::string_view nameSpace) {
  const std::lock_guard lock(mutex_);
  namespaces_[AsciiLower(nameSpace)][AsciiLower(className)].instances.push_back(
      std::move(properties));
}

void FakeWmi::Hang(std::string_view className, std::string_view nameSpace) {
  const std::lock_guard lock(mutex_);
  namespaces_[AsciiLower(nameSpace)][AsciiLower(className)].hung = true;
}

int FakeWmi::Deliver(const std::vector<FakeWmiEvent>& events) {
  std::vector<std::shared_ptr<os::WmiEventSink>> sinks;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& [id, sink] : sinks_) sinks.push_back(sink);
  }
  std::thread wmiThread([&] {
    for (const auto& sink : sinks) {
      std::vector<std::unique_ptr<os::WmiObject>> owned;
      std::vector<os::WmiObject*> view;
      for (const FakeWmiEvent& event : events) {
        owned.push_back(std::make_unique<FakeWmiObject>(*this, event.properties, event.target));
        view.push_back(owned.back().get());
      }
      sink->Indicate(view);
    }
  });
  wmiThread.join();
  return static_cast<int>(sinks.size());
}

int FakeWmi::subscriptions() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(sinks_.size());
}

std::vector<std::string> FakeWmi::Queries() const {
  const std::lock_guard lock(mutex_);
  return queries_;
}

void FakeWmi::Released() {
  --openObjects_;
  if (openApartments_.load() == 0) ++releasedAfterLeaving_;
}

void FakeWmi::Left() {
  {
    const std::lock_guard lock(mutex_);
    // Each thread keeps its own count, as COM does: only the joining thread can leave.
    auto found = joined_.find(std::this_thread::get_id());
    if (found != joined_.end() && --found->second == 0) joined_.erase(found);
  }
  --openApartments_;
}

bool FakeWmi::HasJoined() {
  const std::lock_guard lock(mutex_);
  return joined_.count(std::this_thread::get_id()) != 0;
}

std::unique_ptr<os::WmiEnumerator> FakeWmi::Query(const std::string& nameSpace,
                                                  std::string_view wql, os::WmiResult& result) {
  std::vector<FakeWmiInstance> instances;
  bool hung = false;
  {
    const std::lock_guard lock(mutex_);
    queries_.emplace_back(wql);
    if (failures.query != os::kWmiOk) return WmiFailed(result, failures.query);
    std::istringstream words{std::string(wql)};
    std::string select, star, from, className, extra;
    words >> select >> star >> from >> className;
    if (AsciiLower(select) != "select" || star != "*" || AsciiLower(from) != "from" ||
        className.empty() || (words >> extra)) {
      result = os::kWmiInvalidQuery;
      return nullptr;
    }
    const Namespace& classes = namespaces_[nameSpace];
    const auto found = classes.find(AsciiLower(className));
    if (found == classes.end()) return WmiFailed(result, os::kWmiInvalidClass);
    instances = found->second.instances;
    hung = found->second.hung;
  }
  result = os::kWmiOk;
  return std::make_unique<FakeWmiEnumerator>(*this, std::move(instances), hung);
}

}  // namespace orv::fakes
