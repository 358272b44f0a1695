// oscheck SUB-COMMAND [ARGS...]: the agent's Win32 adapters driven on their own under Wine, one
// sub-command per adapter: crypto, hid, http, layout, net, pipe, storage, wmi, xml. Each prints
// tab-separated lines for the wine tests to read, texts in UTF-8 with backslash, tab, CR and LF
// escaped. Exit status 2 for an unknown sub-command or wrong arguments.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "model/disk_info.h"
#include "model/pipe_records.h"
#include "monitors/common/ups_ctrl_apc.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/disk_readers.h"
#include "os/win32/encryption_library_win32.h"
#include "os/win32/file_system_win32.h"
#include "os/win32/hid_devices_win32.h"
#include "os/win32/network_adapters_win32.h"
#include "os/win32/process_control_win32.h"
#include "os/win32/registry_win32.h"
#include "os/win32/storage_device_win32.h"
#include "os/win32/virtual_disk_service_vds.h"
#include "os/win32/volume_queries_win32.h"
#include "os/win32/wide_text.h"
#include "os/win32/win32_ports.h"
#include "os/win32/windows_api.h"
#include "os/win32/wmi_win32.h"
#include "os/win32/xml_reader_xmllite.h"
#include "platform/agent_ctrl_config_file.h"
#include "platform/c_crypt_string.h"
#include "platform/network_info.h"
#include "platform/wmi_base.h"
#include "report/hardware_inventory.h"
#include "webapi/agent_ctrl_webapi.h"
// After <windows.h>.
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

using namespace orv;

namespace {

// Text for a tab-separated line: backslash, tab, CR and LF escaped, so one field stays one field.
std::string Field(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : nullptr;
    if (escape != nullptr) out += escape; else out += c;
  }
  return out;
}

// Win32 errors and HRESULTs as the tests read them.
std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

template <typename Number>
  requires std::is_arithmetic_v<Number>
std::string Field(Number n) { return std::to_string(n + 0); }

// One line: the tag, then each field after a tab.
template <typename... Fields>
void Print(std::string_view tag, const Fields&... fields) {
  std::string out(tag);
  ((out += '\t', out += Field(fields)), ...);
  std::puts(out.c_str());
}

// oscheck crypto COMMAND ...: the cryptography adapter through the agent's own code, for the wine
// tier. One line of tab-separated fields per answer on stdout, texts as UTF-8:
//   sha256 HEX             -> "sha256" TAB <0|1> TAB <64 lower-case hex digits>, of the bytes
//                             HEX spells ("-" for none: arguments pass through code pages)
//   decrypt KEY VALUE      -> "decrypt" TAB <the ANSI code page> TAB <CCryptString status> TAB <text>
//                             (HKLM\KEY, value VALUE)
//   signature PATH         -> "signature" TAB <names read 0|1> TAB <error> TAB <issuer> TAB <subject>
//                             TAB <trusted 0|1> TAB <error> TAB <issuer> TAB <subject>
//                             (the embedded signer's names, then the trust answer with the names of
//                             the signer the verification accepted)
//   containers             -> "acquire" TAB <attempt> TAB <0|1> TAB <error>: the enhanced
//                             provider's default key container deleted, the default asked for,
//                             then the adapter's key
//   private DIR            -> "private" TAB <error> TAB <owner: system|administrators|self|other>
//                             TAB <folder SDDL> TAB <removal error>: the update's private folder
//                             made, read back and removed through the file-system adapter's hold
// Errors as 0x%08X. Exit status 2 for an unknown command or a wrong argument count.

