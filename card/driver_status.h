// Result codes of the card-access operations.
#pragma once

#include <cstdint>

namespace qvr {

using DriverStatus = std::uint16_t;

inline constexpr DriverStatus StatusOk = 512;
inline constexpr DriverStatus StatusMapRequested = 513;
inline constexpr DriverStatus StatusMissingArgument = 531;
inline constexpr DriverStatus StatusNoSuchMapping = 537;
inline constexpr DriverStatus StatusBadBarIndex = 539;
inline constexpr DriverStatus StatusFailed = 551;
inline constexpr DriverStatus StatusNoDriver = 552;
inline constexpr DriverStatus StatusNoMemory = 553;
inline constexpr DriverStatus StatusNotOpen = 572;
inline constexpr DriverStatus StatusBadDescriptor = 574;

}  // namespace qvr
