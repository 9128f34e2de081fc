// The interface library against a running simulator, block by block as the
// programming worker uses it.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "card/interface_header.h"
#include "image/srecord.h"
#include "programming/program_card.h"
#include "simcard/interface_library/qvrzorva.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"
#include "tests/simcard/case_name.h"
#include "tests/simcard/sim_harness.h"
#include "tools/image_maker.h"

namespace qvr::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int NonEmptyBlocks(const ImageBuffer& buffer, std::uint32_t below = ImageSize) {
  int blocks = 0;
  for (std::uint32_t a = 0; a < below; a += 128)
    blocks += std::all_of(buffer.begin() + a, buffer.begin() + a + 128, [](std::uint8_t b) { return b == 0xFF; }) ? 0 : 1;
  return blocks;
}

// The loader's buffer after loading the image of `recipe`.
ImageBuffer MadeImage(const tool::ImageSpec& recipe) {
  const auto refusal = tool::CheckSpec(recipe);
  if (refusal) ADD_FAILURE() << "image recipe refused: " << *refusal;
  return BufferOf(tool::MakeImage(recipe));
}

std::uint32_t VersionWord(const tool::ImageSpec& recipe) {
  return std::uint32_t{recipe.status} << 24 | std::uint32_t{recipe.major} << 16 | std::uint32_t{recipe.minor} << 8 | recipe.patch;
}

class LibraryTest : public SimTest {};

struct ImageCase {
  const char* what;
  tool::ImageSpec recipe;
};

class ProgrammedImage : public LibraryTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ProgrammedImage, FlashEqualsTheImageAndTheCardRestartsWithItsVersion) {
  const std::string flashOut = TempPath("flash.bin");
  Start({"--flash-out", flashOut, "--restart-ms", "50"});
  const ImageBuffer buffer = MadeImage(GetParam().recipe);

  simcard::StoreWord(Memory().base, InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
  const RunOutcome outcome = ProgramBuffer(buffer);
  EXPECT_FALSE(outcome.unanswered);
  EXPECT_FALSE(outcome.refusedAt);
  EXPECT_EQ(outcome.accepted, NonEmptyBlocks(buffer));

  ASSERT_TRUE(AwaitWord(Memory(), InterfaceHeader::Magic, ImageMagic));
  EXPECT_EQ(Word(Memory(), InterfaceHeader::FirmwareVersion), VersionWord(GetParam().recipe));
  EXPECT_EQ(Word(Memory(), InterfaceHeader::CardState), 1u);
  const auto flash = ReadFile(flashOut);
  ASSERT_EQ(flash.size(), ImageSize);
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), buffer.begin())) << "flash differs from the image";
  const auto status = Run({"status"});
  EXPECT_NE(status.output.find("last run: " + std::to_string(outcome.accepted) + " blocks\n"), std::string::npos)
      << status.output;
}

tool::ImageSpec Recipe(std::uint8_t status, std::uint8_t major, std::uint8_t minor, std::uint8_t patch,
                     std::uint32_t size, bool kernelCopy = false) {
  tool::ImageSpec recipe;
  recipe.status = status;
  recipe.major = major;
  recipe.minor = minor;
  recipe.patch = patch;
  recipe.size = size;
  recipe.kernel = kernelCopy;
  recipe.kernelCopy = kernelCopy;
  return recipe;
}

INSTANTIATE_TEST_SUITE_P(Images, ProgrammedImage,
                         ::testing::Values(ImageCase{"small application", Recipe(2, 3, 4, 5, 0x9000)},
                                           ImageCase{"kernel, copy and a long application",
                                                     Recipe(4, 1, 12, 200, 0x30000, true)}),
                         [](const auto& info) { return CaseName(info.param.what); });

TEST_F(LibraryTest, TheProgrammingWorkerProgramsTheCard) {
  const std::string flashOut = TempPath("flash.bin");
  const std::string file = TempPath("image.q37");
  Start({"--flash-out", flashOut});
  const tool::ImageSpec recipe = Recipe(1, 2, 3, 4, 0x9000, true);
  ASSERT_TRUE(tool::WriteSRecordFile(file, recipe));
  ClearImage();
  ASSERT_FALSE(LoadSRecordFile(file));

  auto worker = std::make_unique<ProgramCard>();
  const auto deadline = Clock::now() + 60s;
  while (worker->Running && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(worker->Running);
  EXPECT_EQ(worker->BlocksDone.load(), worker->TotalBlocks.load());
  EXPECT_GT(worker->TotalBlocks.load(), 0);
  worker.reset();

  ASSERT_TRUE(AwaitWord(Memory(), InterfaceHeader::Magic, ImageMagic));
  EXPECT_EQ(Word(Memory(), InterfaceHeader::FirmwareVersion), VersionWord(recipe));
  const auto flash = ReadFile(flashOut);
  ASSERT_EQ(flash.size(), ImageSize);
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), TheImage.Data.begin()));
  ResetImage();
}

