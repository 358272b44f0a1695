// Every OS service the agent uses, handed down from the composition root.
#pragma once

#include "os/clock.h"
#include "os/crypto.h"
#include "os/device_installation.h"
#include "os/encryption_library.h"
#include "os/event_log_store.h"
#include "os/event_reporter.h"
#include "os/file_system.h"
#include "os/hid_devices.h"
#include "os/http_client.h"
#include "os/named_pipe.h"
#include "os/network_adapters.h"
#include "os/network_shares.h"
#include "os/performance_counters.h"
#include "os/process_control.h"
#include "os/process_launcher.h"
#include "os/registry.h"
#include "os/service_host.h"
#include "os/service_manager.h"
#include "os/storage_device.h"
#include "os/synchronization.h"
#include "os/system_info.h"
#include "os/virtual_disk_service.h"
#include "os/volume_queries.h"
#include "os/windows_update.h"
#include "os/wmi.h"
#include "os/xml_reader.h"

namespace orv::os {

struct OsPorts {
  Registry& registry;
  EventReporter& eventReporter;
  ServiceHost& serviceHost;
  ServiceManager& serviceManager;
  Synchronization& sync;
  Clock& clock;
  SystemInfo& system;
  ProcessControl& process;
  FileSystem& files;
  ProcessLauncher& processes;
  EventLogStore& eventLogStore;
  XmlReader& xmlReader;
  WmiConnector& wmi;
  NamedPipes& pipes;
  HttpClient& http;
  Crypto& crypto;
  NetworkAdapters& adapters;
  DeviceInstallation& devices;
  PerformanceCounters& counters;
  NetworkShares& shares;
  WindowsUpdate& windowsUpdate;
  StorageDevice& storage;
  HidDevices& hid;
  VirtualDiskService& diskService;
  VolumeQueries& volumes;
  EncryptionLibrary& encryption;
};

}  // namespace orv::os
