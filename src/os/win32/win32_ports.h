// Owns one Win32 adapter per port and hands them out as the agent's OsPorts (Windows only).
#pragma once

#include "os/os_ports.h"
#include "os/win32/clock_win32.h"
#include "os/win32/crypto_win32.h"
#include "os/win32/device_installation_setupapi.h"
#include "os/win32/encryption_library_win32.h"
#include "os/win32/event_log_store_win32.h"
#include "os/win32/event_reporter_win32.h"
#include "os/win32/file_system_win32.h"
#include "os/win32/hid_devices_win32.h"
#include "os/win32/http_client_winhttp.h"
#include "os/win32/named_pipe_win32.h"
#include "os/win32/network_adapters_win32.h"
#include "os/win32/network_shares_win32.h"
#include "os/win32/performance_counters_pdh.h"
#include "os/win32/process_control_win32.h"
#include "os/win32/process_launcher_win32.h"
#include "os/win32/registry_win32.h"
#include "os/win32/service_host_win32.h"
#include "os/win32/service_manager_win32.h"
#include "os/win32/storage_device_win32.h"
#include "os/win32/synchronization_win32.h"
#include "os/win32/system_info_win32.h"
#include "os/win32/virtual_disk_service_vds.h"
#include "os/win32/volume_queries_win32.h"
#include "os/win32/windows_update_wua.h"
#include "os/win32/wmi_win32.h"
#include "os/win32/xml_reader_xmllite.h"
#include "platform/held_keys_registry.h"

namespace orv::win32 {

struct Win32Ports {
  Win32Registry registry;
  HeldKeysRegistry heldRegistry{registry};  // what the agent gets, so a round can hold its keys
  Win32EventReporter eventReporter;
  Win32ServiceHost serviceHost;
  Win32ServiceManager serviceManager;
  Win32Synchronization sync;
  Win32Clock clock;
  Win32SystemInfo system;
  Win32ProcessControl process;
  Win32FileSystem files;
  Win32ProcessLauncher processes;
  Win32EventLogStore eventLogStore;
  XmlLiteReader xmlReader;
  Win32WmiConnector wmi;
  Win32NamedPipes pipes;
  WinHttpClient http;
  Win32Crypto crypto;
  Win32NetworkAdapters adapters;
  SetupApiDeviceInstallation devices;
  PdhPerformanceCounters counters;
  Win32NetworkShares shares;
  WuaWindowsUpdate windowsUpdate{sync};
  Win32StorageDevice storage;
  Win32HidDevices hid;
  VdsDiskService diskService;
  Win32VolumeQueries volumes;
  Win32EncryptionLibrary encryption;

  os::OsPorts Ports() {
    return {heldRegistry, eventReporter, serviceHost, serviceManager, sync, clock, system, process, files, processes,
            eventLogStore, xmlReader, wmi, pipes, http, crypto, adapters, devices,
            counters, shares, windowsUpdate, storage, hid, diskService, volumes, encryption};
  }
};

}  // namespace orv::win32
