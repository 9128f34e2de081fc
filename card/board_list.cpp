#include "card/board_list.h"

#include <mutex>
#include <new>

#include "card/pci_lock.h"

namespace qvr {

BoardRecord* OpenBoards = nullptr;

BoardRecord* RegisterBoard(platform::DeviceHandle handle, const BoardLocator& locator) {
  auto* record = new (std::nothrow) BoardRecord;
  if (record == nullptr) return nullptr;
  record->Handle = handle;
  record->Locator = locator;
  std::lock_guard guard(PciLock);
  BoardRecord** link = &OpenBoards;
  while (*link != nullptr) link = &(*link)->Next;
  *link = record;
  return record;
}

BoardRecord* FindBoard(platform::DeviceHandle handle) {
  std::lock_guard guard(PciLock);
  for (BoardRecord* record = OpenBoards; record != nullptr; record = record->Next) {
    if (record->Handle == handle) return record;
  }
  return nullptr;
}

void UnlinkBoard(BoardRecord* record) {
  std::lock_guard guard(PciLock);
  for (BoardRecord** link = &OpenBoards; *link != nullptr; link = &(*link)->Next) {
    if (*link == record) {
      *link = record->Next;
      record->Next = nullptr;
      return;
    }
  }
}

void StoreSlot(BarSlot& slot, std::uint64_t address, std::uint32_t size) {
  std::lock_guard guard(PciLock);
  slot.Address = address;
  slot.Size = size;
}

void ClearSlot(BarSlot& slot) {
  std::lock_guard guard(PciLock);
  slot = BarSlot{};
}

}  // namespace qvr
