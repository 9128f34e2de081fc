// The card's 256 KB flash: what a programming run writes, and where the
// card takes its firmware version from when it restarts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "image/firmware_image.h"

namespace qvr::simcard {

inline constexpr std::uint32_t FlashSize = ImageSize;
inline constexpr std::uint32_t FlashBlockSize = 128;

struct Flash {
  std::array<std::uint8_t, FlashSize> bytes{};
};

void EraseFlash(Flash& flash);  // all 0xFF

// An erased flash with only a firmware record at 0x8000 (magic, status and
// version), as a card that runs that firmware is taken to hold.
void WriteFirmwareRecord(Flash& flash, std::uint8_t status, std::uint8_t major, std::uint8_t minor,
                         std::uint8_t patch);

// The flash as a programming run of the S-record file `path` would leave it:
// the loader's cleared buffer with the file's bytes over it. The message of
// the loader's S-record reader when the file cannot be loaded.
std::optional<std::string> LoadFlashImage(Flash& flash, const std::string& path);

// Bytes 12..15 of the record at 0x8000, as a FirmwareVersion word (status,
// major, minor, patch from the high byte down).
std::uint32_t FirmwareVersionOf(const Flash& flash);

// Stores one 128-byte block at `address` (a multiple of 128 below FlashSize).
void StoreBlock(Flash& flash, std::uint32_t address, const std::uint8_t* data);

// Writes the whole flash to `path` through a temporary file and a rename.
bool WriteFlashFile(const Flash& flash, const std::string& path, std::string& error);

}  // namespace qvr::simcard
