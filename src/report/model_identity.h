// Which appliance this is: the maker's brand, the model flags and the names that follow.
//
// Vocabulary: the model flags are a bit set telling the hardware line, its bay count and the
// Windows Storage Server generation; sensors, bay numbering, firmware fields and the names in
// every message depend on them. 0xFFFFFFFF means "not known".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/model_flags.h"
#include "os/os_ports.h"

namespace orv {

struct ModelIdentity {
  bool meridexBrand = false;
  std::uint32_t modelFlags = 0;
  std::string agentName;
  // The board needs wmic.exe's OS version, which the caller did not allow to run: flags are 0.
  bool osVersionNotRead = false;
};

// Whether identifying the model may start a program (wmic.exe); a diagnosis that must leave
// no trace does not allow it.
enum class CommandUse { Allowed, NotAllowed };

// Brand, model flags and agent name, worked out from the maker's registry value, the Windows
// registered owner or the board and OS version (which runs wmic.exe when allowed).
ModelIdentity IdentifyModel(const os::OsPorts& os, CommandUse commands = CommandUse::Allowed);

bool IsMeridexBrand(os::Registry& registry);
// The flags of a registered owner text; 0 for texts that name no known model.
std::uint32_t ModelFlagsFromOwner(std::string_view owner);
// The flags from the board product name and the OS version text that wmic printed.
std::uint32_t ModelFlagsFromBoard(std::string_view boardProduct, std::string_view osVersionText);
std::string AgentNameFor(std::uint32_t modelFlags);
// The model name for the flags; nullopt where the table names none.
std::optional<std::string> ModelNameFor(std::uint32_t modelFlags);

// `ms_name` and `ms_ver` from the management tool's uninstall entry; true when `msName` is
// not empty. Both outputs start empty.
bool GetModelName(os::Registry& registry, std::uint32_t modelFlags, std::string& msName,
                  std::string& msVer);

// A version text up to but not including its second "." ("1.2.3.4" gives "1.2"); empty when
// it has fewer than two dots.
std::string VersionUpToSecondDot(std::string_view version);

// The uninstall entries of 32-bit programs, where the maker's tools and the agent register.
inline constexpr std::string_view kUninstallKey =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

}  // namespace orv
