// The whole in-memory OS of the host tests, handed to the agent as its OsPorts.
#pragma once

#include "fakes/fake_clock.h"
#include "fakes/fake_crypto.h"
#include "fakes/fake_device_installation.h"
#include "fakes/fake_event_log_store.h"
#include "fakes/fake_event_reporter.h"
#include "fakes/fake_file_system.h"
#include "fakes/fake_hid_devices.h"
#include "fakes/fake_http_client.h"
#include "fakes/fake_named_pipes.h"
#include "fakes/fake_network_adapters.h"
#include "fakes/fake_network_shares.h"
#include "fakes/fake_performance_counters.h"
#include "fakes/fake_process_launcher.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_service_host.h"
#include "fakes/fake_service_manager.h"
#include "fakes/fake_storage_device.h"
#include "fakes/fake_storage_layout.h"
#include "fakes/fake_synchronization.h"
#include "fakes/fake_system.h"
#include "fakes/fake_windows_update.h"
#include "fakes/fake_wmi.h"
#include "fakes/fake_xml_reader.h"
#include "os/os_ports.h"
#include "platform/held_keys_registry.h"

namespace orv::fakes {

struct FakeOs {
  // Real-time waits (bounded by events) unless `simulatedTime`.
  explicit FakeOs(bool simulatedTime = false) : sync(simulatedTime ? &clock : nullptr) { pipes.sync = &sync; }

  os::OsPorts Ports() {
    return {heldRegistry, eventReporter, serviceHost, serviceManager, sync, clock, system, process, files, processes,
            eventLogStore, xmlReader, wmi, pipes, http, crypto, adapters, devices,
            counters, shares, windowsUpdate, storage, hid, diskService, volumes, encryption};
  }

  FakeRegistry registry;
  HeldKeysRegistry heldRegistry{registry};  // the agent's view, as the composition root builds it
  FakeEventReporter eventReporter;
  FakeServiceHost serviceHost;
  FakeServiceManager serviceManager;
  FakeClock clock;
  FakeSynchronization sync;
  FakeSystemInfo system;
  FakeProcessControl process;
  FakeFileSystem files{clock};
  FakeProcessLauncher processes{clock};
  FakeEventLogStore eventLogStore;
  FakeXmlReader xmlReader{files};  // the host's real reader, over the fake files
  FakeWmi wmi;
  FakeNamedPipes pipes;
  FakeHttpClient http;
  FakeCrypto crypto;
  FakeNetworkAdapters adapters;
  FakeDeviceInstallation devices;
  FakePerformanceCounters counters;
  FakeNetworkShares shares;
  FakeWindowsUpdate windowsUpdate{clock, sync};
  FakeStorageDevice storage;
  FakeHidDevices hid;
  FakeVirtualDiskService diskService;
  FakeVolumeQueries volumes;
  FakeEncryptionLibrary encryption;
};

}  // namespace orv::fakes
