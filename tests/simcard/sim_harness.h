// Running qvr-card-sim beside a test: a mapping name and device folder of
// the test's own, the simulator as a child process that is stopped and
// cleaned up after whatever happened, a view of the card memory, and the
// programming worker's way of handing blocks to the library.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "simcard/card_memory.h"
#include "simcard/sim_process.h"

namespace qvr::test {

// Where the simulator program was built.
std::string SimProgram();

// The blocks the programming worker hands to the library.
std::vector<std::uint8_t> StartBlock();
std::vector<std::uint8_t> EndBlock();
std::vector<std::uint8_t> DataBlock(std::uint32_t address, const std::uint8_t* data);

// One block through the library as the worker sends it: a write, a read at
// once, then a read every millisecond until the answer. 0 when none came
// within `limit`.
std::int8_t ExchangeBlock(const std::vector<std::uint8_t>& block,
                          std::chrono::milliseconds limit = std::chrono::seconds(20));

using ImageBuffer = std::array<std::uint8_t, ImageSize>;

// A 256 KB buffer as the loader holds it after loading `image` (the rest 0xFF).
ImageBuffer BufferOf(const std::vector<std::uint8_t>& image);

struct RunOutcome {
  int accepted = 0;
  std::optional<std::uint32_t> refusedAt;  // offset of the refused block
  bool unanswered = false;                 // a block got no answer
};
// A whole run as the worker makes it: start, every non-empty block, end.
RunOutcome ProgramBuffer(const ImageBuffer& buffer);

// Waits until the u32 at `offset` of `memory` equals `value`; false after `limit`.
bool AwaitWord(const simcard::CardMemory& memory, std::uint32_t offset, std::uint32_t value,
               std::chrono::milliseconds limit = std::chrono::seconds(20));
std::uint32_t Word(const simcard::CardMemory& memory, std::uint32_t offset);

std::vector<std::uint8_t> ReadFile(const std::string& path);

// A test with its own mapping name (in QVR_MAPPING_NAME) and, when asked,
// its own device folder (in QVR_DEVICE_DIR).
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts a simulator with `args` and waits for its ready line.
  void Start(const std::vector<std::string>& args);
  // Stops the first simulator; its exit code.
  int Stop(int signal = SIGTERM);
  // Runs `qvr-card-sim args` to its end.
  simcard::ProgramRun Run(const std::vector<std::string>& args);
  // The card memory as a client finds it (named mapping or PCI route).
  simcard::CardMemory& Memory();
  // Makes the device folder and points QVR_DEVICE_DIR at it.
  std::string UseDeviceFolder();
  std::string TempPath(const std::string& name);

  const std::string& Name() const { return name_; }

  std::vector<simcard::SimProcess> sims_;

 private:
  std::string name_;
  std::filesystem::path temp_;
  std::optional<simcard::CardMemory> memory_;
};

}  // namespace qvr::test
