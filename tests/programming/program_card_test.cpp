// The programming worker against a scripted interface library.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <optional>

#include "image/firmware_image.h"
#include "programming/program_card.h"
#include "tests/support/box_recorder.h"
#include "tests/programming/scripted_library.h"

namespace qvr {
namespace {

using test::LibraryCall;
using test::BoxRecorder;
using test::ScriptedLibrary;
using test::Box;

constexpr std::uint32_t FailureFlags = 0x200000;
constexpr std::chrono::milliseconds ShortLimit{20};

// Marks one byte of each listed block, so that exactly those blocks are non-empty.
void ImageWithBlocks(const std::vector<std::uint32_t>& offsets, std::uint8_t value = 0x00, std::uint32_t at = 0) {
  ResetImage();
  for (std::uint32_t offset : offsets) TheImage.Data[offset + at] = value;
}

std::vector<std::uint32_t> DataAddresses(const std::vector<LibraryCall>& writes) {
  std::vector<std::uint32_t> addresses;
  for (auto& w : writes) {
    if (ScriptedLibrary::Command(w.block) == InterfaceBlock::CommandData) addresses.push_back(ScriptedLibrary::Address(w.block));
  }
  return addresses;
}

// Runs one worker to its end and returns its final counters.
struct Outcome {
  std::int32_t totalAtConstruction = -1;
  std::int32_t done = -1;
  bool running = true;
};
Outcome RunWorker(const ScriptedLibrary& library, std::chrono::milliseconds limit = DefaultAnswerLimit) {
  Outcome outcome;
  std::optional<ProgramCard> worker;
  worker.emplace(library.Functions(), limit);
  outcome.totalAtConstruction = worker->TotalBlocks;
  while (worker->Running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  outcome.done = worker->BlocksDone;
  outcome.running = worker->Running;
  worker.reset();
  return outcome;
}

class WorkerTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetImage(); }
};

// Which blocks go to the card, and with which address bytes and contents.

struct BlockCase {
  const char* name;
  std::vector<std::uint32_t> marked;    // blocks given one non-0xFF byte
  std::uint8_t value;                   // that byte's value
  std::uint32_t at;                     // its place inside the block
  std::vector<std::uint32_t> expected;  // blocks sent, in order
};

class BlockSelection : public WorkerTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockSelection, SendsExactlyTheNonEmptyBlocksWhole) {
  const BlockCase& c = GetParam();
  ImageWithBlocks(c.marked, c.value, c.at);
  BoxRecorder boxes;
  ScriptedLibrary library;
  Outcome outcome = RunWorker(library);

  EXPECT_EQ(outcome.totalAtConstruction, static_cast<std::int32_t>(c.expected.size()));
  EXPECT_EQ(outcome.done, static_cast<std::int32_t>(c.expected.size()));
  EXPECT_FALSE(outcome.running);
  EXPECT_TRUE(boxes.Boxes().empty());

  auto writes = library.Writes();
  EXPECT_EQ(DataAddresses(writes), c.expected);
  for (auto& w : writes) {
    if (ScriptedLibrary::Command(w.block) != InterfaceBlock::CommandData) continue;
    ASSERT_EQ(w.count, 139);
    ASSERT_EQ(w.block.size(), 139u);
    EXPECT_EQ(ScriptedLibrary::PayloadLength(w.block), 131u);
    const std::uint32_t address = ScriptedLibrary::Address(w.block);
    EXPECT_TRUE(std::equal(w.block.begin() + 11, w.block.end(), TheImage.Data.begin() + address))
        << "block " << std::hex << address << " not sent as it stands in the image";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Worker, BlockSelection,
    ::testing::Values(
        BlockCase{"AllErased", {}, 0x00, 0, {}},
        BlockCase{"OneByteInMiddle", {0x12380}, 0x00, 77, {0x12380}},
        BlockCase{"OneBitDiffers", {0x1A80}, 0xFE, 127, {0x1A80}},
        BlockCase{"FirstAndLast", {0x3FF80, 0}, 0x5A, 0, {0, 0x3FF80}},
        BlockCase{"Scattered", {0x8000, 0x80, 0x12380, 0x3FF00}, 0x01, 3, {0x80, 0x8000, 0x12380, 0x3FF00}}),
    [](const auto& info) { return info.param.name; });

// The address bytes of a data command, most significant first.
TEST_F(WorkerTest, AddressBytesAreBigEndian) {
  struct Row {
    std::uint32_t offset;
    std::uint8_t bytes[3];
  };
  const Row rows[] = {{0x12380, {0x01, 0x23, 0x80}}, {0x3FF80, {0x03, 0xFF, 0x80}}, {0, {0, 0, 0}}, {0x80, {0, 0, 0x80}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offset);
    ImageWithBlocks({row.offset});
    ScriptedLibrary library;
    RunWorker(library);
    auto writes = library.Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1].block[8], row.bytes[0]);
    EXPECT_EQ(writes[1].block[9], row.bytes[1]);
    EXPECT_EQ(writes[1].block[10], row.bytes[2]);
  }
}

