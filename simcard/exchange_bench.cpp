// qvr-zorva-exchange [RUNS]: starts a simulator of its own and streams RUNS
// full runs (start, 2048 data blocks, end) through the interface library,
// polling as the programming worker does. Prints the time per run, blocks
// per second, and how often the first read after a write found the answer.
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "simcard/interface_library/qvrzorva.h"
#include "simcard/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Blocks = 2048;

struct Exchange {
  std::int8_t answer = 0;
  bool firstRead = false;  // the first read already had it
};

Exchange ExchangeBlock(const std::uint8_t* block, std::int32_t count) {
  std::array<std::uint8_t, 128> reply{};
  WriteInterfaceBlock(-1, block, count);
  Exchange result;
  result.answer = static_cast<std::int8_t>(ReadInterfaceBlock(-1, reply.data(), 128));
  result.firstRead = result.answer != 0;
  while (result.answer == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    result.answer = static_cast<std::int8_t>(ReadInterfaceBlock(-1, reply.data(), 128));
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string name = "qvr-zorva-exchange-" + std::to_string(getpid());
  setenv("QVR_MAPPING_NAME", name.c_str(), 1);
  qvr::simcard::SimProcess sim;
  std::string error;
  if (!qvr::simcard::StartSimulator(QVR_CARD_SIM_PROGRAM, {"--restart-ms", "0"}, sim, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  std::array<std::uint8_t, 9> command{1, 0, 0, 0, 1, 0, 0, 0, 0};
  std::array<std::uint8_t, 139> data{2, 0, 0, 0, 131, 0, 0, 0};
  double best = 1e9, total = 0;
  int firstReads = 0, refused = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = Clock::now();
    command[0] = 1;
    ExchangeBlock(command.data(), 9);
    for (int b = 0; b < Blocks; ++b) {
      const std::uint32_t address = static_cast<std::uint32_t>(b) * 128;
      data[8] = static_cast<std::uint8_t>(address >> 16);
      data[9] = static_cast<std::uint8_t>(address >> 8);
      data[10] = static_cast<std::uint8_t>(address);
      for (int i = 0; i < 128; ++i) data[11 + i] = static_cast<std::uint8_t>(b + i);
      const Exchange e = ExchangeBlock(data.data(), 139);
      firstReads += e.firstRead ? 1 : 0;
      refused += e.answer < 0 ? 1 : 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    command[0] = 3;
    WriteInterfaceBlock(-1, command.data(), 9);
    best = std::min(best, seconds);
    total += seconds;
    std::printf("run %d: %.1f ms, %.0f blocks/s\n", run + 1, seconds * 1000, Blocks / seconds);
  }
  std::printf("best %.1f ms per %d blocks (%.0f blocks/s), mean %.1f ms; first read answered %d of %d; refused %d\n",
              best * 1000, Blocks, Blocks / best, total / runs * 1000, firstReads, runs * Blocks, refused);
  qvr::simcard::StopSimulator(sim);
  return refused == 0 ? 0 : 1;
}
