#include "report/hardware_inventory.h"

#include <initializer_list>
#include <memory>
#include <utility>

#include "platform/reg_handle.h"
#include "platform/text_encoding.h"
#include "report/model_identity.h"

namespace orv {
namespace {

constexpr std::string_view kBoardQuery = "SELECT * FROM Win32_BaseBoard";
constexpr std::string_view kBiosQuery = "SELECT * FROM Win32_BIOS";
constexpr std::string_view kTcpipParameters =
    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
// yyyymmdd and the terminator of the agent's fixed date field.
constexpr std::size_t kDateUnits = 9;

struct Property {
  std::string_view name;
  std::string* text;
};

// Reads the named properties of every instance `query` returns, the last instance winning. A
// property one instance cannot give keeps what an earlier one gave.
void ReadLastInstance(WmiBase& wmi, std::string_view query,
                      std::initializer_list<Property> properties) {
  std::unique_ptr<os::WmiEnumerator> enumerator;
  if (!wmi.ExecQuery(query, enumerator)) return;
  std::unique_ptr<os::WmiObject> object;
  while (wmi.NextObject(enumerator.get(), object)) {
    for (const Property& property : properties)
      (void)object->GetText(property.name, *property.text);
  }
}

}  // namespace

std::string FirmwareDate(std::string_view releaseDate) {
  return CutToUtf16Units(releaseDate.substr(0, releaseDate.find('.')), kDateUnits);
}

HardwareInventory ReadHardwareInventory(WmiBase& wmi, std::uint32_t modelFlags) {
  HardwareInventory inventory;
  inventory.writesBoardSerial = (modelFlags & model::kBoardSeries) != 0;

  std::string boardVersion;
  ReadLastInstance(wmi, kBoardQuery,
                   {{"Product", &inventory.boardProduct},
                    {"SerialNumber", &inventory.boardSerial},
                    {"Version", &boardVersion}});
  if (modelFlags & model::kLcdSeries) {
    inventory.firmware = std::move(boardVersion);
    return inventory;
  }

  std::string releaseDate;
  std::string biosVersion;
  std::string biosSerial;
  ReadLastInstance(wmi, kBiosQuery,
                   {{"ReleaseDate", &releaseDate},
                    {"SMBIOSBIOSVersion", &biosVersion},
                    {"SerialNumber", &biosSerial}});
  if (modelFlags & model::kTemperatureSeries) {
    inventory.firmware = std::move(biosVersion);
  } else if (modelFlags & model::kBoardSeries) {
    inventory.firmware = std::move(biosVersion);
    inventory.boardSerial = std::move(biosSerial);
  } else {
    inventory.firmware = FirmwareDate(releaseDate);
  }
  return inventory;
}

std::uint32_t ReadNetworkGroupType(os::Registry& registry) {
  std::string domain;
  if (!RegHandle::GetString(registry, os::RegistryRoot::LocalMachine, kTcpipParameters, "Domain",
                            domain)) {
    return kNetworkGroupUnknown;
  }
  return domain.empty() ? kNetworkGroupWorkgroup : kNetworkGroupDomain;
}

}  // namespace orv
