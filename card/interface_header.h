// Layout of the start of the card's interface memory (little-endian words at
// byte offsets from its base) and the words of area B that the loader uses.
#pragma once

#include <cstdint>

namespace qvr::InterfaceHeader {
inline constexpr std::uint32_t Magic = 0;             // u32, 0xAA8D4A8C while the firmware runs
inline constexpr std::uint32_t FirmwareVersion = 12;  // u32: status, major, minor, patch from the high byte down
inline constexpr std::uint32_t AreaAOffset = 16;      // u32, byte offset of area A
inline constexpr std::uint32_t AreaBOffset = 20;      // u32, byte offset of area B
inline constexpr std::uint32_t CardState = 24;        // u32, 1 = up to date; bit 0x200 = program me again
inline constexpr std::uint32_t CardStateByte = 25;    // the byte holding bit 0x200 as 0x02
inline constexpr std::uint32_t HeaderSize = 28;

// Offsets inside area B.
inline constexpr std::uint32_t AreaBRunWord = 8;        // host writes 1 around each run
inline constexpr std::uint32_t AreaBFailedWrite = 0x150;  // cleared when a write cannot be verified

inline constexpr std::uint32_t MagicWhileProgramming = 0x12345678;
}  // namespace qvr::InterfaceHeader
