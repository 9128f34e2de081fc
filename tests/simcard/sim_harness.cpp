#include "tests/simcard/sim_harness.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/shared_memory.h"
#include "simcard/interface_library/qvrzorva.h"
#include "simcard/shared_words.h"

namespace qvr::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Header(std::uint32_t command, std::uint32_t payload) {
  std::vector<std::uint8_t> block(8 + payload, 0);
  for (int i = 0; i < 4; ++i) {
    block[i] = static_cast<std::uint8_t>(command >> (8 * i));
    block[4 + i] = static_cast<std::uint8_t>(payload >> (8 * i));
  }
  return block;
}

int testCounter = 0;

}  // namespace

std::string SimProgram() { return QVR_CARD_SIM_PROGRAM; }

std::vector<std::uint8_t> StartBlock() { return Header(1, 1); }
std::vector<std::uint8_t> EndBlock() { return Header(3, 1); }

std::vector<std::uint8_t> DataBlock(std::uint32_t address, const std::uint8_t* data) {
  std::vector<std::uint8_t> block = Header(2, 131);
  block[8] = static_cast<std::uint8_t>(address >> 16);
  block[9] = static_cast<std::uint8_t>(address >> 8);
  block[10] = static_cast<std::uint8_t>(address);
  std::copy_n(data, 128, block.begin() + 11);
  return block;
}

std::int8_t ExchangeBlock(const std::vector<std::uint8_t>& block, std::chrono::milliseconds limit) {
  std::array<std::uint8_t, 128> reply{};
  WriteInterfaceBlock(-1, block.data(), static_cast<std::int32_t>(block.size()));
  const auto deadline = Clock::now() + limit;
  auto answer = static_cast<std::int8_t>(ReadInterfaceBlock(-1, reply.data(), 128));
  while (answer == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    answer = static_cast<std::int8_t>(ReadInterfaceBlock(-1, reply.data(), 128));
  }
  return answer;
}

ImageBuffer BufferOf(const std::vector<std::uint8_t>& image) {
  ImageBuffer buffer;
  buffer.fill(0xFF);
  std::copy_n(image.begin(), std::min<std::size_t>(image.size(), buffer.size()), buffer.begin());
  return buffer;
}

RunOutcome ProgramBuffer(const ImageBuffer& buffer) {
  RunOutcome outcome;
  if (ExchangeBlock(StartBlock()) == 0) {
    outcome.unanswered = true;
    return outcome;
  }
  for (std::uint32_t address = 0; address < ImageSize; address += 128) {
    const std::uint8_t* data = buffer.data() + address;
    if (std::all_of(data, data + 128, [](std::uint8_t b) { return b == 0xFF; })) continue;
    const std::int8_t answer = ExchangeBlock(DataBlock(address, data));
    if (answer == 0) {
      outcome.unanswered = true;
      return outcome;
    }
    if (answer < 0) {
      outcome.refusedAt = address;
      break;
    }
    ++outcome.accepted;
  }
  const auto end = EndBlock();
  WriteInterfaceBlock(-1, end.data(), static_cast<std::int32_t>(end.size()));
  return outcome;
}

std::uint32_t Word(const simcard::CardMemory& memory, std::uint32_t offset) {
  return simcard::LoadWord(memory.base, offset, std::memory_order_acquire);
}

bool AwaitWord(const simcard::CardMemory& memory, std::uint32_t offset, std::uint32_t value,
               std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Word(memory, offset) != value) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void SimTest::SetUp() {
  name_ = "qvr-simcard-test-" + std::to_string(getpid()) + "-" + std::to_string(++testCounter);
  setenv("QVR_MAPPING_NAME", name_.c_str(), 1);
  unsetenv("QVR_DEVICE_DIR");
  std::string pattern = (std::filesystem::temp_directory_path() / "qvr-simcard-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  temp_ = pattern;
}

void SimTest::TearDown() {
  if (memory_) simcard::CloseCardMemory(*memory_);
  // A clean exit on SIGTERM also shows that the simulator met no sanitizer error.
  for (auto& sim : sims_) EXPECT_EQ(simcard::StopSimulator(sim), 0) << "simulator exit";
  sims_.clear();
  shm_unlink(platform::SharedMemoryObjectName(name_).c_str());
  std::error_code ignored;
  std::filesystem::remove_all(temp_, ignored);
  unsetenv("QVR_DEVICE_DIR");
}

void SimTest::Start(const std::vector<std::string>& args) {
  simcard::SimProcess sim;
  std::string error;
  ASSERT_TRUE(simcard::StartSimulator(SimProgram(), args, sim, error)) << error;
  sims_.push_back(sim);
}

int SimTest::Stop(int signal) {
  if (sims_.empty()) return -1;
  if (memory_) simcard::CloseCardMemory(*memory_);
  memory_.reset();
  const int code = simcard::StopSimulator(sims_.front(), std::chrono::seconds(10), signal);
  sims_.erase(sims_.begin());
  return code;
}

simcard::ProgramRun SimTest::Run(const std::vector<std::string>& args) { return simcard::RunProgram(SimProgram(), args); }

simcard::CardMemory& SimTest::Memory() {
  if (!memory_ || memory_->base == nullptr) memory_ = simcard::OpenCardMemory(name_);
  return *memory_;
}

std::string SimTest::UseDeviceFolder() {
  const auto folder = temp_ / "dev";
  std::filesystem::create_directories(folder);
  setenv("QVR_DEVICE_DIR", folder.c_str(), 1);
  return folder.string();
}

std::string SimTest::TempPath(const std::string& name) { return (temp_ / name).string(); }

}  // namespace qvr::test
