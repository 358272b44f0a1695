#include "service/service_security.h"

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "service/service_identity.h"

namespace orv {
namespace {

constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kUserDefinedControl = 0x100;
constexpr std::uint32_t kReadAndQuery = 0x2008D;
const std::string kSystem(os::kSidLocalSystem);
const std::string kAdministrators(os::kSidAdministrators);
const std::string kInteractive = "S-1-5-4";
const std::string kEveryone = "S-1-1-0";

TEST(ServiceDacl, OnlySystemAndAdministratorsMayDoMoreThanReadAndQuery) {
  const struct {
    const char* what;
    os::ObjectSecurity security;
    bool grantsMore;
  } kCases[] = {
      {"the system's default", fakes::FakeService::DefaultSecurity(), true},
      {"no list at all", {false, {}, ""}, true},
      {"the agent's own",
       {true, {{false, 0xF01FF, kAdministrators}, {false, 0x201FD, kSystem}, {false, kReadAndQuery, kInteractive}}, ""},
       false},
      {"everyone reads generically", {true, {{false, kGenericRead | 0x20000, kEveryone}}, ""}, false},
      {"a user-defined control alone", {true, {{false, kUserDefinedControl, kInteractive}}, ""}, true},
      {"generic execute means start and stop", {true, {{false, kGenericExecute, kEveryone}}, ""}, true},
      {"denying takes nothing away from the rule", {true, {{true, 0xF01FF, kInteractive}}, ""}, false},
      {"an entry naming no plain SID", {true, {{false, 0x10, ""}}, ""}, true},
  };
  for (const auto& c : kCases) EXPECT_EQ(GrantsMoreThanReadToOthers(c.security), c.grantsMore) << c.what;
}

TEST(ServiceDacl, TheRunningServiceNarrowsAWideListOnlyAndSurvivesFailures) {
  const struct {
    const char* what;
    bool installed;
    os::ObjectSecurity security;
    os::OsError queryError;
    os::OsError setError;
    ServiceDaclCheck outcome;
    int sets;
  } kCases[] = {
      {"default list", true, fakes::FakeService::DefaultSecurity(), 0, 0, ServiceDaclCheck::Narrowed, 1},
      {"no list", true, {false, {}, ""}, 0, 0, ServiceDaclCheck::Narrowed, 1},
      {"already narrow", true, {true, {{false, kReadAndQuery, kInteractive}}, "D:x"}, 0, 0,
       ServiceDaclCheck::AlreadyNarrow, 0},
      {"unreadable", true, fakes::FakeService::DefaultSecurity(), os::kErrorAccessDenied, 0,
       ServiceDaclCheck::Failed, 0},
      {"not replaceable", true, fakes::FakeService::DefaultSecurity(), 0, os::kErrorAccessDenied,
       ServiceDaclCheck::Failed, 0},
      {"not installed", false, {}, 0, 0, ServiceDaclCheck::Failed, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fakes::FakeOs os;
    if (c.installed) os.serviceManager.services[std::string(kServiceName)].security = c.security;
    os.serviceManager.querySecurityError = c.queryError;
    os.serviceManager.setSecurityError = c.setError;
    EXPECT_EQ(NarrowServiceDacl(os.Ports(), kServiceName), c.outcome);
    if (c.installed) {
      const fakes::FakeService& service = os.serviceManager.services.at(std::string(kServiceName));
      EXPECT_EQ(service.securitySets, c.sets);
      if (c.sets == 1) {
        EXPECT_EQ(service.security.sddl, os::kServiceDacl);
      }
    }
    // Only what changing the list needs: no right to stop, delete or reconfigure.
    for (const std::uint32_t access : os.serviceManager.openAccesses) {
      EXPECT_EQ(access, os::kReadControl | os::kWriteDac);
    }
    EXPECT_EQ(os.serviceManager.openHandles, 0);
  }
}

}  // namespace
}  // namespace orv
