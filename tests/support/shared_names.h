// Names that many host test files use alike, defined once: the test files are compiled several
// to a translation unit, where two file-local definitions of one name collide.
#pragma once

#include <cstdint>

#include "model/model_flags.h"
#include "os/registry.h"

namespace orv {

inline constexpr auto kHklm = os::RegistryRoot::LocalMachine;
inline constexpr const char* kPool = "C:\\orvsvc\\MessagePool";
inline constexpr const char* kDefinitionPath = "C:\\orvsvc\\ORVCONFIG.xml";
inline constexpr std::uint32_t kTavolenFourBay = model::kLcdSeries | model::kServer2019 | model::kFourBays;
inline constexpr std::uint32_t kMeridexFiveBay = model::kLcdSeries | model::kStorageServer2016 | 0x10;

}  // namespace orv
