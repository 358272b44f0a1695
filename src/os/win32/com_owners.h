// Owners of what COM hands out (Windows only): interface pointers, BSTRs, VARIANTs and task
// memory, each released once, whatever way a call returns; and a thread's membership of the
// multithreaded apartment for one call.
#pragma once

#include <string_view>

// clang-format off
#include "os/win32/windows_api.h"
#include <ole2.h>
#include <oleauto.h>
// clang-format on

#include "os/win32/unique_handle.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {

template <typename Interface>
struct ComTraits {
  using Handle = Interface*;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { h->Release(); }
};
template <typename Interface>
using UniqueCom = UniqueHandle<ComTraits<Interface>>;

struct BstrTraits {
  using Handle = BSTR;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::SysFreeString(h); }
};
using UniqueBstr = UniqueHandle<BstrTraits>;

// Memory a callee allocated with CoTaskMemAlloc (arrays of records, strings).
template <typename T>
struct CoTaskMemTraits {
  using Handle = T*;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::CoTaskMemFree(h); }
};
template <typename T>
using UniqueCoTaskMem = UniqueHandle<CoTaskMemTraits<T>>;

// Null when out of memory.
inline UniqueBstr MakeBstr(std::string_view utf8) {
  const std::wstring wide = Wide(utf8);
  return UniqueBstr(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

// Clears whatever the callee stored, strings and interfaces included.
class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { ::VariantClear(&value_); }
  VARIANT* get() { return &value_; }
  const VARIANT& operator*() const { return value_; }

 private:
  VARIANT value_;
};

// The calling thread's membership of the multithreaded apartment for one call. A thread that
// is already in a single-threaded apartment stays there and is used as it is. Declare it before
// every interface of the call, so that they are released before the thread leaves COM.
class CallApartment {
 public:
  CallApartment() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  CallApartment(const CallApartment&) = delete;
  CallApartment& operator=(const CallApartment&) = delete;
  ~CallApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  // The failure that leaves the thread without COM, or S_OK.
  HRESULT Failure() const { return FAILED(result_) && result_ != RPC_E_CHANGED_MODE ? result_ : S_OK; }

 private:
  HRESULT result_;
};

// A call that succeeded without handing out what it should have is a failure all the same.
inline HRESULT FailureOr(HRESULT hr, bool received) { return FAILED(hr) ? hr : received ? S_OK : E_FAIL; }

}  // namespace orv::win32