struct RefusalCase {
  const char* option;
  std::uint32_t refusedBlock;
};

class RefusedBlock : public LibraryTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedBlock, EndsTheRunThere) {
  Start({"--refuse-block", GetParam().option});
  const ImageBuffer buffer = MadeImage(Recipe(4, 1, 0, 0, 0x10000, true));
  const RunOutcome outcome = ProgramBuffer(buffer);
  EXPECT_FALSE(outcome.unanswered);
  EXPECT_EQ(outcome.refusedAt, GetParam().refusedBlock);
  EXPECT_EQ(outcome.accepted, NonEmptyBlocks(buffer, GetParam().refusedBlock));
  // The end command still reaches the card.
  ASSERT_TRUE(AwaitWord(Memory(), simcard::RecordStart + simcard::Record::RunsEnded, 1));
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::RefusedBlocks), 1u);
}

INSTANTIATE_TEST_SUITE_P(Offsets, RefusedBlock,
                         ::testing::Values(RefusalCase{"0", 0}, RefusalCase{"0x1a85", 0x1A80},
                                           RefusalCase{"0x8000", 0x8000}, RefusalCase{"65535", 0xFF80}),
                         [](const auto& info) { return CaseName(info.param.option); });

TEST_F(LibraryTest, RefusalIsANegativeLowByte) {
  Start({"--refuse-block", "0x80"});
  const std::vector<std::uint8_t> data(128, 0);
  ASSERT_EQ(ExchangeBlock(StartBlock()), 1);
  const auto block = DataBlock(0x80, data.data());
  WriteInterfaceBlock(-1, block.data(), static_cast<std::int32_t>(block.size()));
  std::int32_t result = 0;
  const auto deadline = Clock::now() + 20s;
  while (result == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
    result = ReadInterfaceBlock(-1, nullptr, 0);
  }
  EXPECT_LT(static_cast<std::int8_t>(result), 0);
  EXPECT_EQ(ReadInterfaceBlock(-1, nullptr, 0), result) << "the answer stays until the next write";
}

class ReplyDelay : public LibraryTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReplyDelay, AnswersComeNoSoonerThanTheDelay) {
  const int delayUs = GetParam();
  Start({"--reply-delay-us", std::to_string(delayUs)});
  const std::vector<std::uint8_t> data(128, 0x3C);
  for (const auto& block : {StartBlock(), DataBlock(0x400, data.data())}) {
    const auto sent = Clock::now();
    EXPECT_EQ(ExchangeBlock(block), 1);
    EXPECT_GE(Clock::now() - sent, std::chrono::microseconds(delayUs));
  }
}

// One within the library's own wait inside the write, one well beyond it.
INSTANTIATE_TEST_SUITE_P(Delays, ReplyDelay, ::testing::Values(5000, 150000));

class StopAnswering : public LibraryTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopAnswering, LeavesTheReadAtZero) {
  const int answered = GetParam();
  Start({"--stop-answering-after", std::to_string(answered)});
  const std::vector<std::uint8_t> data(128, 1);
  ASSERT_EQ(ExchangeBlock(StartBlock()), 1);
  for (int b = 0; b < answered; ++b) EXPECT_EQ(ExchangeBlock(DataBlock(b * 128u, data.data())), 1) << b;
  EXPECT_EQ(ExchangeBlock(DataBlock(answered * 128u, data.data()), 200ms), 0);
  EXPECT_EQ(ReadInterfaceBlock(-1, nullptr, 0), 0);
  ASSERT_TRUE(AwaitWord(Memory(), simcard::RecordStart + simcard::Record::Phase,
                        static_cast<std::uint32_t>(simcard::Phase::Silent)));
  EXPECT_NE(Run({"status"}).output.find("not answering"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Counts, StopAnswering, ::testing::Values(0, 3));

TEST_F(LibraryTest, ReplyBytesDescribeTheAnswer) {
  Start({});
  const std::vector<std::uint8_t> data(128, 0);
  ASSERT_EQ(ExchangeBlock(StartBlock()), 1);
  ASSERT_EQ(ExchangeBlock(DataBlock(0x12380, data.data())), 1);
  std::array<std::uint8_t, 128> reply{};
  reply.fill(0xEE);
  ASSERT_EQ(ReadInterfaceBlock(-1, reply.data(), 128), 1);
  const auto word = [&](int at) { return simcard::LoadWord(reply.data(), static_cast<std::uint32_t>(at)); };
  EXPECT_EQ(word(0), 2u);
  EXPECT_EQ(word(4), 1u);
  EXPECT_EQ(word(8), 0x12380u);
  EXPECT_EQ(word(12), 1u);
  EXPECT_EQ(reply[16], 0xEE) << "nothing beyond the reply";
}

TEST_F(LibraryTest, FollowsTheCardToANewSimulator) {
  Start({});
  ASSERT_EQ(ExchangeBlock(StartBlock()), 1);
  ASSERT_EQ(Stop(), 0);
  Start({"--version", "7.7.7"});
  EXPECT_EQ(ExchangeBlock(StartBlock()), 1);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::RunsStarted), 1u);
}

