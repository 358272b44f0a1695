#include "platform/service_queries.h"

#include <memory>
#include <utility>

#include "service/service_identity.h"

namespace orv {
namespace {

os::OsResult<os::ScmService> OpenForQuery(os::ServiceManager& manager, std::string_view name,
                                          std::uint32_t access,
                                          std::unique_ptr<os::ScmConnection>& connection) {
  os::OsResult<os::ScmConnection> opened = manager.Connect(os::kGenericExecute);
  if (!opened) return opened.error();
  connection = std::move(opened).take();
  return connection->OpenExisting(name, access);
}

void Store(os::OsError* out, os::OsError value) {
  if (out != nullptr) *out = value;
}

}  // namespace

std::uint32_t QueryServiceState(os::ServiceManager& manager, std::string_view name,
                                os::OsError* error) {
  std::unique_ptr<os::ScmConnection> connection;
  const auto service = OpenForQuery(manager, name, os::kServiceQueryStatus, connection);
  os::OsError failure = service.error();
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
  std::unique_ptr<os::ScmConnection> connection;
  const auto service = OpenForQuery(manager, name, os::kServiceQueryConfig | os::kServiceChangeConfig,
                                    connection);
  os::OsError failure = service.error();
  os::ServiceConfig config;
  if (service) failure = service->QueryConfig(config);
  Store(error, failure);
  return failure == os::kSuccess ? config.startType : 0;
}

bool IsServiceInstalled(os::ServiceManager& manager, std::string_view name, os::OsError* error) {
  std::unique_ptr<os::ScmConnection> connection;
  const auto service = OpenForQuery(manager, name, os::kServiceQueryConfig | os::kServiceChangeConfig,
                                    connection);
  Store(error, service.error());
  return static_cast<bool>(service);
}

bool ReadServiceConfig(os::ServiceManager& manager, std::string_view name, os::ServiceConfig& config,
                       os::OsError* error) {
  std::unique_ptr<os::ScmConnection> connection;
  const auto service = OpenForQuery(manager, name, os::kServiceQueryConfig, connection);
  os::OsError failure = service.error();
  os::ServiceConfig read;
  if (service) failure = service->QueryConfig(read);
  Store(error, failure);
  if (failure != os::kSuccess) return false;
  config = std::move(read);
  return true;
}

}  // namespace orv
