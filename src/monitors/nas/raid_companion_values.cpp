#include "monitors/nas/raid_companion_values.h"

#include "model/monitor_state.h"
#include "platform/decimal_text.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::string_view kMeridexMarkerKey = "SOFTWARE\\MERIDEX\\NAS";
constexpr std::string_view kMeridexRoot = "SOFTWARE\\Wow6432Node\\MERIDEX\\Applications\\UnitDeck";
constexpr std::string_view kTavolenRoot = "SOFTWARE\\Wow6432Node\\Tavolen\\Applications\\TavolenNas";

std::uint32_t Number(const std::string& text) { return static_cast<std::uint32_t>(ParseDecimal(text)); }

std::vector<FiveTexts> Rows(const RegHandle& key, std::string_view name) {
  std::vector<std::string> strings;
  std::vector<FiveTexts> rows;
  if (!key.GetMultiString(name, strings)) return rows;
  for (const std::string& text : strings) {
    FiveTexts row;
    ParseFiveTextRow(text, row);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

std::string RaidProductRoot(os::Registry& registry) {
  const bool meridex = RegHandle::KeyExists(registry, os::RegistryRoot::LocalMachine, kMeridexMarkerKey);
  return std::string(meridex ? kMeridexRoot : kTavolenRoot);
}

RaidCompanionValues ReadRaidCompanionValues(os::Registry& registry) {
  const RegHandle check(registry, os::RegistryRoot::LocalMachine, RaidProductRoot(registry) + "\\SVCRAIDCHK");
  RaidCompanionValues values;
  for (const FiveTexts& row : Rows(check, "NormalVolumeStatusInfo")) values.normalVolumes.push_back({row[0], Number(row[3])});
  for (const FiveTexts& row : Rows(check, "ErrorDiskStatusInfo")) values.errorDiskMasks.push_back(Number(row[4]));
  values.sraidInfo = check.GetDword("SRaidInfo").value_or(0);
  return values;
}

std::uint32_t ArraySetupMask(os::Registry& registry, char driveLetter) {
  const RegHandle setup(registry, os::RegistryRoot::LocalMachine, RaidProductRoot(registry) + "\\ArraySetup");
  return setup.GetDword(std::string("MAP%%") + driveLetter).value_or(0);
}

}  // namespace orv