struct BadCall {
  const char* what;
  std::int32_t card;
  bool block;
  std::int32_t count;
};

class BadArguments : public LibraryTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(BadArguments, AreRefusedWithoutReachingTheCard) {
  Start({});
  std::vector<std::uint8_t> block = StartBlock();
  block.resize(1024);
  const BadCall& call = GetParam();
  EXPECT_EQ(WriteInterfaceBlock(call.card, call.block ? block.data() : nullptr, call.count), QVRZORVA_BAD_ARGUMENTS)
      << call.what;
  EXPECT_EQ(static_cast<std::int8_t>(ReadInterfaceBlock(-1, nullptr, 0)), QVRZORVA_BAD_ARGUMENTS);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::RunsStarted), 0u);
}

INSTANTIATE_TEST_SUITE_P(Calls, BadArguments,
                         ::testing::Values(BadCall{"another card", 5, true, 9}, BadCall{"no block", -1, false, 9},
                                           BadCall{"shorter than a header", -1, true, 7},
                                           BadCall{"negative count", -1, true, -9},
                                           BadCall{"more than the mailbox holds", -1, true, 1024}),
                         [](const auto& info) { return CaseName(info.param.what); });

// Named objects that are there but are no card the library can use.
struct ForeignMemory {
  const char* what;
  std::size_t size;
  std::uint32_t areaA;
};

class ForeignMapping : public LibraryTest, public ::testing::WithParamInterface<ForeignMemory> {};

TEST_P(ForeignMapping, MeansNoCard) {
  const std::string object = "/" + Name();
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(GetParam().size)), 0);
  if (GetParam().size >= 20) {
    void* view = mmap(nullptr, GetParam().size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(view, MAP_FAILED);
    auto* base = static_cast<std::uint8_t*>(view);
    std::fill(base, base + GetParam().size, 0xA5);
    simcard::StoreWord(base, InterfaceHeader::AreaAOffset, GetParam().areaA);
    munmap(view, GetParam().size);
  }
  close(fd);
  const auto block = StartBlock();
  EXPECT_EQ(WriteInterfaceBlock(-1, block.data(), 9), QVRZORVA_NO_CARD) << GetParam().what;
  EXPECT_EQ(static_cast<std::int8_t>(ReadInterfaceBlock(-1, nullptr, 0)), QVRZORVA_NO_CARD);
}

INSTANTIATE_TEST_SUITE_P(Objects, ForeignMapping,
                         ::testing::Values(ForeignMemory{"empty object", 0, 0}, ForeignMemory{"8 bytes", 8, 0},
                                           ForeignMemory{"area A beyond the end", 0x1000, 0xFFFFFFF0},
                                           ForeignMemory{"area A at the end", 0x1000, 0x1000},
                                           ForeignMemory{"no mailbox in area A", 0x1000, 0x100}),
                         [](const auto& info) { return CaseName(info.param.what); });

TEST_F(LibraryTest, NoCardAnywhere) {
  UseDeviceFolder();
  const auto block = StartBlock();
  EXPECT_EQ(WriteInterfaceBlock(-1, block.data(), 9), QVRZORVA_NO_CARD);
  EXPECT_EQ(static_cast<std::int8_t>(ReadInterfaceBlock(-1, nullptr, 0)), QVRZORVA_NO_CARD);
}

}  // namespace
}  // namespace qvr::test
