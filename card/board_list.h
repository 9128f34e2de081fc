// The process-wide list of open boards, in the order they were opened, and
// what the library records for each: its handle, its locator, its mapped
// regions and its driver buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card/request_buffer.h"
#include "card/request_pool.h"
#include "platform/device_io.h"

namespace qvr {

// One PCI base address region of a board. Addresses are 64-bit here: the
// driver's reply carries the high half beside the low one.
struct BarSlot {
  std::uint64_t Address = 0;      // where the region is mapped in this process; 0 when not
  std::uint32_t Size = 0;         // length of the mapping as the driver reported it; 0 when not known
  std::uint32_t Reserved = 0;     // cleared with the slot
  bool MapRequested = false;      // set by the first map request, cleared with the slot
};

inline constexpr std::size_t BarSlotCount = 7;

// A driver buffer mapped into the process, as the driver describes it.
struct BufferDescriptor {
  std::uint32_t UserAddress = 0;  // 0 when none
  std::uint32_t Second = 0;
  std::uint32_t Third = 0;
};

struct BoardRecord {
  platform::DeviceHandle Handle = platform::InvalidDevice;
  BoardLocator Locator{};  // the caller's locator when the board was opened
  BarSlot Regions[BarSlotCount];
  BufferDescriptor Buffer;
  RequestBlock* BlockLists[2] = {nullptr, nullptr};
  BoardRecord* Next = nullptr;
};

// Head of the open-board list.
extern BoardRecord* OpenBoards;

// Appends a record for `handle` with a copy of `locator`. nullptr when no
// record can be allocated.
BoardRecord* RegisterBoard(platform::DeviceHandle handle, const BoardLocator& locator);

// The first record with `handle`, or nullptr.
BoardRecord* FindBoard(platform::DeviceHandle handle);

// Takes `record` out of the list (it is not freed).
void UnlinkBoard(BoardRecord* record);

// Records a mapped region's address and length (under the lock).
void StoreSlot(BarSlot& slot, std::uint64_t address, std::uint32_t size);

// Empties a region slot: address, both further words and the flag (under the lock).
void ClearSlot(BarSlot& slot);

}  // namespace qvr
