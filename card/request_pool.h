// The process-wide pool of request blocks: each block carries one request
// buffer and its overlapped-I/O record. The pool grows on demand and blocks
// are reused; it holds as many blocks as were ever in use at the same time.
#pragma once

#include <atomic>
#include <cstdint>

#include "card/request_buffer.h"
#include "platform/device_io.h"

namespace qvr {

struct RequestBlock {
  RequestBuffer Buffer{};                 // never cleared between requests
  platform::OverlappedRecord Overlapped;  // its event lives as long as the block
  std::atomic<bool> InUse{false};
  RequestBlock* Next = nullptr;
};

// Head of the pool, in the order the blocks were created.
extern RequestBlock* RequestPool;

// Takes the first free block of the pool, or a new one appended at its end;
// clears the overlapped record's status and offset words (the buffer keeps its
// bytes). nullptr when no block can be allocated.
RequestBlock* AcquireRequest();

// Gives a block back to the pool after its reply has been read (no lock).
void ReleaseRequest(RequestBlock* block);

// Unlinks `block` from `list` and frees it with its event; a block not in
// the list is left alone. A block whose request is still incomplete is only
// unlinked: it stays allocated with its event open.
void ReleaseBlock(RequestBlock*& list, RequestBlock* block);

// Releases every block of `list`, first block first.
void ReleaseBlockList(RequestBlock*& list);

}  // namespace qvr
