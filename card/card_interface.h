// The one connection of the process to the card's interface memory, reached
// by the named shared-memory object or through the card's PCI driver.
// Every access to the memory is a real aligned load or store.
#pragma once

#include <cstdint>
#include <string>

#include "card/driver_status.h"
#include "platform/shared_memory.h"

namespace qvr {

inline constexpr const char* DefaultMappingName = "QVRZORVA mapped file";

struct CardInterface {
  std::string MappingName;
  platform::SharedMemoryHandle MappingHandle = platform::NoSharedMemory;
  std::uint8_t* Base = nullptr;        // start of the interface memory, or none
  std::uint32_t AreaBOffset = 0;       // copied from the header when Magic is present
  std::size_t MappedSize = 0;          // size of the view, 0 when not known (PCI route)
};

// The process-wide connection. Empty at program start.
extern CardInterface TheCard;

// Connects by the named mapping, else by the PCI route. Returns a
// DriverStatus: StatusOk when the memory was reached and carries the magic.
std::int32_t ConnectInterface();

// Releases whatever route the connection holds.
void DisconnectInterface();

// Stores `value` at Base + offset and reads it back, retrying up to 1,000,000
// times; when it never sticks, clears area B + 0x150 the same way (nesting
// bounded). Reports nothing.
void WriteInterfaceWord(std::uint32_t offset, std::uint32_t value);

// Fresh aligned loads from the interface memory at Base + offset.
std::uint32_t ReadInterfaceWord(std::uint32_t offset);
std::uint8_t ReadInterfaceByte(std::uint32_t offset);

}  // namespace qvr
