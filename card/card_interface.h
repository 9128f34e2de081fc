// The one connection of the process to the card's interface memory, reached
// by the named shared-memory object or through the card's PCI driver.
// Every access to the memory is a real aligned load or store, never served
// from a copy, and stays inside the memory that was reached.
#pragma once

#include <cstdint>
#include <string>

#include "card/driver_status.h"
#include "platform/shared_memory.h"

namespace qvr {

inline constexpr const char* DefaultMappingName = "QVRZORVA mapped file";

struct CardInterface {
  std::string MappingName;
  platform::SharedMemoryHandle MappingHandle = platform::NoSharedMemory;  // none on the PCI route
  std::uint8_t* Base = nullptr;   // start of the interface memory, or none
  std::uint32_t AreaBOffset = 0;  // copied from the header when Magic is present
  std::size_t MappedSize = 0;     // length of the memory at Base; nothing beyond it is touched
};

// The process-wide connection. Empty at program start.
extern CardInterface TheCard;

// Connects by the named mapping, else by the PCI route (QVZORVA-0 to
// QVZORVA-127, region 2). Returns a DriverStatus sign-extended: StatusOk when
// the memory was reached and carries the magic; StatusFailed, or on the PCI
// route the failing status of the last region mapping, otherwise. Whatever
// an earlier connection held is released first.
std::int32_t ConnectInterface();

// Releases whatever route the connection holds (on the PCI route: shuts the
// PCI driver access library down). AreaBOffset keeps its value.
void DisconnectInterface();

// Stores `value` at Base + offset and reads it back, retrying up to 1,000,000
// times; when it never sticks, clears area B + 0x150 the same way (one level
// of nesting). Reports nothing. Does nothing for a word outside the memory.
void WriteInterfaceWord(std::uint32_t offset, std::uint32_t value);

// Fresh aligned loads from the interface memory at Base + offset. 0 when not
// connected, or for a word that is misaligned or lies outside the memory.
std::uint32_t ReadInterfaceWord(std::uint32_t offset);
std::uint8_t ReadInterfaceByte(std::uint32_t offset);

}  // namespace qvr
