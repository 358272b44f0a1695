// The model flags: a bit set telling the appliance's hardware line, its bay count and its
// Windows generation. Monitors choose their sensors and bay maps by them; reporting names the
// model by them. 0xFFFFFFFF means "not known".
#pragma once

#include <cstdint>

namespace orv {

namespace model {
inline constexpr std::uint32_t kTwoBays = 0x2;
inline constexpr std::uint32_t kFourBays = 0x8;
inline constexpr std::uint32_t kBoardOn2016 = 0x40;
inline constexpr std::uint32_t kBoardOn2012R2 = 0x80;
inline constexpr std::uint32_t kOlderOsA = 0x100;
inline constexpr std::uint32_t kOlderOsB = 0x200;
inline constexpr std::uint32_t kStorageServer2012R2 = 0x400;
inline constexpr std::uint32_t kStorageServer2016 = 0x800;
inline constexpr std::uint32_t kServer2019 = 0x2000;
inline constexpr std::uint32_t kFirstLineGen1 = 0x10000;
inline constexpr std::uint32_t kFirstLineGen2 = 0x20000;
inline constexpr std::uint32_t kTwoBayLine = 0x40000;
inline constexpr std::uint32_t kSecondFourBayLine = 0x80000;
inline constexpr std::uint32_t kLcdSeries = 0x100000;
inline constexpr std::uint32_t kTemperatureSeries = 0x200000;
inline constexpr std::uint32_t kBoardSeries = 0x400000;
inline constexpr std::uint32_t kBoardOn10 = 0x10000000;
inline constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
}  // namespace model

}  // namespace orv
