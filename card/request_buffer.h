// The 36-byte request buffer that carries every request to the card's driver
// and its reply back, the 18-byte BoardLocator inside it, and the names of the
// PCI bridge drivers that a board search asks. All fields little-endian.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/device_protocol.h"

namespace qvr {

// Identifies a board; passed to and returned by the driver unchanged in layout.
struct BoardLocator {
  std::uint8_t Bus;                // 0xFF: any
  std::uint8_t Slot;               // 0xFF: any
  std::uint16_t FirstIdentifier;   // 0xFFFF: any
  std::uint16_t SecondIdentifier;  // 0xFFFF: any
  char Name[12];                   // NUL-terminated device name; empty: find by the fields above
};
static_assert(sizeof(BoardLocator) == 18);
// The identifiers are held in the host's order, which must be the driver's.
static_assert(std::endian::native == std::endian::little);

inline constexpr std::size_t LocatorNameSize = sizeof(BoardLocator::Name);

// A locator that does not restrict bus, slot or identifiers, with `name`
// (cut to 11 characters).
BoardLocator MakeLocator(const std::string& name);

// The locator's name, read no further than its 12 bytes.
std::string LocatorName(const BoardLocator& locator);

// Field offsets of the request buffer.
namespace RequestField {
inline constexpr std::size_t Status = 0;    // u16, written by the driver
inline constexpr std::size_t Index = 4;     // u16: region index or register offset
inline constexpr std::size_t Value = 8;     // u32: argument or reply value
inline constexpr std::size_t Locator = 12;  // 18 bytes: a BoardLocator
inline constexpr std::size_t Descriptor = 12;  // three u32 words at 12, 16, 20 (buffer requests)
}  // namespace RequestField

using RequestBuffer = std::array<std::uint8_t, platform::RequestBufferSize>;

inline std::uint16_t LoadU16(const RequestBuffer& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
inline void StoreU16(RequestBuffer& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline std::uint32_t LoadU32(const RequestBuffer& b, std::size_t at) {
  return static_cast<std::uint32_t>(LoadU16(b, at)) | static_cast<std::uint32_t>(LoadU16(b, at + 2)) << 16;
}
inline void StoreU32(RequestBuffer& b, std::size_t at, std::uint32_t v) {
  StoreU16(b, at, static_cast<std::uint16_t>(v));
  StoreU16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
inline BoardLocator LoadLocator(const RequestBuffer& b) {
  BoardLocator locator;
  std::memcpy(&locator, b.data() + RequestField::Locator, sizeof(locator));
  return locator;
}
inline void StoreLocator(RequestBuffer& b, const BoardLocator& locator) {
  std::memcpy(b.data() + RequestField::Locator, &locator, sizeof(locator));
}

// The PCI bridge drivers a search asks, in this order; the table ends with
// the entry "0", which is not a name.
inline constexpr std::array<const char*, 8> DriverNames = {"Pci9080", "Pci9054", "Pci480",  "Pci9030",
                                                           "Pci9050", "Pci9056", "Pci9656", "0"};
inline constexpr std::size_t DriverNameCount = DriverNames.size() - 1;

}  // namespace qvr
