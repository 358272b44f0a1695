// Security descriptors for the Win32 adapters: built from the SDDL text the portable code
// chooses, and read back into the portable form (Windows only).
#pragma once

#include <string>
#include <string_view>

#include "os/object_security.h"
#include "os/os_error.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {

// A self-relative descriptor made from SDDL text; freed when destroyed.
class SddlDescriptor {
 public:
  explicit SddlDescriptor(std::string_view sddl);
  ~SddlDescriptor();
  SddlDescriptor(const SddlDescriptor&) = delete;
  SddlDescriptor& operator=(const SddlDescriptor&) = delete;

  // kSuccess, or why the text could not be turned into a descriptor.
  os::OsError error() const { return error_; }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }
  // Attributes for a Create* call: this descriptor, handles not inherited.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
  os::OsError error_ = os::kSuccess;
};

// "S-1-5-18" and the like; empty when the SID cannot be written.
std::string SidText(PSID sid);

// The discretionary access list of `descriptor`: its entries and its SDDL.
os::OsError ReadDacl(PSECURITY_DESCRIPTOR descriptor, os::ObjectSecurity& security);

// The owner SID of a kernel object, as text.
os::OsError KernelObjectOwner(HANDLE object, std::string& ownerSid);

}  // namespace orv::win32
