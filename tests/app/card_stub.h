// A card interface library that accepts every block, after `delay` per block.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "programming/program_card.h"
#include "programming/supervision.h"

namespace qvr::test {

inline std::atomic<int> stubDelayMicroseconds{0};

inline std::int32_t StubWrite(std::int32_t, const void*, std::int32_t) { return 0; }
inline std::int32_t StubRead(std::int32_t, void*, std::int32_t) {
  std::this_thread::sleep_for(std::chrono::microseconds(stubDelayMicroseconds.load()));
  return 1;
}

// Points the window's programming runs at the stub while it lives.
class AcceptingCard {
 public:
  explicit AcceptingCard(std::chrono::microseconds delay = {}) : saved_(RunInterfaceLibrary) {
    stubDelayMicroseconds = static_cast<int>(delay.count());
    RunInterfaceLibrary = {&StubWrite, &StubRead};
  }
  ~AcceptingCard() { RunInterfaceLibrary = saved_; }
  AcceptingCard(const AcceptingCard&) = delete;
  AcceptingCard& operator=(const AcceptingCard&) = delete;

 private:
  InterfaceLibrary saved_;
};

}  // namespace qvr::test
