// A client's own view of the card's interface memory, found the way the
// loader finds it: the named mapping first, else region 2 of the first
// QVZORVA-n device. Independent of the loader's connection (TheCard).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/device_io.h"
#include "platform/shared_memory.h"

namespace qvr::simcard {

// The mapping name: QVR_MAPPING_NAME when set and not empty, else
// "QVRZORVA mapped file".
std::string MappingNameFromEnvironment();

// The card's identity on the PCI route.
inline constexpr int MaxCardInstances = 128;
std::string CardDeviceName(int instance);  // "QVZORVA-<n>"
inline constexpr std::uint32_t InterfaceRegion = 2;

struct CardMemory {
  std::uint8_t* base = nullptr;
  std::size_t size = 0;
  platform::SharedMemoryHandle mapping = platform::NoSharedMemory;
  platform::DeviceHandle device = platform::InvalidDevice;
  std::string where;  // the mapping name or the device name
};

// Opens the named mapping `mappingName`; when it does not exist, walks the
// devices QVZORVA-0 ... QVZORVA-127 and maps region 2 of the first that
// hands one over and that `accept` (when given) takes. The memory must hold
// at least the header. A mapping that exists is used whatever is in it, and
// the devices are then not tried (as the loader does). An empty CardMemory
// (base nullptr) when nothing was reached.
CardMemory OpenCardMemory(const std::string& mappingName,
                          const std::function<bool(const CardMemory&)>& accept = {});
void CloseCardMemory(CardMemory& memory);

}  // namespace qvr::simcard