// The whole conversation of a successful run, call by call.
TEST_F(WorkerTest, ConversationOfARun) {
  ImageWithBlocks({0x100, 0x200});
  ScriptedLibrary library([](const std::vector<std::uint8_t>&, int reads) { return reads < 2 ? 0 : 1; });
  RunWorker(library);

  struct Expected {
    bool write;
    std::uint32_t command;  // writes only
    std::int32_t count;
  };
  const std::vector<Expected> expected = {
      {true, 1, 9},   {false, 0, 128}, {false, 0, 128},  // start, not answered at the first read
      {true, 2, 139}, {false, 0, 128}, {false, 0, 128},  // block 0x100
      {true, 2, 139}, {false, 0, 128}, {false, 0, 128},  // block 0x200
      {true, 3, 9},                                      // end, never read
  };
  auto calls = library.Calls();
  ASSERT_EQ(calls.size(), expected.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].write, expected[i].write);
    EXPECT_EQ(calls[i].card, -1);
    EXPECT_EQ(calls[i].count, expected[i].count);
    EXPECT_EQ(calls[i].threadName, "Talk to Card");
    if (calls[i].write) {
      EXPECT_EQ(ScriptedLibrary::Command(calls[i].block), expected[i].command);
      EXPECT_EQ(ScriptedLibrary::PayloadLength(calls[i].block), static_cast<std::uint32_t>(expected[i].count - 8));
    }
  }
}

// What the card answers to the block at 0x1A80 (between two accepted blocks),
// read after read; the last value repeats.

struct ReplyCase {
  const char* name;
  std::vector<std::int32_t> answers;
  bool accepted;
};

class ReplyValues : public WorkerTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyValues, DecideAcceptanceByTheLowByte) {
  const ReplyCase& c = GetParam();
  ImageWithBlocks({0, 0x1A80, 0x3FF80});
  BoxRecorder boxes;
  ScriptedLibrary library([&](const std::vector<std::uint8_t>& block, int reads) -> std::int32_t {
    if (block.size() != 139 || block[9] != 0x1A || block[10] != 0x80) return 1;
    return c.answers[std::min<std::size_t>(reads, c.answers.size()) - 1];
  });
  Outcome outcome = RunWorker(library);

  auto writes = library.Writes();
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(ScriptedLibrary::Command(writes.front().block), InterfaceBlock::CommandStart);
  EXPECT_EQ(ScriptedLibrary::Command(writes.back().block), InterfaceBlock::CommandEnd);
  EXPECT_FALSE(outcome.running);
  if (c.accepted) {
    EXPECT_EQ(DataAddresses(writes), (std::vector<std::uint32_t>{0, 0x1A80, 0x3FF80}));
    EXPECT_EQ(outcome.done, 3);
    EXPECT_TRUE(boxes.Boxes().empty());
  } else {
    EXPECT_EQ(DataAddresses(writes), (std::vector<std::uint32_t>{0, 0x1A80}));
    EXPECT_EQ(outcome.done, 1);
    EXPECT_EQ(boxes.Boxes(), (std::vector<Box>{{"Programming failed @ block 1a80", "Programming Error", FailureFlags}}));
  }
  // The worker read exactly until the first answer whose low byte is not 0.
  auto calls = library.Calls();
  std::size_t reads = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].write && ScriptedLibrary::Command(calls[i].block) == 2 && ScriptedLibrary::Address(calls[i].block) == 0x1A80) {
      for (std::size_t j = i + 1; j < calls.size() && !calls[j].write; ++j) ++reads;
    }
  }
  const auto firstAnswer = std::find_if(c.answers.begin(), c.answers.end(), [](std::int32_t a) { return (a & 0xFF) != 0; });
  EXPECT_EQ(reads, static_cast<std::size_t>(firstAnswer - c.answers.begin()) + 1);
}

INSTANTIATE_TEST_SUITE_P(Worker, ReplyValues,
                         ::testing::Values(ReplyCase{"One", {1}, true}, ReplyCase{"Max", {127}, true},
                                           ReplyCase{"MinusOne", {-1}, false}, ReplyCase{"Min", {-128}, false},
                                           ReplyCase{"HighBitsIgnoredAccept", {0x301}, true},
                                           ReplyCase{"HighBitsIgnoredRefuse", {0x1FF}, false},
                                           ReplyCase{"LowByteZeroIsNoAnswer", {0x100, 0, 0x100, 1}, true},
                                           ReplyCase{"RefusedAfterWaiting", {0, 0x200, -1}, false}),
                         [](const auto& info) { return info.param.name; });

// The start command's answer: any answer lets the run go on; none ends it.

struct StartCase {
  const char* name;
  std::int32_t answer;
  std::vector<std::uint32_t> sent;
  std::vector<Box> boxes;
};

