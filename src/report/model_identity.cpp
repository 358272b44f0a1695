#include "report/model_identity.h"

#include <array>
#include <initializer_list>
#include <vector>

#include "platform/reg_handle.h"
#include "report/run_command.h"

namespace orv {
namespace {

using namespace model;

constexpr auto kLocalMachine = os::RegistryRoot::LocalMachine;

// Model-code tails of the second four-bay line, by the OS generation they mark. These are
// placeholder codes until the maker's product list gives the real ones; keep them here only.
struct FragmentGroup {
  std::array<std::string_view, 4> tails;
  std::uint32_t osBit;
};
constexpr std::array<FragmentGroup, 3> kSecondLineFragments = {{
    {{"S11", "S12", "S13", "S14"}, kOlderOsA},
    {{"S21", "S22", "", ""}, kOlderOsB},
    {{"S31", "S32", "", ""}, kStorageServer2012R2},
}};

// Started by its full path: a bare name is looked up in the agent's own folder and the
// current folder first, where anyone who can write would get code run as SYSTEM.
constexpr std::string_view kWmicUnderSystemFolder = "\\wbem\\wmic.exe";
constexpr std::string_view kOsVersionArguments = " os get caption, version";

std::string OsVersionCommand(const std::string& systemFolder) {
  return "\"" + systemFolder + std::string(kWmicUnderSystemFolder) + "\"" +
         std::string(kOsVersionArguments);
}

// What wmic printed; nothing when the system folder is not known (a path without it would
// name a folder at the root of the drive, where users may create one).
std::string ReadOsVersion(const os::OsPorts& os) {
  const std::string systemFolder = os.system.SystemDirectory();
  if (systemFolder.empty()) return {};
  return RunCommand(os.processes, os.system, OsVersionCommand(systemFolder));
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool EqualsAny(std::string_view text, std::initializer_list<std::string_view> options) {
  for (const std::string_view option : options) {
    if (text == option) return true;
  }
  return false;
}

}  // namespace

bool IsMeridexBrand(os::Registry& registry) {
  return RegHandle::KeyExists(registry, kLocalMachine, "SOFTWARE\\MERIDEX\\NAS");
}

std::uint32_t ModelFlagsFromOwner(std::string_view owner) {
  if (Contains(owner, "MDL-R")) {
    if (EqualsAny(owner, {"MDL-R01", "MDL-R02"})) return kFourBays + kOlderOsA + kFirstLineGen1;
    if (EqualsAny(owner, {"MDL-R03", "MDL-R04"})) return kFourBays + kOlderOsB + kFirstLineGen1;
    if (EqualsAny(owner, {"MDL-R05", "MDL-R06"})) {
      return kFourBays + kStorageServer2012R2 + kFirstLineGen1;
    }
    if (EqualsAny(owner, {"MDL-R07", "MDL-R08"})) return kFourBays + kOlderOsA + kFirstLineGen2;
    if (EqualsAny(owner, {"MDL-R09", "MDL-R10"})) {
      return kFourBays + kStorageServer2012R2 + kFirstLineGen2;
    }
    return 0;
  }
  if (Contains(owner, "MDL-S")) {
    for (const FragmentGroup& group : kSecondLineFragments) {
      for (const std::string_view tail : group.tails) {
        if (!tail.empty() && Contains(owner, tail)) {
          return kFourBays + kSecondFourBayLine + group.osBit;
        }
      }
    }
    return kFourBays + kSecondFourBayLine;
  }
  if (EqualsAny(owner, {"MDL-V01", "MDL-V02"})) return kTwoBays + kOlderOsA + kTwoBayLine;
  return 0;
}

std::uint32_t ModelFlagsFromBoard(std::string_view boardProduct, std::string_view osVersionText) {
  if (!Contains(boardProduct, "MDL-Q01")) return 0;
  if (Contains(osVersionText, "6.3.")) return kBoardSeries + kStorageServer2012R2 + kBoardOn2012R2;
  if (Contains(osVersionText, "10.0.")) {
    return kBoardSeries + kStorageServer2016 + kBoardOn2016 + kBoardOn10;
  }
  return 0;
}

ModelIdentity IdentifyModel(const os::OsPorts& os, CommandUse commands) {
  ModelIdentity identity;
  identity.meridexBrand = IsMeridexBrand(os.registry);

  const char* makerKey = identity.meridexBrand ? "SOFTWARE\\Wow6432Node\\MERIDEX\\UnitDeck"
                                               : "SOFTWARE\\Wow6432Node\\Tavolen\\TavolenNas";
  // 0xFFFFFFFF is "not known" as much as a missing value is: taken as flags, it would set them all.
  const std::optional<std::uint32_t> makerFlags = RegHandle::GetDword(os.registry, kLocalMachine, makerKey, "ModelInfo");
  if (makerFlags && *makerFlags != RegHandle::kMissingDword) {
    identity.modelFlags = *makerFlags;
  } else {
    std::string owner;
    (void)RegHandle::GetString(os.registry, kLocalMachine,
                               "SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion",
                               "RegisteredOwner", owner);
    identity.modelFlags = ModelFlagsFromOwner(owner);
    if (identity.modelFlags == 0) {
      std::string board;
      (void)RegHandle::GetString(os.registry, kLocalMachine, "HARDWARE\\DESCRIPTION\\System\\BIOS",
                                 "BaseBoardProduct", board);
      // wmic only runs on the board that needs it: it is slow and not everywhere.
      if (Contains(board, "MDL-Q01") && commands == CommandUse::NotAllowed) {
        identity.osVersionNotRead = true;
      } else if (Contains(board, "MDL-Q01")) {
        identity.modelFlags =
            ModelFlagsFromBoard(board, ReadOsVersion(os));
      }
    }
  }
  identity.agentName = AgentNameFor(identity.modelFlags);
  return identity;
}

std::string AgentNameFor(std::uint32_t flags) {
  constexpr std::uint32_t kNamedLines =
      kTwoBayLine | kSecondFourBayLine | kLcdSeries | kTemperatureSeries | kBoardSeries;
  if ((flags & kNamedLines) == 0) return {};
  if (flags & kStorageServer2012R2) return "MDL-G01";
  if (flags & kStorageServer2016) return "MDL-G02";
  if (flags & kServer2019) return "MDL-G03";
  return {};
}

std::optional<std::string> ModelNameFor(std::uint32_t flags) {
  const auto byBays = [flags](const char* twoBays, const char* fourBays) -> std::optional<std::string> {
    if (flags & kTwoBays) return twoBays;
    if (flags & kFourBays) return fourBays;
    return std::nullopt;
  };
  struct SeriesRow {
    std::uint32_t series;
    const char* on2012R2;
    const char* on2016;
  };
  static constexpr SeriesRow kRows[] = {
      {kLcdSeries, "MDL-N01", nullptr},  // 2016 and 2019 names depend on the bays
      {kTemperatureSeries, "MDL-N06", "MDL-N07"},
      {kBoardSeries, "MDL-N08", "MDL-N09"},
      {kSecondFourBayLine, "MDL-N10", "MDL-N11"},
      {kTwoBayLine, "MDL-N12", "MDL-N13"},
  };
  for (const SeriesRow& row : kRows) {
    if ((flags & row.series) == 0) continue;
    if (flags & kStorageServer2012R2) return row.on2012R2;
    if (flags & kStorageServer2016) {
      if (row.series == kLcdSeries) return byBays("MDL-N02", "MDL-N03");
      return row.on2016;
    }
    if ((flags & kServer2019) && row.series == kLcdSeries) return byBays("MDL-N04", "MDL-N05");
    return std::nullopt;
  }
  return std::nullopt;
}

bool GetModelName(os::Registry& registry, std::uint32_t modelFlags, std::string& msName,
                  std::string& msVer) {
  msName.clear();
  msVer.clear();
  std::vector<std::string> subKeys;
  (void)RegHandle::EnumSubKeys(registry, kLocalMachine, kUninstallKey, subKeys);
  for (const std::string& subKey : subKeys) {
    const std::string path = std::string(kUninstallKey) + "\\" + subKey;
    std::string displayName;
    if (!RegHandle::GetString(registry, kLocalMachine, path, "DisplayName", displayName) ||
        (displayName != "UnitDeck" && displayName != "TavolenNas2")) {
      continue;
    }
    std::string version;
    (void)RegHandle::GetString(registry, kLocalMachine, path, "DisplayVersion", version);
    if (auto name = ModelNameFor(modelFlags)) msName = *name;
    msVer = VersionUpToSecondDot(version);
  }
  return !msName.empty();
}

std::string VersionUpToSecondDot(std::string_view version) {
  const std::size_t first = version.find('.');
  if (first == std::string_view::npos) return {};
  const std::size_t second = version.find('.', first + 1);
  if (second == std::string_view::npos) return {};
  return std::string(version.substr(0, second));
}

}  // namespace orv
