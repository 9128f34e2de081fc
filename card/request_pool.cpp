#include "card/request_pool.h"

#include <mutex>
#include <new>

#include "card/pci_lock.h"

namespace qvr {

RequestBlock* RequestPool = nullptr;

namespace {

void ClearOverlapped(platform::OverlappedRecord& record) {
  record.internal = 0;
  record.internalHigh = 0;
  record.offset = 0;
  record.offsetHigh = 0;
}

}  // namespace

RequestBlock* AcquireRequest() {
  RequestBlock* block = nullptr;
  {
    std::lock_guard guard(PciLock);
    RequestBlock** link = &RequestPool;
    for (; *link != nullptr; link = &(*link)->Next) {
      if (!(*link)->InUse.load()) {
        block = *link;
        block->InUse.store(true);
        break;
      }
    }
    if (block == nullptr) {
      block = new (std::nothrow) RequestBlock;
      if (block == nullptr) return nullptr;
      block->InUse.store(true);
      *link = block;
    }
  }
  if (block->Overlapped.event == platform::NoEvent) block->Overlapped.event = platform::CreateManualResetEvent();
  ClearOverlapped(block->Overlapped);
  return block;
}

void ReleaseRequest(RequestBlock* block) {
  if (block != nullptr) block->InUse.store(false);
}

void ReleaseBlock(RequestBlock*& list, RequestBlock* block) {
  {
    std::lock_guard guard(PciLock);
    RequestBlock** link = &list;
    while (*link != nullptr && *link != block) link = &(*link)->Next;
    if (*link == nullptr) return;
    *link = block->Next;
    block->Next = nullptr;
  }
  if (platform::RequestStillIncomplete(block->Overlapped)) return;
  platform::CloseEvent(block->Overlapped.event);
  delete block;
}

void ReleaseBlockList(RequestBlock*& list) {
  while (list != nullptr) ReleaseBlock(list, list);
}

}  // namespace qvr
