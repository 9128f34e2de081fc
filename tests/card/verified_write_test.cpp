// The verified write against a memory whose behaviour each case scripts, so
// that every store and load is counted exactly.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>

#include "card/verified_write.h"

namespace qvr {
namespace {

constexpr std::uint64_t Target = 0x40;
constexpr std::uint64_t FailureWord = 0x100 + 0x150;
constexpr std::uint64_t MemorySize = 0x1000;

enum class Behaviour {
  Keeps,            // holds what is stored
  CardOverwrites,   // the card overwrites every store at once
  KeepsAfterThree,  // overwritten after the first three stores, then kept
};

// Words of a scripted memory; the card's own value is 0xDEAD0000 + offset.
struct ScriptedMemory {
  std::map<std::uint64_t, Behaviour> behaviour;
  std::map<std::uint64_t, std::uint32_t> words;
  std::map<std::uint64_t, std::uint64_t> stores;
  std::map<std::uint64_t, std::uint64_t> loads;

  bool Holds(std::uint64_t offset) const { return offset % 4 == 0 && offset + 4 <= MemorySize; }
  void Store(std::uint64_t offset, std::uint32_t value) {
    const std::uint64_t count = ++stores[offset];
    const auto found = behaviour.find(offset);
    const Behaviour how = found == behaviour.end() ? Behaviour::Keeps : found->second;
    const bool overwritten = how == Behaviour::CardOverwrites || (how == Behaviour::KeepsAfterThree && count <= 3);
    words[offset] = overwritten ? static_cast<std::uint32_t>(0xDEAD0000 + offset) : value;
  }
  std::uint32_t Load(std::uint64_t offset) {
    ++loads[offset];
    return words[offset];
  }
};

struct VerifiedWriteCase {
  const char* name;
  Behaviour target;
  Behaviour failureWord;
  std::uint64_t targetOffset;
  std::uint64_t targetStores;
  std::uint64_t failureStores;
  bool failureCleared;  // the failure word ends as 0
};

class VerifiedWrite : public ::testing::TestWithParam<VerifiedWriteCase> {};

TEST_P(VerifiedWrite, StoresAndClears) {
  const VerifiedWriteCase& c = GetParam();
  ScriptedMemory memory;
  memory.behaviour = {{c.targetOffset, c.target}, {FailureWord, c.failureWord}};
  memory.words[FailureWord] = 0x77777777;

  WriteWordVerified(memory, c.targetOffset, 0x12345678, FailureWord);

  EXPECT_EQ(memory.stores[c.targetOffset], c.targetStores);
  EXPECT_EQ(memory.loads[c.targetOffset], c.targetStores);  // one fresh load after every store
  EXPECT_EQ(memory.stores[FailureWord], c.failureStores);
  EXPECT_EQ(memory.words[FailureWord] == 0, c.failureCleared);
  if (c.target != Behaviour::CardOverwrites && c.targetStores != 0) {
    EXPECT_EQ(memory.words[c.targetOffset], 0x12345678u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VerifiedWrite,
    ::testing::Values(
        VerifiedWriteCase{"KeepsValue", Behaviour::Keeps, Behaviour::Keeps, Target, 1, 0, false},
        VerifiedWriteCase{"SticksOnFourthStore", Behaviour::KeepsAfterThree, Behaviour::Keeps, Target, 4, 0, false},
        VerifiedWriteCase{"CardOverwritesThenFailureWordCleared", Behaviour::CardOverwrites, Behaviour::Keeps, Target,
                          1'000'000, 1, true},
        VerifiedWriteCase{"ClearingNeedsRetries", Behaviour::CardOverwrites, Behaviour::KeepsAfterThree, Target,
                          1'000'000, 4, true},
        // Memory that keeps nothing: the clearing is not itself cleared again.
        VerifiedWriteCase{"NothingKeepsStopsAfterOneClearing", Behaviour::CardOverwrites, Behaviour::CardOverwrites,
                          Target, 1'000'000, 1'000'000, false},
        VerifiedWriteCase{"MisalignedWordUntouched", Behaviour::Keeps, Behaviour::Keeps, Target + 2, 0, 0, false},
        VerifiedWriteCase{"WordBeyondMemoryUntouched", Behaviour::Keeps, Behaviour::Keeps, MemorySize, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VerifiedWriteFailureWord, OutsideMemoryIsNotTouched) {
  ScriptedMemory memory;
  memory.behaviour = {{Target, Behaviour::CardOverwrites}};
  WriteWordVerified(memory, Target, 1, MemorySize + 0x150);
  EXPECT_EQ(memory.stores[Target], 1'000'000u);
  EXPECT_EQ(memory.stores.size(), 1u);
}

}  // namespace
}  // namespace qvr
