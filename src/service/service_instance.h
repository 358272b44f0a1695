// The process's single service object and the plain callbacks through which the control
// manager and the worker thread reach it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

class SvsBase;

// Set by the controller's constructor; the callbacks do nothing while it is unset.
void SetServiceInstance(SvsBase* service);
SvsBase* GetServiceInstance();

void ServiceMainCallback(const std::vector<std::string>& args);
std::uint32_t ServiceControlCallback(std::uint32_t control, std::uint32_t eventType,
                                     void* eventData, void* context);
void ServiceWorkerProc();

}  // namespace orv
