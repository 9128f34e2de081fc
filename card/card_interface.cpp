#include "card/card_interface.h"

#include <atomic>
#include <string>

#include "card/interface_header.h"
#include "card/pci_access.h"
#include "card/verified_write.h"
#include "image/firmware_image.h"

namespace qvr {

CardInterface TheCard;

namespace {

constexpr int DeviceInstances = 128;
constexpr std::uint8_t InterfaceRegion = 2;
constexpr std::uint16_t BridgeRegister = 0x28;
constexpr std::uint32_t BridgeRegisterValue = 0x50508000;

bool HoldsUnit(std::uint64_t offset, std::uint64_t width) {
  if (TheCard.Base == nullptr || offset > TheCard.MappedSize || TheCard.MappedSize - offset < width) return false;
  return (reinterpret_cast<std::uintptr_t>(TheCard.Base) + offset) % width == 0;
}

std::atomic_ref<std::uint32_t> WordAt(std::uint64_t offset) {
  return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(TheCard.Base + offset));
}

// The interface memory as the verified write sees it.
struct InterfaceMemory {
  bool Holds(std::uint64_t offset) const { return HoldsUnit(offset, sizeof(std::uint32_t)); }
  void Store(std::uint64_t offset, std::uint32_t value) { WordAt(offset).store(value, std::memory_order_release); }
  std::uint32_t Load(std::uint64_t offset) { return WordAt(offset).load(std::memory_order_acquire); }
};

bool MagicPresent() { return ReadInterfaceWord(InterfaceHeader::Magic) == ImageMagic; }

std::int32_t SignExtended(DriverStatus status) { return static_cast<std::int16_t>(status); }

// Walks QVZORVA-0 to QVZORVA-127 until one's region 2 carries the magic.
// Leaves Base at the region of the device it holds, or none.
DriverStatus ConnectByPci() {
  PciAccessEntry(PciAccessInitialise);
  DriverStatus result = StatusFailed;
  platform::DeviceHandle held = platform::InvalidDevice;
  for (int instance = 0; instance < DeviceInstances; ++instance) {
    BoardLocator locator = MakeLocator("QVZORVA-" + std::to_string(instance));
    platform::DeviceHandle opened = platform::InvalidDevice;
    if (OpenBoard(&locator, &opened) != StatusOk) continue;
    if (held != platform::InvalidDevice) {
      // Base, when set, lies in the held device's region, which closing unmaps.
      CloseBoard(held);
      TheCard.Base = nullptr;
      TheCard.MappedSize = 0;
    }
    held = opened;

    std::uint64_t address = 0;
    std::uint32_t size = 0;
    result = MapBarWindow(held, InterfaceRegion, &address, &size);
    if (result != StatusOk) continue;
    TheCard.Base = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
    TheCard.MappedSize = address == 0 ? 0 : size;
    if (MagicPresent()) {
      WriteBridgeRegister(held, BridgeRegister, BridgeRegisterValue);
      return StatusOk;
    }
    result = StatusFailed;
  }
  return result;
}

}  // namespace

std::int32_t ConnectInterface() {
  if (TheCard.MappingHandle != platform::NoSharedMemory || TheCard.Base != nullptr) DisconnectInterface();

  DriverStatus result = StatusFailed;
  TheCard.MappingHandle = platform::OpenNamedMapping(TheCard.MappingName);
  std::size_t size = 0;
  void* view = platform::MapWholeView(TheCard.MappingHandle, size);
  if (view != nullptr) {
    TheCard.Base = static_cast<std::uint8_t*>(view);
    TheCard.MappedSize = size;
    // The memory is reached: the PCI route is not tried, magic or not.
    result = MagicPresent() ? StatusOk : StatusFailed;
  } else {
    // A mapping that opens but cannot be viewed is of no use: let it go now.
    platform::CloseMapping(TheCard.MappingHandle);
    TheCard.MappingHandle = platform::NoSharedMemory;
    result = ConnectByPci();
  }

  if (TheCard.Base == nullptr) {
    DisconnectInterface();
    return SignExtended(result);
  }
  if (MagicPresent()) TheCard.AreaBOffset = ReadInterfaceWord(InterfaceHeader::AreaBOffset);
  return SignExtended(result);
}

void DisconnectInterface() {
  if (TheCard.MappingHandle != platform::NoSharedMemory) {
    platform::UnmapView(TheCard.Base, TheCard.MappedSize);
    platform::CloseMapping(TheCard.MappingHandle);
  } else {
    PciAccessEntry(PciAccessShutDown);
  }
  TheCard.Base = nullptr;
  TheCard.MappingHandle = platform::NoSharedMemory;
  TheCard.MappedSize = 0;
}

void WriteInterfaceWord(std::uint32_t offset, std::uint32_t value) {
  InterfaceMemory memory;
  WriteWordVerified(memory, offset,
                    value, std::uint64_t{TheCard.AreaBOffset} + InterfaceHeader::AreaBFailedWrite);
}

std::uint32_t ReadInterfaceWord(std::uint32_t offset) {
  return HoldsUnit(offset, sizeof(std::uint32_t)) ? InterfaceMemory{}.Load(offset) : 0;
}

std::uint8_t ReadInterfaceByte(std::uint32_t offset) {
  if (!HoldsUnit(offset, 1)) return 0;
  return std::atomic_ref<std::uint8_t>(TheCard.Base[offset]).load(std::memory_order_acquire);
}

}  // namespace qvr