class StartAnswer : public WorkerTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartAnswer, DecidesWhetherBlocksAreSent) {
  const StartCase& c = GetParam();
  ImageWithBlocks({0x80, 0x1000});
  BoxRecorder boxes;
  ScriptedLibrary library([&](const std::vector<std::uint8_t>& block, int) { return block.size() == 9 ? c.answer : 1; });
  Outcome outcome = RunWorker(library, ShortLimit);

  auto writes = library.Writes();
  EXPECT_EQ(DataAddresses(writes), c.sent);
  EXPECT_EQ(outcome.done, static_cast<std::int32_t>(c.sent.size()));
  EXPECT_FALSE(outcome.running);
  EXPECT_EQ(ScriptedLibrary::Command(writes.back().block), InterfaceBlock::CommandEnd);
  EXPECT_EQ(boxes.Boxes(), c.boxes);
}

INSTANTIATE_TEST_SUITE_P(
    Worker, StartAnswer,
    ::testing::Values(StartCase{"Accepted", 1, {0x80, 0x1000}, {}}, StartCase{"Refused", -1, {0x80, 0x1000}, {}},
                      StartCase{"NoAnswer", 0, {}, {{"No answer from card", "Programming Error", FailureFlags}}}),
    [](const auto& info) { return info.param.name; });

// A card that stops answering: the run ends like a refused block.

struct SilenceCase {
  const char* name;
  std::uint32_t silentBlock;
  std::int32_t doneBefore;
  const char* message;
};

class AnswerLimit : public WorkerTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(AnswerLimit, EndsTheRunWithItsMessage) {
  const SilenceCase& c = GetParam();
  ImageWithBlocks({0, 0x80, 0x3FF80});
  BoxRecorder boxes;
  ScriptedLibrary library([&](const std::vector<std::uint8_t>& block, int) {
    bool silent = block.size() == 139 && ScriptedLibrary::Address(block) == c.silentBlock;
    return silent ? 0x100 : 1;
  });
  Outcome outcome = RunWorker(library, ShortLimit);

  EXPECT_EQ(outcome.done, c.doneBefore);
  EXPECT_FALSE(outcome.running);
  EXPECT_EQ(boxes.Boxes(), (std::vector<Box>{{c.message, "Programming Error", FailureFlags}}));
  auto writes = library.Writes();
  auto sent = DataAddresses(writes);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), c.silentBlock);
  EXPECT_EQ(ScriptedLibrary::Command(writes.back().block), InterfaceBlock::CommandEnd);
  EXPECT_TRUE(library.Calls().back().write);
  // It kept asking until the limit, not just once.
  std::size_t readsAfterSilentBlock = 0;
  auto calls = library.Calls();
  for (auto it = calls.rbegin() + 1; it != calls.rend() && !it->write; ++it) ++readsAfterSilentBlock;
  EXPECT_GT(readsAfterSilentBlock, 1u);
}

INSTANTIATE_TEST_SUITE_P(Worker, AnswerLimit,
                         ::testing::Values(SilenceCase{"FirstBlock", 0, 0, "No answer from card @ block 0"},
                                           SilenceCase{"MiddleBlock", 0x80, 1, "No answer from card @ block 80"},
                                           SilenceCase{"LastBlock", 0x3FF80, 2, "No answer from card @ block 3ff80"}),
                         [](const auto& info) { return info.param.name; });

TEST_F(WorkerTest, RefusalOfTheFirstBlockNamesBlockZero) {
  ImageWithBlocks({0, 0x80});
  BoxRecorder boxes;
  ScriptedLibrary library([](const std::vector<std::uint8_t>& block, int) { return block.size() == 139 ? -1 : 1; });
  Outcome outcome = RunWorker(library);
  EXPECT_EQ(outcome.done, 0);
  EXPECT_EQ(boxes.Boxes(), (std::vector<Box>{{"Programming failed @ block 0", "Programming Error", FailureFlags}}));
  EXPECT_EQ(DataAddresses(library.Writes()), (std::vector<std::uint32_t>{0}));
}

// While the failure message is up the worker waits: still running, no end command.
TEST_F(WorkerTest, WaitsForTheFailureMessageBeforeEnding) {
  ImageWithBlocks({0x80, 0x100});
  std::promise<void> shown;
  std::promise<void> dismiss;
  auto dismissed = dismiss.get_future().share();
  BoxRecorder boxes([&](const Box&) {
    shown.set_value();
    dismissed.wait();
    return platform::IdOk;
  });
  ScriptedLibrary library([](const std::vector<std::uint8_t>& block, int) { return block.size() == 139 ? -5 : 1; });
  ProgramCard worker(library.Functions());
  ASSERT_EQ(shown.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);

  EXPECT_TRUE(worker.Running);
  EXPECT_EQ(worker.BlocksDone, 0);
  EXPECT_EQ(ScriptedLibrary::Command(library.Writes().back().block), InterfaceBlock::CommandData);

  dismiss.set_value();
  while (worker.Running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(ScriptedLibrary::Command(library.Writes().back().block), InterfaceBlock::CommandEnd);
}

}  // namespace
}  // namespace qvr
