#include "service/service_security.h"

#include <cstdio>

namespace orv {
namespace {

// Query configuration and status, enumerate dependents, interrogate, read the list itself,
// and generic read (which maps to these).
constexpr std::uint32_t kReadOnlyServiceRights = 0x0001 | 0x0004 | 0x0008 | 0x0080 | 0x20000 | 0x80000000;

bool IsSystemOrAdministrators(std::string_view sid) {
  return sid == os::kSidLocalSystem || sid == os::kSidAdministrators;
}

std::string ErrorNote(std::string_view what, os::OsError error) {
  char code[16];
  std::snprintf(code, sizeof code, "%u", error);
  return std::string("(").append(what).append(" failed: error ").append(code).append(")");
}

}  // namespace

bool GrantsMoreThanReadToOthers(const os::ObjectSecurity& security) {
  if (!security.hasDacl) return true;
  for (const os::AccessEntry& entry : security.entries) {
    if (entry.deny || IsSystemOrAdministrators(entry.sid)) continue;
    if ((entry.mask & ~kReadOnlyServiceRights) != 0) return true;
  }
  return false;
}

ServiceDaclCheck NarrowServiceDacl(const os::OsPorts& os, std::string_view serviceName) {
  const auto manager = os.serviceManager.Connect(os::kScManagerConnect);
  if (!manager) return ServiceDaclCheck::Failed;
  const auto service = manager->OpenExisting(serviceName, os::kReadControl | os::kWriteDac);
  if (!service) return ServiceDaclCheck::Failed;
  os::ObjectSecurity security;
  if (service->QuerySecurity(security) != os::kSuccess) return ServiceDaclCheck::Failed;
  if (!GrantsMoreThanReadToOthers(security)) return ServiceDaclCheck::AlreadyNarrow;
  return service->SetSecurity(os::kServiceDacl) == os::kSuccess ? ServiceDaclCheck::Narrowed
                                                                 : ServiceDaclCheck::Failed;
}

std::string DescribeServiceDacl(const os::OsPorts& os, std::string_view serviceName) {
  const auto manager = os.serviceManager.Connect(os::kScManagerConnect);
  if (!manager) return ErrorNote("OpenSCManager", manager.error());
  const auto service = manager->OpenExisting(serviceName, os::kReadControl);
  if (!service) return ErrorNote("OpenService", service.error());
  os::ObjectSecurity security;
  const os::OsError error = service->QuerySecurity(security);
  if (error != os::kSuccess) return ErrorNote("QueryServiceObjectSecurity", error);
  std::string text = security.hasDacl ? security.sddl : std::string("D:NO_ACCESS_CONTROL");
  text += GrantsMoreThanReadToOthers(security) ? " (lets other users control the service)"
                                               : " (only SYSTEM and Administrators control the service)";
  return text;
}

}  // namespace orv
