#include "simcard/shared_words.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <thread>

namespace qvr::simcard {

void StoreBytes(std::uint8_t* base, std::uint32_t offset, const std::uint8_t* from, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i)
    std::atomic_ref<std::uint8_t>(base[offset + i]).store(from[i], std::memory_order_relaxed);
}

void LoadBytes(std::uint8_t* base, std::uint32_t offset, std::uint8_t* to, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i)
    to[i] = std::atomic_ref<std::uint8_t>(base[offset + i]).load(std::memory_order_relaxed);
}

void WaitWhileWord(std::uint8_t* base, std::uint32_t offset, std::uint32_t expected,
                   std::chrono::microseconds timeout) {
  if (LoadWord(base, offset, std::memory_order_acquire) != expected) return;
  if (timeout.count() <= 0) return;
  timespec span{};
  span.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
  span.tv_nsec = static_cast<long>(timeout.count() % 1000000) * 1000;
  // Not FUTEX_PRIVATE_FLAG: the other side is another process.
  if (syscall(SYS_futex, WordAt(base, offset), FUTEX_WAIT, expected, &span, nullptr, 0) != 0 &&
      errno != EAGAIN && errno != ETIMEDOUT && errno != EINTR) {
    // No futex on this memory: let the other side run instead.
    std::this_thread::yield();
  }
}

void WakeWordWaiters(std::uint8_t* base, std::uint32_t offset) {
  syscall(SYS_futex, WordAt(base, offset), FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

}  // namespace qvr::simcard