// The default container is the settings program's choice and what a service account may lack:
// with none there, the adapter must still derive a key.
void ContainerAttempts() {
  for (const auto& [label, flags] : {std::pair{"deletekeyset", DWORD{CRYPT_DELETEKEYSET}}, std::pair{"default", DWORD{0}}}) {
    HCRYPTPROV provider = 0;
    const bool ok = ::CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, flags) != 0;
    Print("acquire", label, ok, Hex(ok ? 0 : ::GetLastError()));
    // A deleted key set hands back no handle to release.
    if (ok && provider != 0 && flags == 0) ::CryptReleaseContext(provider, 0);
  }
  os::KeyStep failed = os::KeyStep::Done;
  const std::uint8_t phrase[] = {'x'};
  const auto key = win32::Win32Crypto().DeriveRc4Key(phrase, failed);
  Print("acquire", "adapter", static_cast<bool>(key), Hex(key.error()));
}

// The update's private folder, as the system reads it back.
void PrivateFolder(win32::Win32Ports& ports, const std::string& folder) {
  const os::OsError made = ports.files.MakePrivateDirectory(folder);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  wchar_t* text = nullptr;
  std::string sddl = "unreadable";
  if (::GetNamedSecurityInfoW(win32::Wide(folder).c_str(), SE_FILE_OBJECT, kParts, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) == ERROR_SUCCESS &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kParts, &text, nullptr)) {
    sddl = win32::Narrow(text);
    ::LocalFree(text);
  }
  if (descriptor != nullptr) ::LocalFree(descriptor);
  auto held = ports.files.HoldPath(folder);
  static constexpr const char* kOwners[] = {"system", "administrators", "self", "other", "none"};
  const auto kind = held ? static_cast<std::size_t>(held->Owner()) : 4;
  Print("private", Hex(made), kOwners[kind], sddl,
        Hex(held ? held->Remove() : held.error()));
}

int CryptoCheck(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto arg = [argv](int i) { return win32::Narrow(argv[i]); };
  win32::Win32Ports ports;
  if (command == L"sha256" && argc == 3) {
    std::vector<std::uint8_t> data;
    const std::string hexText = arg(2) == "-" ? std::string() : arg(2);
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2)
      data.push_back(static_cast<std::uint8_t>(std::stoul(hexText.substr(i, 2), nullptr, 16)));
    std::array<std::uint8_t, 32> digest{};
    const bool ok = ports.crypto.Sha256(data, digest);
    std::string hex;
    for (const auto b : digest) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0x0F]};
    Print("sha256", ok, hex);
  } else if (command == L"decrypt" && argc == 4) {
    std::string text;
    const int status = CCryptString(ports.Ports()).DecryptRegistryValue(text, arg(2), arg(3));
    Print("decrypt", ::GetACP(), status, text);
  } else if (command == L"signature" && argc == 3) {
    os::SignerNames embedded, verified;
    os::OsError error = 0, trustError = 0;
    const bool read = CCryptString(ports.Ports()).GetSignerNames(arg(2), embedded.issuer, embedded.subject, error);
    const bool trusted = ports.crypto.VerifySignature(arg(2), verified, trustError);
    Print("signature", read, Hex(error), embedded.issuer, embedded.subject, trusted, Hex(trustError), verified.issuer,
          verified.subject);
  } else if (command == L"private" && argc == 3) {
    PrivateFolder(ports, arg(2));
  } else if (command == L"containers" && argc == 2) {
    ContainerAttempts();
  } else {
    std::fprintf(stderr, "oscheck crypto: unknown command or wrong arguments\n");
    return 2;
  }
  return 0;
}

// oscheck hid: the HID devices as the UPS reader sees them, through the real adapter, and prints
//   list TAB <error>                                        (only when the list cannot be had)
//   interface TAB <index> TAB <error> TAB <hardware id>     (one line per index until an error)
//   open TAB <index> TAB <error>
//   string|caps|input TAB <index> TAB <error> TAB <ms>      (each request to a device, timed)
//   ups TAB <ReadUps result> TAB <found> TAB <read ok> TAB <last error>

