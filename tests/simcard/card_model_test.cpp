// The card's firmware model in process: its answers to each kind of block,
// what it stores, its restart and the run word it notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "card/interface_header.h"
#include "image/firmware_image.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"
#include "simcard/sim/card.h"
#include "tests/simcard/case_name.h"

namespace qvr::simcard {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Block(std::uint32_t command, std::uint32_t payload, std::size_t actualPayload) {
  std::vector<std::uint8_t> block(8 + actualPayload, 0x5A);
  for (int i = 0; i < 4; ++i) {
    block[i] = static_cast<std::uint8_t>(command >> (8 * i));
    block[4 + i] = static_cast<std::uint8_t>(payload >> (8 * i));
  }
  return block;
}
std::vector<std::uint8_t> Block(std::uint32_t command, std::uint32_t payload) { return Block(command, payload, payload); }

std::vector<std::uint8_t> Data(std::uint32_t address, std::uint8_t fill = 0x5A) {
  auto block = Block(2, 131);
  block[8] = static_cast<std::uint8_t>(address >> 16);
  block[9] = static_cast<std::uint8_t>(address >> 8);
  block[10] = static_cast<std::uint8_t>(address);
  std::fill(block.begin() + 11, block.end(), fill);
  return block;
}

const auto Start = Block(1, 1);
const auto End = Block(3, 1);

class CardModel : public ::testing::Test {
 protected:
  void SetUp() override { Boot(CardSettings{}); }
  void Boot(const CardSettings& settings) {
    std::fill(words_.begin(), words_.end(), 0u);
    card_ = Card{};
    card_.settings = settings;
    EraseFlash(card_.flash);
    LayOutMemory(card_, memory(), 0x04010000, 1234);
  }
  std::uint8_t* memory() { return reinterpret_cast<std::uint8_t*>(words_.data()); }
  std::uint32_t Word(std::uint32_t offset) { return LoadWord(memory(), offset); }
  std::optional<std::int32_t> Send(const std::vector<std::uint8_t>& bytes, bool oversized = false) {
    CardRequest request{++id_ * 2, bytes, oversized};
    std::vector<std::uint8_t> reply;
    return HandleRequest(card_, request, reply);
  }

