// Where the agent keeps its settings and memory: three keys it never creates itself.
#pragma once

#include <string_view>

namespace orv {

inline constexpr std::string_view kStatusKey = "SOFTWARE\\ORVANE\\ORVSVC\\Status";
inline constexpr std::string_view kCommonKey = "SOFTWARE\\ORVANE\\ORVSVC\\Common";
inline constexpr std::string_view kNasKey = "SOFTWARE\\ORVANE\\ORVSVC\\NAS";

}  // namespace orv