// One request to the device, timed: every one must come back within the adapter's bound.
template <typename Request>
os::OsError Timed(const char* what, unsigned index, Request request) {
  const auto start = std::chrono::steady_clock::now();
  const os::OsError error = request();
  Print(what, index, error,
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  return error;
}

void Describe(os::HidDevice& device, unsigned index) {
  for (const auto which : {os::HidString::Manufacturer, os::HidString::Product, os::HidString::SerialNumber}) {
    os::HidStringBuffer raw{};
    Timed("string", index, [&] { return device.ReadString(which, raw); });
  }
  os::HidCapabilities caps;
  if (Timed("caps", index, [&] { return device.Capabilities(caps); }) != 0 || caps.inputReportLength == 0) return;
  std::vector<std::uint8_t> input(caps.inputReportLength, 0);
  if (!caps.inputButtonReportIds.empty()) input[0] = caps.inputButtonReportIds.front();
  Timed("input", index, [&] { return device.GetInputReport(input); });
}

int HidCheck(int, wchar_t**) {
  win32::Win32HidDevices hid;
  if (os::OsResult<os::HidDeviceSet> set = hid.PresentInterfaces(); !set) {
    Print("list", set.error());
  } else {
    for (unsigned index = 0; index < 100; ++index) {
      std::string id;
      const os::OsError error = set->Interface(index, id);
      Print("interface", index, error, id);
      if (error != 0) break;
      os::OsResult<os::HidDevice> device = set->Open(index);
      Print("open", index, device.error());
      if (device) Describe(*device, index);
    }
  }
  UPSCtrl_APC ups(hid);
  const bool result = ups.ReadUps();
  Print("ups", result, ups.found, ups.readOk, ups.lastError);
  return 0;
}

// oscheck http: HTTP exchanges through the real WinHTTP adapter and the Web API client, for the
// wine-tier transport test.
//
//   oscheck http raw METHOD HOST PORT PATH OUTFILE [--header LINE]... [--body TEXT] [--deadline MS]
//       one exchange through WinHttpClient; the body goes to OUTFILE.
//   oscheck http api KIND
//       one request of KIND through AgentCtrl_WebAPI for the staging host (no TLS), with the
//       proxy and path prefix of the registry as the agent reads them.
//   oscheck http errtext CODE
//       the text the agent logs for CODE from "winhttp.dll".
// Prints one line of key=value pairs; exits 0 when the exchange (or look-up) was carried out.

int Raw(const std::vector<std::string>& args) {
  if (args.size() < 6) return 2;
  os::HttpRequest request;
  request.userAgent = std::string(AgentCtrl_WebAPI::kUserAgent);
  std::tie(request.method, request.host, request.path) = std::tie(args[1], args[2], args[4]);
  request.port = static_cast<std::uint16_t>(std::strtoul(args[3].c_str(), nullptr, 10));
  request.secure = false;
  for (std::size_t i = 6; i + 1 < args.size(); i += 2) {
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    if (option == "--header") request.headers += (request.headers.empty() ? "" : "\r\n") + value;
    else if (option == "--body") request.body.assign(value.begin(), value.end());
    else if (option == "--deadline") request.deadlineMs = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    else return 2;
  }
  win32::WinHttpClient client;
  os::HttpResponse response;
  os::OsError error = os::kSuccess;
  const bool answered = client.IsAvailable() && client.Exchange(request, response, error);
  if (FILE* out = _wfopen(win32::Wide(args[5]).c_str(), L"wb")) {
    if (!response.body.empty()) std::fwrite(response.body.data(), 1, response.body.size(), out);
    std::fclose(out);
  }
  std::printf("answered=%d status=%s bytes=%zu error=%s\n", answered ? 1 : 0, Field(response.status).c_str(),
              response.body.size(), Field(error).c_str());
  return 0;
}

int Api(const std::vector<std::string>& args) {
  if (args.size() < 2) return 2;
  const int kind = std::atoi(args[1].c_str());
  win32::Win32Ports ports;
  AgentCtrl_WebAPI client(ports.Ports(), 0);
  client.SetDeviceIdText("0123456789ABCDEF0123456789ABCDEF");
  client.SetDeviceSubkey("00:11:22:AA:BB:CC");
  service::RegistrationRecord record;
  record.productId = "PID-1";
  record.productName = "NAS \"Pro\"";
  record.macAddress = "00:11:22:AA:BB:CC";
  const AccountData account{"user@example.jp", "abc", "棚のNAS", "SN-1"};
  const int result = client.Request(kind, &record, &account);
  std::printf("result=%d status=%s error=%s dev_id=%s text=%s\n", result, Field(client.Response().status).c_str(),
              Field(client.LastError()).c_str(), client.Response().dev_id.c_str(), client.ResultMessage(false).c_str());
  return 0;
}

int HttpCheck(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(win32::Narrow(argv[i]));
  if (args.empty()) return 2;
  if (args[0] == "raw") return Raw(args);
  if (args[0] == "api") return Api(args);
  if (args[0] != "errtext" || args.size() < 2) return 2;
  const auto code = static_cast<os::OsError>(std::strtoul(args[1].c_str(), nullptr, 0));
  std::printf("text=%s\n", win32::Win32SystemInfo().ModuleErrorText(AgentCtrl_WebAPI::kErrorModuleName, code).c_str());
  return 0;
}

// oscheck layout: the storage layout's adapters as a monitoring pass calls them, one command each:
//   oscheck layout vds
//     vds TAB <ok> TAB <error, 0x%08X> TAB <disks> TAB <volumes> TAB <letters>
//   oscheck layout volume ROOT
//     space TAB <ok> TAB <error> TAB <free to caller> TAB <total> TAB <total free>
//     filesystem TAB <ok> TAB <error> TAB <name>
//   oscheck layout encryption PATH VOLUME-ID
//     load TAB <error> TAB <loaded>
//     query TAB <result> TAB <drive number, 4294967295 when untouched>
//     reload TAB <error>            (a second Load while loaded)
//     unload TAB <loaded>
//     after_unload TAB <result>
int LayoutCheck(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto arg = [argv](int i) { return win32::Narrow(argv[i]); };
  os::OsError error = 0;
  if (command == L"vds" && argc == 2) {
    os::VdsSnapshot snapshot;
    snapshot.disks.resize(1);  // must come back cleared
    const bool ok = win32::VdsDiskService().Enumerate(snapshot, error);
    Print("vds", ok, Hex(error), snapshot.disks.size(), snapshot.volumes.size(), snapshot.driveLetters.size());
  } else if (command == L"volume" && argc == 3) {
    win32::Win32VolumeQueries volumes;
    os::VolumeSpace space;
    bool ok = volumes.QuerySpace(arg(2), space, error);
    Print("space", ok, error, space.freeToCaller, space.totalBytes, space.totalFree);
    std::string name = "untouched";
    error = 0;
    ok = volumes.QueryFileSystemName(arg(2), name, error);
    Print("filesystem", ok, error, name);
  } else if (command == L"encryption" && argc == 4) {
    win32::Win32EncryptionLibrary library;
    const os::OsError loadError = library.Load(arg(2));
    Print("load", loadError, library.IsLoaded());
    std::uint32_t driveNumber = 0xFFFFFFFF;
    Print("query", library.GetDriveNoByGUID(arg(3), driveNumber), driveNumber);
    if (library.IsLoaded()) Print("reload", library.Load(arg(2)));
    library.Unload();
    Print("unload", library.IsLoaded());
    Print("after_unload", library.GetDriveNoByGUID(arg(3), driveNumber));
  } else {
    std::fprintf(stderr, "usage: oscheck layout vds | volume ROOT | encryption PATH VOLUME-ID\n");
    return 2;
  }
  return 0;
}

// oscheck net: lists the machine's ports the way the agent sees them, through the real IP helper
// adapter and NetworkInfo::Refresh, and prints
//   raw TAB <adapter count> TAB then per raw adapter: <physical address length>
//   port TAB <MAC> TAB <has address> TAB <address> TAB <DNS server> TAB <gateway>
//        TAB <description> TAB <counter instance name>      (one line per port, in port order)
//   device TAB <device MAC text>
// Exit status 1 when Refresh fails.
int NetCheck(int, wchar_t**) {
  win32::Win32NetworkAdapters adapters;
  std::vector<os::RawAdapter> raw;
  os::OsError error = 0;
  if (!adapters.List(raw, error)) return Print("error", error), 1;
  std::printf("raw\t%zu", raw.size());
  for (const auto& adapter : raw) std::printf("\t%zu", adapter.physicalAddress.size());
  std::printf("\n");
  NetworkInfo info(adapters);
  if (!info.Refresh()) return 1;
  const auto dotted = [](const std::array<std::uint8_t, 4>& a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return std::string(text);
  };
  for (const AdapterEntry& entry : info.Adapters()) {
    Print("port", NetworkInfo::FormatMac(entry), entry.hasAddress, dotted(entry.address), dotted(entry.dnsServer),
          dotted(entry.gateway), entry.description, CounterInstanceName(entry));
  }
  Print("device", info.DeviceMacText());
  return 0;
}

// oscheck storage: reads one disk through the real storage adapter the way a monitoring pass does,
// and prints what each reader gave:
//   identify|smart_data|smart_thresholds TAB <ok> TAB <error> TAB <block all zero>
//   descriptor TAB <ok> TAB <error> TAB <vendor> TAB <product> TAB <revision> TAB <serial>
//   sectors TAB <ok> TAB <error> TAB <logical> TAB <physical>
//   disk TAB <name> TAB <smart valid> TAB <transfer mode> TAB <ATA version> TAB <features>
// for the device name given as the only argument.
int StorageCheck(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::string device = win32::Narrow(argv[1]);
  win32::Win32StorageDevice disks;
  os::OsError error = 0;
  const auto allZero = [](const auto& block) { return std::ranges::all_of(block, [](std::uint8_t b) { return b == 0; }); };
  IdentifyBlock identify;
  identify.fill(0xEE);
  bool ok = Identify(disks, device, identify, true, &error);
  Print("identify", ok, error, allZero(identify));
  for (const auto& [what, feature] : {std::pair{"smart_data", kSmartReadData}, std::pair{"smart_thresholds", kSmartReadThresholds}}) {
    SmartBlock smart;
    smart.fill(0xEE);
    ok = ReadSmart(disks, device, feature, smart, &error);
    Print(what, ok, error, allZero(smart));
  }
  DeviceDescriptorTexts texts;
  ok = QueryDeviceDescriptor(disks, device, texts, &error);
  Print("descriptor", ok, error, texts.vendorId, texts.productId, texts.productRevision, texts.serialNumber);
  SectorSizes sizes;
  ok = QuerySectorSizes(disks, device, sizes, &error);
  Print("sectors", ok, error, sizes.logical, sizes.physical);
  LayoutDisk entry;
  entry.diskAddress = "Port0Path0Target0Lun0";
  entry.deviceName = device;
  entry.friendlyName = texts.productId;
  entry.mediaType = kMediaTypeFixed;
  entry.portMask = 1;
  const DiskInfo disk = ReadLayoutDisk(disks, entry, false, 0x100000 | 0x2000 | 0x8);
  Print("disk", disk.name, disk.smartValid, disk.transferMode, disk.ataVersion, disk.features);
  return 0;
}

// oscheck wmi FLAGS...: reads the hardware inventory through the real WMI adapter once per model
// flags argument (decimal or 0x hex), the way AgentCtrl_Upload does at construction, and prints
//   <flags as 0x%08X> TAB <connected 0|1> TAB <last result as 0x%08X> TAB <board product>
//   TAB <board serial> TAB <firmware text> TAB <writes board serial 0|1>
// then "network" TAB <network group type>. Exit status 2 for an unreadable argument.
int WmiCheck(int argc, wchar_t** argv) {
  orv::win32::Win32WmiConnector connector;
  for (int i = 1; i < argc; ++i) {
    wchar_t* end = nullptr;
    const unsigned long flags = std::wcstoul(argv[i], &end, 0);
    if (end == argv[i] || *end != L'\0' || flags > 0xFFFFFFFFUL) return 2;
    // A WmiBase per reading, as each AgentCtrl_Upload makes its own.
    orv::WmiBase wmi(connector);
    const orv::HardwareInventory inventory = orv::ReadHardwareInventory(wmi, static_cast<std::uint32_t>(flags));
    Print(Hex(static_cast<std::uint32_t>(flags)), wmi.Connected(), Hex(static_cast<std::uint32_t>(wmi.LastResult())),
          inventory.boardProduct, inventory.boardSerial, inventory.firmware, inventory.writesBoardSerial);
  }
  orv::win32::Win32Registry registry;
  Print("network", orv::ReadNetworkGroupType(registry));
  return 0;
}

// oscheck xml FILE...: loads each event definition file through the XmlLite adapter and prints
//   <status> <version, or - when empty> <application rules> <system rules> <other rules> <stop entries>
// With --rules before the files, each rule and stop entry follows on its own line
// ("  A|S|O src<TAB>evt_id<TAB>act_id<TAB>msg", "  X act_id"), texts in UTF-8 with
// backslash, tab, CR and LF escaped.
int XmlCheck(int argc, wchar_t** argv) {
  win32::Win32FileSystem files;
  win32::XmlLiteReader xml;
  const bool withRules = argc > 1 && std::wstring_view(argv[1]) == L"--rules";
  for (int i = withRules ? 2 : 1; i < argc; ++i) {
    AgentCtrl_ConfigFile config(files, xml);
    config.SetPath(win32::Narrow(argv[i]));
    config.Load();
    const std::string version = config.GetVersion().empty() ? "-" : Field(config.GetVersion());
    std::printf("%d %s %zu %zu %zu %zu\n", config.GetLoadStatus(), version.c_str(), config.ApplicationDefinitions().size(),
                config.SystemDefinitions().size(), config.OtherDefinitions().size(), config.StopList().size());
    if (!withRules) continue;
    for (const auto& [kind, rules] : {std::pair{"A", &config.ApplicationDefinitions()},
                                      std::pair{"S", &config.SystemDefinitions()}, std::pair{"O", &config.OtherDefinitions()}}) {
      for (const EventDefinition& rule : *rules)
        Print(std::string("  ").append(kind).append(" ").append(Field(rule.src)), rule.evt_id, rule.act_id, rule.msg);
    }
    for (const std::string& code : config.StopList()) Print(std::string("  X ").append(Field(code)));
  }
  return 0;
}

}  // namespace

int PipeCheck(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv) {
  static constexpr std::pair<std::wstring_view, int (*)(int, wchar_t**)> kSubCommands[] = {
      {L"crypto", CryptoCheck}, {L"hid", HidCheck}, {L"http", HttpCheck},
      {L"layout", LayoutCheck}, {L"net", NetCheck}, {L"pipe", PipeCheck},
      {L"storage", StorageCheck}, {L"wmi", WmiCheck}, {L"xml", XmlCheck}};
  // Libraries are looked up as in the agent: loaded by name only from the system folder.
  if (orv::win32::Win32ProcessControl().LoadLibrariesFromSystemFolderOnly() != orv::os::kSuccess) return 3;
  for (const auto& [name, run] : kSubCommands) if (argc >= 2 && name == argv[1]) return run(argc - 1, argv + 1);
  std::fprintf(stderr, "usage: oscheck crypto|hid|http|layout|net|pipe|storage|wmi|xml [ARGS...]\n");
  return 2;
}
