// The simulated card on the PCI route: the user-space stand-in for the
// card's kernel driver. The card's device QVZORVA-0 hands out region 2 (the
// interface memory) and takes bridge register writes; the bridge driver's
// device Pci9054-0 answers board searches with the card.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/device_protocol.h"

namespace qvr::simcard {

inline constexpr const char* BridgeDeviceName = "Pci9054-0";
inline constexpr std::uint32_t DriverVersion = 0x010200;  // 1.2.0

// The card's BoardLocator (18 bytes: bus, slot, two u16 identifiers, name).
inline constexpr std::uint8_t CardBus = 2;
inline constexpr std::uint8_t CardSlot = 5;
inline constexpr std::uint16_t CardFirstId = 0x5A52;
inline constexpr std::uint16_t CardSecondId = 0x0C0D;
inline constexpr std::size_t LocatorOffset = 12;
inline constexpr std::size_t LocatorSize = 18;
inline constexpr std::size_t LocatorNameSize = 12;
std::array<std::uint8_t, LocatorSize> CardLocator(const std::string& name);

struct CardDevice {
  std::uint8_t* memory = nullptr;  // the interface memory, for the record of bridge writes
  int regionFd = -1;               // region 2
  std::uint64_t regionSize = 0;
};

// Answers one request to QVZORVA-0 / to the bridge device.
platform::DeviceAnswer AnswerCardRequest(const CardDevice& device, std::uint32_t code, std::uint8_t* buffer);
platform::DeviceAnswer AnswerBridgeRequest(std::uint32_t code, std::uint8_t* buffer);

}  // namespace qvr::simcard
