#include "simcard/card_memory.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "card/card_interface.h"
#include "card/driver_status.h"
#include "card/interface_header.h"
#include "platform/device_protocol.h"

namespace qvr::simcard {

namespace {

std::uint16_t ReplyStatus(const std::array<std::uint8_t, platform::RequestBufferSize>& buffer) {
  return static_cast<std::uint16_t>(buffer[platform::StatusOffset] | buffer[platform::StatusOffset + 1] << 8);
}

// Maps region 2 of an open device. Fills base and size on success.
bool MapInterfaceRegion(CardMemory& memory) {
  std::array<std::uint8_t, platform::RequestBufferSize> buffer{};
  buffer[4] = static_cast<std::uint8_t>(InterfaceRegion);
  platform::OverlappedRecord overlapped;
  if (!platform::DeviceControl(memory.device, platform::RequestMapRegion, buffer.data(), overlapped)) return false;
  const std::uint64_t address = platform::ReadRequestAddress(buffer.data());
  const std::uint32_t size = platform::ReadRegionSize(buffer.data());
  if (ReplyStatus(buffer) != StatusOk || address == 0 || size < InterfaceHeader::HeaderSize) return false;
  memory.base = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
  memory.size = size;
  return true;
}

}  // namespace

std::string MappingNameFromEnvironment() {
  const char* name = std::getenv("QVR_MAPPING_NAME");
  return name != nullptr && *name != '\0' ? std::string(name) : std::string(DefaultMappingName);
}

std::string CardDeviceName(int instance) { return "QVZORVA-" + std::to_string(instance); }

CardMemory OpenCardMemory(const std::string& mappingName, const std::function<bool(const CardMemory&)>& accept) {
  CardMemory memory;
  memory.mapping = platform::OpenNamedMapping(mappingName);
  if (memory.mapping != platform::NoSharedMemory) {
    memory.where = mappingName;
    void* view = platform::MapWholeView(memory.mapping, memory.size);
    if (view != nullptr && memory.size >= InterfaceHeader::HeaderSize) {
      memory.base = static_cast<std::uint8_t*>(view);
      return memory;
    }
    if (view != nullptr) platform::UnmapView(view, memory.size);
    CloseCardMemory(memory);
    return memory;
  }
  for (int n = 0; n < MaxCardInstances; ++n) {
    memory.device = platform::OpenDevice(CardDeviceName(n));
    if (memory.device == platform::InvalidDevice) continue;
    memory.where = CardDeviceName(n);
    if (MapInterfaceRegion(memory) && (!accept || accept(memory))) return memory;
    CloseCardMemory(memory);
  }
  return memory;
}

void CloseCardMemory(CardMemory& memory) {
  if (memory.mapping != platform::NoSharedMemory) {
    if (memory.base != nullptr) platform::UnmapView(memory.base, memory.size);
    platform::CloseMapping(memory.mapping);
  }
  // Closing the device releases the view it mapped.
  if (memory.device != platform::InvalidDevice) platform::CloseDevice(memory.device);
  memory = CardMemory{};
}

}  // namespace qvr::simcard
