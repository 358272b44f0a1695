#include "service/service_queries.h"

#include <memory>

#include "service/service_identity.h"

namespace orv {
namespace {

std::unique_ptr<os::ScmService> OpenForQuery(os::ServiceManager& manager, std::string_view name,
                                             std::uint32_t access, os::OsError& error,
                                             std::unique_ptr<os::ScmConnection>& connection) {
  connection = manager.Connect(os::kGenericExecute, error);
  if (!connection) return nullptr;
  return connection->OpenExisting(name, access, error);
}

void Store(os::OsError* out, os::OsError value) {
  if (out != nullptr) *out = value;
}

}  // namespace

std::uint32_t QueryServiceState(os::ServiceManager& manager, std::string_view name,
                                os::OsError* error) {
  os::OsError failure = os::kSuccess;
  std::unique_ptr<os::ScmConnection> connection;
  auto service = OpenForQuery(manager, name, os::kServiceQueryStatus, failure, connection);
  os::ServiceStatusRecord status;
  if (service) failure = service->QueryStatus(status);
  Store(error, failure);
  return failure == os::kSuccess ? status.currentState : 0;
}

bool IsServiceRunning(os::ServiceManager& manager, std::string_view name) {
  return QueryServiceState(manager, name) == kServiceRunning;
}

std::uint32_t QueryStartType(os::ServiceManager& manager, std::string_view name,
                             os::OsError* error) {
  os::OsError failure = os::kSuccess;
  std::unique_ptr<os::ScmConnection> connection;
  auto service = OpenForQuery(manager, name, os::kServiceQueryConfig | os::kServiceChangeConfig,
                              failure, connection);
  os::ServiceConfig config;
  if (service) failure = service->QueryConfig(config);
  Store(error, failure);
  return failure == os::kSuccess ? config.startType : 0;
}

bool IsServiceInstalled(os::ServiceManager& manager, std::string_view name, os::OsError* error) {
  os::OsError failure = os::kSuccess;
  std::unique_ptr<os::ScmConnection> connection;
  auto service = OpenForQuery(manager, name, os::kServiceQueryConfig | os::kServiceChangeConfig,
                              failure, connection);
  Store(error, service ? os::kSuccess : failure);
  return service != nullptr;
}

}  // namespace orv
