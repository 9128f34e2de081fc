// Loads and stores on memory shared with another process. Every access is a
// real atomic load or store through std::atomic_ref; callers keep offsets in
// range and word offsets 4-aligned (the checked readers in mailbox.h and
// card_memory.h do that for memory they did not lay out themselves).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qvr::simcard {

inline std::uint32_t* WordAt(std::uint8_t* base, std::uint32_t offset) {
  return reinterpret_cast<std::uint32_t*>(base + offset);
}

inline std::uint32_t LoadWord(std::uint8_t* base, std::uint32_t offset,
                              std::memory_order order = std::memory_order_relaxed) {
  return std::atomic_ref<std::uint32_t>(*WordAt(base, offset)).load(order);
}

inline void StoreWord(std::uint8_t* base, std::uint32_t offset, std::uint32_t value,
                      std::memory_order order = std::memory_order_relaxed) {
  std::atomic_ref<std::uint32_t>(*WordAt(base, offset)).store(value, order);
}

inline std::uint32_t AddWord(std::uint8_t* base, std::uint32_t offset, std::uint32_t delta) {
  return std::atomic_ref<std::uint32_t>(*WordAt(base, offset)).fetch_add(delta, std::memory_order_relaxed) + delta;
}

inline bool ExchangeWord(std::uint8_t* base, std::uint32_t offset, std::uint32_t expected, std::uint32_t value) {
  return std::atomic_ref<std::uint32_t>(*WordAt(base, offset))
      .compare_exchange_strong(expected, value, std::memory_order_relaxed);
}

// Byte-wise relaxed copies into and out of shared memory.
void StoreBytes(std::uint8_t* base, std::uint32_t offset, const std::uint8_t* from, std::uint32_t count);
void LoadBytes(std::uint8_t* base, std::uint32_t offset, std::uint8_t* to, std::uint32_t count);

// Sleeps while the word at base + offset still holds `expected`, at most
// `timeout`; a wake from the other side or any change ends it early. Works
// across processes on shared mappings. May return early for no reason.
void WaitWhileWord(std::uint8_t* base, std::uint32_t offset, std::uint32_t expected,
                   std::chrono::microseconds timeout);
// Wakes every waiter on the word at base + offset.
void WakeWordWaiters(std::uint8_t* base, std::uint32_t offset);

}  // namespace qvr::simcard