  std::vector<std::uint32_t> words_ = std::vector<std::uint32_t>(MemorySize / 4);
  Card card_;
  std::uint32_t id_ = 0;
};

TEST_F(CardModel, LaysOutTheHeader) {
  EXPECT_EQ(Word(InterfaceHeader::Magic), ImageMagic);
  EXPECT_EQ(Word(InterfaceHeader::FirmwareVersion), 0x04010000u);
  EXPECT_EQ(Word(InterfaceHeader::AreaAOffset), AreaAStart);
  EXPECT_EQ(Word(InterfaceHeader::AreaBOffset), AreaBStart);
  EXPECT_EQ(Word(InterfaceHeader::CardState), 1u);
  EXPECT_EQ(Word(RecordStart + Record::OwnerPid), 1234u);
}

struct Exchange {
  const char* what;
  std::vector<std::vector<std::uint8_t>> blocks;
  std::vector<std::optional<std::int32_t>> answers;
};

class CardAnswers : public CardModel, public ::testing::WithParamInterface<Exchange> {};

TEST_P(CardAnswers, AsExpected) {
  const Exchange& exchange = GetParam();
  ASSERT_EQ(exchange.blocks.size(), exchange.answers.size());
  for (std::size_t i = 0; i < exchange.blocks.size(); ++i)
    EXPECT_EQ(Send(exchange.blocks[i]), exchange.answers[i]) << exchange.what << ", block " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CardAnswers,
    ::testing::Values(
        Exchange{"a run", {Start, Data(0), Data(0x3FF80), End}, {1, 1, 1, 1}},
        Exchange{"data before a start", {Data(0)}, {Answer::OutOfOrder}},
        Exchange{"end before a start", {End}, {Answer::OutOfOrder}},
        Exchange{"start with a longer payload", {Block(1, 2)}, {Answer::Malformed}},
        Exchange{"data with a short payload", {Start, Block(2, 130)}, {1, Answer::Malformed}},
        Exchange{"length word larger than the block", {Start, Block(2, 131, 100)}, {1, Answer::Malformed}},
        Exchange{"length word smaller than the block", {Start, Block(2, 131, 140)}, {1, Answer::Malformed}},
        Exchange{"length word near 2^32", {Start, Block(2, 0xFFFFFFF8, 131)}, {1, Answer::Malformed}},
        Exchange{"address past the flash", {Start, Data(0x40000)}, {1, Answer::Malformed}},
        Exchange{"address inside a block", {Start, Data(0x40)}, {1, Answer::Malformed}},
        Exchange{"unknown command", {Block(7, 1)}, {Answer::UnknownCommand}},
        Exchange{"shorter than a header", {std::vector<std::uint8_t>{1, 0, 0}}, {Answer::Malformed}},
        Exchange{"a second start begins again", {Start, Data(0), Start, End}, {1, 1, 1, 1}},
        Exchange{"end with a longer payload", {Start, Block(3, 4)}, {1, Answer::Malformed}}),
    [](const auto& info) { return test::CaseName(info.param.what); });

TEST_F(CardModel, OversizedRequestIsRefused) { EXPECT_EQ(Send(Start, true), Answer::Malformed); }

TEST_F(CardModel, StoresAcceptedBlocksOnly) {
  CardSettings settings;
  settings.refuseBlock = 0x1A85;
  Boot(settings);
  ASSERT_EQ(Send(Start), 1);
  EXPECT_EQ(Send(Data(0x1A00, 0x11)), 1);
  EXPECT_EQ(Send(Data(0x1A80, 0x22)), Answer::Refused);
  EXPECT_EQ(Send(Data(0x1B00, 0x33)), 1);
  EXPECT_EQ(Send(Data(0x40, 0x44)), Answer::Malformed);
  EXPECT_EQ(card_.flash.bytes[0x1A00], 0x11);
  EXPECT_EQ(card_.flash.bytes[0x1A80], 0xFF);
  EXPECT_EQ(card_.flash.bytes[0x1AFF], 0xFF);
  EXPECT_EQ(card_.flash.bytes[0x1B7F], 0x33);
  EXPECT_EQ(card_.flash.bytes[0x40], 0xFF);
  EXPECT_EQ(card_.runBlocks, 2u);
  EXPECT_EQ(Word(RecordStart + Record::RefusedBlocks), 1u);
}

TEST_F(CardModel, StartErasesTheFlash) {
  card_.flash.bytes[0x9000] = 0;
  ASSERT_EQ(Send(Start), 1);
  EXPECT_TRUE(std::all_of(card_.flash.bytes.begin(), card_.flash.bytes.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(CardModel, StopsAnsweringAfterItsCount) {
  CardSettings settings;
  settings.stopAnsweringAfter = 2;
  Boot(settings);
  ASSERT_EQ(Send(Start), 1);
  EXPECT_EQ(Send(Data(0)), 1);
  EXPECT_EQ(Send(Data(0x80)), 1);
  EXPECT_EQ(Send(Data(0x100)), std::nullopt);
  EXPECT_EQ(card_.phase, Phase::Silent);
}

// Restart after a run that wrote a firmware record with the given version.
struct RestartCase {
  std::uint32_t reprogram;
  std::uint32_t initialState;
  std::vector<std::uint32_t> statesAfterRuns;
};

class CardRestart : public CardModel, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(CardRestart, TakesTheVersionFromTheFlashAndAsksForMoreRuns) {
  CardSettings settings;
  settings.reprogram = GetParam().reprogram;
  settings.cardState = GetParam().initialState;
  settings.restartTime = std::chrono::hours(1);
  Boot(settings);
  EXPECT_EQ(Word(InterfaceHeader::CardState), GetParam().initialState);
  for (std::size_t run = 0; run < GetParam().statesAfterRuns.size(); ++run) {
    auto record = Data(ApplicationRecordOffset, 0);
    const std::uint8_t version[4] = {2, 3, static_cast<std::uint8_t>(run), 9};
    std::copy_n(version, 4, record.begin() + 11 + ImageRecord::Status);
    ASSERT_EQ(Send(Start), 1);
    ASSERT_EQ(Send(record), 1);
    StoreWord(memory(), InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
    ASSERT_EQ(Send(End), 1);
    const auto ended = Clock::now();
    EXPECT_EQ(card_.phase, Phase::Restarting);

    Housekeeping(card_, ended + std::chrono::minutes(59));
    EXPECT_EQ(Word(InterfaceHeader::Magic), InterfaceHeader::MagicWhileProgramming) << "too early";
    Housekeeping(card_, ended + std::chrono::minutes(61));
    EXPECT_EQ(Word(InterfaceHeader::Magic), ImageMagic);
    EXPECT_EQ(Word(InterfaceHeader::FirmwareVersion), 0x02030009u | run << 8);
    EXPECT_EQ(Word(InterfaceHeader::CardState), GetParam().statesAfterRuns[run]) << "after run " << run + 1;
    EXPECT_EQ(Word(RecordStart + Record::LastRunBlocks), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CardRestart,
                         ::testing::Values(RestartCase{0, 1, {1, 1}}, RestartCase{0, 0, {1}},
                                           RestartCase{2, 1, {0x201, 0x201, 1, 1}}),
                         [](const auto& info) {
                           return "reprogram_" + std::to_string(info.param.reprogram) + "_state_" +
                                  std::to_string(info.param.initialState);
                         });

TEST_F(CardModel, RestartTakesTheMagicAway) {
  ASSERT_EQ(Send(Start), 1);
  ASSERT_EQ(Send(End), 1);
  EXPECT_EQ(Word(InterfaceHeader::Magic), 0u);
}

TEST_F(CardModel, NeverRestartStaysAway) {
  CardSettings settings;
  settings.neverRestart = true;
  settings.restartTime = std::chrono::milliseconds(0);
  Boot(settings);
  ASSERT_EQ(Send(Start), 1);
  ASSERT_EQ(Send(End), 1);
  Housekeeping(card_, Clock::now() + std::chrono::hours(1));
  EXPECT_EQ(card_.phase, Phase::Halted);
  EXPECT_NE(Word(InterfaceHeader::Magic), ImageMagic);
}

TEST_F(CardModel, NotesEachRunWordOnceItHasStood) {
  const std::uint32_t runWord = AreaBStart + InterfaceHeader::AreaBRunWord;
  const auto t = Clock::now();
  StoreWord(memory(), runWord, 1);
  Housekeeping(card_, t);
  EXPECT_EQ(Word(runWord), 1u) << "the host's read-back must still find its value";
  EXPECT_EQ(Word(RecordStart + Record::RunWordWrites), 0u);
  Housekeeping(card_, t + std::chrono::milliseconds(2));
  EXPECT_EQ(Word(runWord), 0u);
  EXPECT_EQ(Word(RecordStart + Record::RunWordWrites), 1u);

  // Overwritten before the card took it: noted once, with the later value.
  StoreWord(memory(), runWord, 1);
  Housekeeping(card_, t + std::chrono::milliseconds(3));
  StoreWord(memory(), runWord, 7);
  Housekeeping(card_, t + std::chrono::milliseconds(4));
  Housekeeping(card_, t + std::chrono::milliseconds(6));
  EXPECT_EQ(Word(RecordStart + Record::RunWordWrites), 2u);
  EXPECT_EQ(Word(RecordStart + Record::RunWordLast), 7u);
  EXPECT_EQ(Word(RecordStart + Record::RunWordHistory), 1u);
  EXPECT_EQ(Word(RecordStart + Record::RunWordHistory + 4), 7u);
}

}  // namespace
}  // namespace qvr::simcard
