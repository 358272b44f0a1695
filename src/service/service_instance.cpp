#include "service/service_instance.h"

#include <atomic>

#include "service/svs_base.h"

namespace orv {
namespace {

std::atomic<SvsBase*> g_serviceInstance{nullptr};

}  // namespace

void SetServiceInstance(SvsBase* service) { g_serviceInstance.store(service); }

SvsBase* GetServiceInstance() { return g_serviceInstance.load(); }

void ServiceMainCallback(const std::vector<std::string>& args) {
  if (SvsBase* service = GetServiceInstance()) {
    service->ServiceMain(args, &ServiceControlCallback, &ServiceWorkerProc);
  }
}

std::uint32_t ServiceControlCallback(std::uint32_t control, std::uint32_t eventType,
                                     void* eventData, void* context) {
  SvsBase* service = GetServiceInstance();
  return service ? service->ControlHandler(control, eventType, eventData, context) : 0;
}

void ServiceWorkerProc() {
  if (SvsBase* service = GetServiceInstance()) service->WorkerLoop();
}

}  // namespace orv
