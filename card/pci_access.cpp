#include "card/pci_access.h"

#include <mutex>
#include <string>

#include "card/board_list.h"
#include "card/pci_lock.h"
#include "card/request_pool.h"

namespace qvr {

namespace {

using platform::DeviceHandle;
using platform::InvalidDevice;

// Sends `code` with the block's buffer. When the driver cannot be reached
// the buffer is made a failed reply (status StatusFailed; value, address and
// length 0), so that no stale bytes are taken for the driver's answer.
bool Send(DeviceHandle handle, RequestBlock* block, std::uint32_t code) {
  if (platform::DeviceControl(handle, code, block->Buffer.data(), block->Overlapped)) return true;
  StoreU16(block->Buffer, RequestField::Status, StatusFailed);
  platform::WriteRequestAddress(block->Buffer.data(), 0);
  platform::WriteRegionSize(block->Buffer.data(), 0);
  return false;
}

DriverStatus ReplyStatus(const RequestBlock* block) { return LoadU16(block->Buffer, RequestField::Status); }

}  // namespace

bool PciAccessEntry(std::uint32_t reason, std::uintptr_t, std::uintptr_t) {
  if (reason == PciAccessInitialise) {
    std::lock_guard guard(PciLock);
    RequestPool = nullptr;
    OpenBoards = nullptr;
  } else if (reason == PciAccessShutDown) {
    for (;;) {
      DeviceHandle first = InvalidDevice;
      {
        std::lock_guard guard(PciLock);
        if (OpenBoards == nullptr) break;
        first = OpenBoards->Handle;
      }
      CloseBoard(first);
    }
    ReleaseBlockList(RequestPool);
  }
  return true;
}

DriverStatus OpenBoard(BoardLocator* locator, DeviceHandle* handle) {
  if (locator == nullptr || handle == nullptr) return StatusMissingArgument;
  *handle = InvalidDevice;
  if (locator->Name[0] == '\0') {
    const DriverStatus found = SearchBoard(locator, 0);
    if (found != StatusOk) return found;
  }

  const DeviceHandle device = platform::OpenDevice(LocatorName(*locator));
  if (device == InvalidDevice) return StatusFailed;
  if (RegisterBoard(device, *locator) == nullptr) {
    platform::CloseDevice(device);
    return StatusNoMemory;
  }

  std::uint8_t major = 0, minor = 0, revision = 0;
  QueryDriverVersion(device, &major, &minor, &revision);

  RequestBlock* block = AcquireRequest();
  const bool answered = block != nullptr && Send(device, block, platform::RequestOpen);
  if (answered) *locator = LoadLocator(block->Buffer);
  ReleaseRequest(block);
  if (!answered) {
    CloseBoard(device);
    return block == nullptr ? StatusNoMemory : StatusFailed;
  }
  *handle = device;
  return StatusOk;
}

DriverStatus SearchBoard(BoardLocator* locator, std::uint32_t wantedIndex) {
  if (locator == nullptr) return StatusMissingArgument;
  RequestBlock* search = AcquireRequest();
  if (search == nullptr) return StatusNoMemory;

  std::uint64_t matches = 0;  // wide, so that drivers' counts cannot wrap it
  bool anyDriver = false;
  for (std::size_t i = 0; i < DriverNameCount; ++i) {
    BoardLocator bridge = MakeLocator(std::string(DriverNames[i]) + "-0");
    DeviceHandle device = InvalidDevice;
    if (OpenBoard(&bridge, &device) != StatusOk) continue;
    anyDriver = true;

    StoreU32(search->Buffer, RequestField::Value, static_cast<std::uint32_t>(wantedIndex - matches));
    StoreLocator(search->Buffer, *locator);
    if (Send(device, search, platform::RequestSearch)) matches += LoadU32(search->Buffer, RequestField::Value);
    if (wantedIndex < matches) {
      *locator = LoadLocator(search->Buffer);
      ReleaseRequest(search);
      CloseBoard(device);
      return StatusOk;
    }
    CloseBoard(device);
  }
  ReleaseRequest(search);
  return anyDriver ? StatusFailed : StatusNoDriver;
}

DriverStatus CloseBoard(DeviceHandle handle) {
  BoardRecord* record = FindBoard(handle);
  if (record == nullptr) return StatusFailed;

  for (std::size_t index = 0; index < BarSlotCount; ++index) {
    BarSlot& slot = record->Regions[index];
    if (slot.Address == 0) continue;
    // The driver's answer does not matter: the slot is emptied regardless.
    if (RequestBlock* block = AcquireRequest()) {
      StoreU16(block->Buffer, RequestField::Index, static_cast<std::uint16_t>(index));
      platform::WriteRequestAddress(block->Buffer.data(), slot.Address);
      Send(handle, block, platform::RequestUnmapRegion);
      ReleaseRequest(block);
    }
    ClearSlot(slot);
  }
  if (record->Buffer.UserAddress != 0) {
    std::uint32_t address = record->Buffer.UserAddress;
    UnmapDriverBuffer(handle, &address);
  }
  UnlinkBoard(record);
  ReleaseBlockList(record->BlockLists[0]);
  ReleaseBlockList(record->BlockLists[1]);
  delete record;
  platform::CloseDevice(handle);
  return StatusOk;
}

DriverStatus QueryDriverVersion(DeviceHandle handle, std::uint8_t* major, std::uint8_t* minor,
                                std::uint8_t* revision) {
  if (major == nullptr || minor == nullptr || revision == nullptr) return StatusMissingArgument;
  if (FindBoard(handle) == nullptr) return StatusNotOpen;
  RequestBlock* block = AcquireRequest();
  if (block == nullptr) return StatusNoMemory;
  const bool answered = Send(handle, block, platform::RequestVersion);
  const std::uint32_t version = LoadU32(block->Buffer, RequestField::Value);
  ReleaseRequest(block);
  *major = static_cast<std::uint8_t>(version >> 16);
  *minor = static_cast<std::uint8_t>(version >> 8);
  *revision = static_cast<std::uint8_t>(version);
  return answered ? StatusOk : StatusFailed;
}

DriverStatus MapBarWindow(DeviceHandle handle, std::uint8_t index, std::uint64_t* address, std::uint32_t* size) {
  if (address == nullptr) return StatusMissingArgument;
  *address = 0;
  if (size != nullptr) *size = 0;
  if (index >= BarSlotCount) return StatusBadBarIndex;
  BoardRecord* record = FindBoard(handle);
  if (record == nullptr) return StatusNotOpen;

  BarSlot& slot = record->Regions[index];
  if (slot.Address != 0) {
    *address = slot.Address;
    if (size != nullptr) *size = slot.Size;
    return StatusOk;
  }
  if (slot.MapRequested) return StatusMapRequested;

  RequestBlock* block = AcquireRequest();
  if (block == nullptr) return StatusNoMemory;
  // Stays set until the slot is emptied: a request that brought no address
  // leaves the region unmappable until the board is closed.
  slot.MapRequested = true;
  StoreU16(block->Buffer, RequestField::Index, index);
  Send(handle, block, platform::RequestMapRegion);
  const std::uint64_t mapped = platform::ReadRequestAddress(block->Buffer.data());
  const std::uint32_t length = mapped == 0 ? 0 : platform::ReadRegionSize(block->Buffer.data());
  const DriverStatus status = ReplyStatus(block);
  ReleaseRequest(block);

  StoreSlot(slot, mapped, length);
  *address = mapped;
  if (size != nullptr) *size = length;
  return status;
}

DriverStatus UnmapBarWindow(DeviceHandle handle, std::uint64_t* address) {
  if (address == nullptr) return StatusMissingArgument;
  if (*address == 0) return StatusNoSuchMapping;
  BoardRecord* record = FindBoard(handle);
  if (record == nullptr) return StatusNotOpen;

  std::size_t index = 0;
  while (index < BarSlotCount && record->Regions[index].Address != *address) ++index;
  if (index == BarSlotCount) return StatusNoSuchMapping;

  RequestBlock* block = AcquireRequest();
  if (block == nullptr) return StatusNoMemory;
  StoreU16(block->Buffer, RequestField::Index, static_cast<std::uint16_t>(index));
  platform::WriteRequestAddress(block->Buffer.data(), *address);
  Send(handle, block, platform::RequestUnmapRegion);
  const DriverStatus status = ReplyStatus(block);
  ReleaseRequest(block);

  *address = 0;
  ClearSlot(record->Regions[index]);
  return status;
}

DriverStatus WriteBridgeRegister(DeviceHandle handle, std::uint16_t offset, std::uint32_t value) {
  if (FindBoard(handle) == nullptr) return StatusNotOpen;
  RequestBlock* block = AcquireRequest();
  if (block == nullptr) return StatusNoMemory;
  StoreU16(block->Buffer, RequestField::Index, offset);
  StoreU32(block->Buffer, RequestField::Value, value);
  Send(handle, block, platform::RequestWriteBridge);
  const DriverStatus status = ReplyStatus(block);
  ReleaseRequest(block);
  return status;
}

DriverStatus UnmapDriverBuffer(DeviceHandle handle, std::uint32_t* address) {
  if (address == nullptr) return StatusMissingArgument;
  if (*address == 0) return StatusNoSuchMapping;
  BoardRecord* record = FindBoard(handle);
  if (record == nullptr) return StatusNotOpen;
  if (*address != record->Buffer.UserAddress) return StatusNoSuchMapping;
  const BufferDescriptor descriptor = record->Buffer;
  if (descriptor.Second == 0 || descriptor.Third == 0) return StatusBadDescriptor;

  RequestBlock* block = AcquireRequest();
  if (block == nullptr) return StatusNoMemory;
  StoreU32(block->Buffer, RequestField::Descriptor, descriptor.UserAddress);
  StoreU32(block->Buffer, RequestField::Descriptor + 4, descriptor.Second);
  StoreU32(block->Buffer, RequestField::Descriptor + 8, descriptor.Third);
  // The driver's word at 12 comes back too; nothing here needs it.
  Send(handle, block, platform::RequestUnmapBuffer);
  const DriverStatus status = ReplyStatus(block);
  ReleaseRequest(block);

  if (status == StatusOk) {
    std::lock_guard guard(PciLock);
    record->Buffer.UserAddress = 0;
    *address = 0;
  }
  return status;
}

}  // namespace qvr
