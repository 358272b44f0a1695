// What a port gives back when it either hands out an object or fails: the object, or the
// system error that kept it from being made.
#pragma once

#include <concepts>
#include <memory>
#include <utility>

#include "os/os_error.h"

namespace orv::os {

template <typename T>
class [[nodiscard]] OsResult {
 public:
  // Success. Implicit, so that an adapter can simply `return std::make_unique<Derived>(...)`.
  // An empty pointer gave no object, so it is a failure like any other.
  template <typename U>
    requires std::convertible_to<U*, T*>
  OsResult(std::unique_ptr<U> object) : object_(std::move(object)) {
    if (!object_) error_ = kErrorInvalidHandle;
  }

  // Failure. A call can fail without leaving a code (GetLastError can return 0); it still gave
  // no object, and reads as an invalid handle so that no failure is ever logged as success.
  OsResult(OsError error) : error_(error != kSuccess ? error : kErrorInvalidHandle) {}

  explicit operator bool() const noexcept { return object_ != nullptr; }
  // kSuccess when there is an object.
  OsError error() const noexcept { return error_; }

  T* get() const noexcept { return object_.get(); }
  T* operator->() const noexcept { return object_.get(); }
  T& operator*() const noexcept { return *object_; }

  // Moves the object out (nullptr on failure), for a caller that keeps it beyond the result.
  [[nodiscard]] std::unique_ptr<T> take() && noexcept { return std::move(object_); }

 private:
  std::unique_ptr<T> object_;
  OsError error_ = kSuccess;
};

}  // namespace orv::os
