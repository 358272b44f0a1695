#include "os/win32/security_descriptor_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

// Memory the security functions hand out with LocalAlloc.
struct LocalMemory {
  explicit LocalMemory(void* memory = nullptr) : memory_(memory) {}
  ~LocalMemory() {
    if (memory_ != nullptr) ::LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  void* memory_;
};

}  // namespace

SddlDescriptor::SddlDescriptor(std::string_view sddl) {
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl).c_str(), SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    error_ = ::GetLastError();
    if (error_ == os::kSuccess) error_ = ERROR_INVALID_PARAMETER;
    return;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

SddlDescriptor::~SddlDescriptor() {
  if (descriptor_ != nullptr) ::LocalFree(descriptor_);
}

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return {};
  const LocalMemory owner(text);
  return Narrow(text);
}

os::OsError ReadDacl(PSECURITY_DESCRIPTOR descriptor, os::ObjectSecurity& security) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return ::GetLastError();
  os::ObjectSecurity read;
  read.hasDacl = present && dacl != nullptr;
  if (read.hasDacl) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) return ::GetLastError();
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      os::AccessEntry entry;
      entry.deny = header->AceType == ACCESS_DENIED_ACE_TYPE;
      // Allowed and denied entries share one layout: header, mask, SID. Other kinds keep the
      // mask where these do but name no plain SID; they are read as granting to someone else.
      entry.mask = static_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        entry.sid = SidText(const_cast<DWORD*>(&static_cast<const ACCESS_ALLOWED_ACE*>(ace)->SidStart));
      }
      read.entries.push_back(std::move(entry));
    }
  }
  LPWSTR text = nullptr;
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr)) {
    const LocalMemory owner(text);
    read.sddl = Narrow(text);
  }
  security = std::move(read);
  return os::kSuccess;
}

os::OsError KernelObjectOwner(HANDLE object, std::string& ownerSid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                        &owner, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return error;
  const LocalMemory held(descriptor);
  ownerSid = SidText(owner);
  return os::kSuccess;
}

}  // namespace orv::win32
