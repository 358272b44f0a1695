// Owners of what COM hands out (Windows only): interface pointers, BSTRs and VARIANTs, each
// released once, whatever way a call returns.
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

}  // namespace orv::win32
