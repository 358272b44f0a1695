#include "fakes/fake_performance_counters.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace orv::fakes {

// Outside the unnamed namespace: the query class, which the counters befriend by name, holds one.
struct CounterPath {
  std::string object;
  std::string instance;  // "*" for every instance; empty for an object without instances
  std::string counter;
};

namespace {

// "\Object(instance)\Counter" or "\Object\Counter".
std::optional<CounterPath> ParsePath(std::string_view path) {
  if (path.size() < 2 || path.front() != '\\') return std::nullopt;
  const std::size_t separator = path.rfind('\\');
  if (separator == 0 || separator + 1 >= path.size()) return std::nullopt;
  std::string_view object = path.substr(1, separator - 1);
  CounterPath parsed;
  parsed.counter = std::string(path.substr(separator + 1));
  if (const std::size_t open = object.find('('); open != std::string_view::npos) {
    if (object.back() != ')') return std::nullopt;
    parsed.instance = std::string(object.substr(open + 1, object.size() - open - 2));
    object = object.substr(0, open);
  }
  parsed.object = std::string(object);
  return parsed;
}

bool IsRate(std::string_view counter) {
  return counter.ends_with("/sec") || (counter.starts_with("% ") && counter.ends_with(" Time"));
}

std::string InstancePath(const CounterPath& path, std::string_view instance) {
  std::string text = "\\" + path.object;
  if (!instance.empty()) text.append("(").append(instance).append(")");
  return text + "\\" + path.counter;
}

}  // namespace

class FakeCounterQuery final : public os::CounterQuery {
 public:
  explicit FakeCounterQuery(FakePerformanceCounters& machine) : machine_(machine) { ++machine_.openQueries_; }
  FakeCounterQuery(const FakeCounterQuery&) = delete;
  FakeCounterQuery& operator=(const FakeCounterQuery&) = delete;
  ~FakeCounterQuery() override { --machine_.openQueries_; }

  os::OsError AddEnglishCounter(std::string_view path, os::CounterId& id) override {
    if (const auto failure = machine_.failures.add.find(std::string(path)); failure != machine_.failures.add.end()) {
      return failure->second;
    }
    auto parsed = ParsePath(path);
    if (!parsed) return kPdhBadCounterName;
    const auto object = machine_.objects_.find(parsed->object);
    if (object == machine_.objects_.end()) return kPdhNoObject;
    const auto& names = object->second.counters;
    if (std::find(names.begin(), names.end(), parsed->counter) == names.end()) return kPdhNoCounter;
    // Like PDH, an instance that does not exist (yet) is no error.
    id = static_cast<os::CounterId>(counters_.size());
    counters_.push_back({std::move(*parsed), {}, {}});
    return os::kSuccess;
  }

  os::OsError Collect() override {
    if (machine_.beforeCollect) machine_.beforeCollect();
    if (machine_.failures.collect != os::kSuccess) return machine_.failures.collect;
    if (counters_.empty()) return kPdhNoData;
    for (Counter& counter : counters_) {
      counter.previous = std::exchange(counter.last, Sample{});
      counter.last.taken = true;
      const auto object = machine_.objects_.find(counter.path.object);
      if (object == machine_.objects_.end()) continue;
      for (const auto& instance : object->second.instances) {
        if (counter.path.instance != "*" && counter.path.instance != instance.name) continue;
        const auto value = instance.values.find(counter.path.counter);
        if (value != instance.values.end()) counter.last.values.emplace_back(instance.name, value->second);
      }
    }
    return os::kSuccess;
  }

  os::OsError ReadArray(os::CounterId id, std::vector<os::CounterItem>& items) override {
    items.clear();
    if (id >= counters_.size()) return kPdhInvalidHandle;
    const Counter& counter = counters_[id];
    if (!counter.last.taken) return kPdhInvalidData;
    for (const auto& [name, value] : counter.last.values) {
      os::CounterItem& item = items.emplace_back();
      item.instance = name;
      item.status = StatusOf(counter, name);
      if (item.status == os::kSuccess) item.value = value;
    }
    return os::kSuccess;
  }

  os::OsError ReadValue(os::CounterId id, std::int32_t& value) override {
    if (id >= counters_.size()) return kPdhInvalidHandle;
    const Counter& counter = counters_[id];
    if (!counter.last.taken) return kPdhInvalidData;
    for (const auto& [name, sampled] : counter.last.values) {
      if (name != counter.path.instance) continue;
      const os::OsError status = StatusOf(counter, name);
      if (status == os::kSuccess) value = sampled;
      return status;
    }
    return kPdhNoInstance;
  }

 private:
  struct Sample {
    bool taken = false;
    std::vector<std::pair<std::string, std::int32_t>> values;  // instances in the system's order
  };
  struct Counter {
    CounterPath path;
    Sample last;
    Sample previous;
  };

  os::OsError StatusOf(const Counter& counter, const std::string& instance) const {
    const auto& failing = machine_.failures.item;
    if (const auto failure = failing.find(InstancePath(counter.path, instance)); failure != failing.end()) {
      return failure->second;
    }
    if (!IsRate(counter.path.counter)) return os::kSuccess;
    const auto& before = counter.previous.values;
    const bool inBoth = std::any_of(before.begin(), before.end(), [&](const auto& v) { return v.first == instance; });
    return inBoth ? os::kSuccess : kPdhInvalidData;
  }

  FakePerformanceCounters& machine_;
  std::vector<Counter> counters_;
};

os::OsError FakePerformanceCounters::OpenQuery(std::unique_ptr<os::CounterQuery>& query) {
  query.reset();
  if (failures.open != os::kSuccess) return failures.open;
  query = std::make_unique<FakeCounterQuery>(*this);
  return os::kSuccess;
}

void FakePerformanceCounters::Set(std::string_view object, std::string_view instance, std::string_view counter,
                                  std::int32_t value) {
  Object& entry = objects_[std::string(object)];
  if (std::find(entry.counters.begin(), entry.counters.end(), counter) == entry.counters.end()) {
    entry.counters.emplace_back(counter);
  }
  auto found = std::find_if(entry.instances.begin(), entry.instances.end(),
                            [&](const Instance& i) { return i.name == instance; });
  if (found == entry.instances.end()) {
    entry.instances.push_back(Instance{std::string(instance), {}});
    found = std::prev(entry.instances.end());
  }
  found->values.insert_or_assign(std::string(counter), value);
}

void FakePerformanceCounters::Remove(std::string_view object, std::string_view instance) {
  const auto entry = objects_.find(object);
  if (entry == objects_.end()) return;
  std::erase_if(entry->second.instances, [&](const Instance& i) { return i.name == instance; });
}

}  // namespace orv::fakes
