// The verified write of one interface word: store, load back, repeat until
// the word holds the value; a word that never holds it leads to the clearing
// of the failure word of area B.
//
// `Memory` provides:
//   bool Holds(std::uint64_t offset)      a whole aligned word lies there
//   void Store(std::uint64_t offset, std::uint32_t value)
//   std::uint32_t Load(std::uint64_t offset)   a fresh load
#pragma once

#include <cstdint>

namespace qvr {

inline constexpr std::uint32_t MaxWriteAttempts = 1'000'000;

// Stores and loads back until the word reads `value`, at most
// MaxWriteAttempts stores. True when it did.
template <class Memory>
bool StoreVerified(Memory& memory, std::uint64_t offset, std::uint32_t value) {
  for (std::uint32_t attempt = 0; attempt < MaxWriteAttempts; ++attempt) {
    memory.Store(offset, value);
    if (memory.Load(offset) == value) return true;
  }
  return false;
}

// Writes `value` at `offset`; when it cannot be verified, clears the word at
// `failureOffset` with a verified write of 0. The clearing is not followed by
// a further clearing when it cannot be verified either: one level of nesting,
// at most 2 * MaxWriteAttempts stores in all. Words that do not lie in the
// memory are not touched.
template <class Memory>
void WriteWordVerified(Memory& memory, std::uint64_t offset, std::uint32_t value, std::uint64_t failureOffset) {
  if (!memory.Holds(offset) || StoreVerified(memory, offset, value)) return;
  if (memory.Holds(failureOffset)) StoreVerified(memory, failureOffset, 0);
}

}  // namespace qvr
