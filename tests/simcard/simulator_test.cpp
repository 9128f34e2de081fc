// qvr-card-sim as a program: its options as the card's header shows them,
// restarts and further runs, the run word, and its life as a process.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "card/card_interface.h"
#include "card/interface_header.h"
#include "simcard/interface_library/qvrzorva.h"
#include "simcard/mailbox.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"
#include "tests/simcard/case_name.h"
#include "tests/simcard/sim_harness.h"
#include "tools/image_maker.h"

namespace qvr::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A small image whose firmware record carries `version` (status, major, minor, patch).
ImageBuffer SmallImage(std::uint8_t minor) {
  tool::ImageSpec recipe;
  recipe.size = 0x9000;
  recipe.minor = minor;
  return BufferOf(tool::MakeImage(recipe));
}

class SimulatorTest : public SimTest {};

struct HeaderCase {
  std::vector<std::string> args;
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t cardState;
};

class InitialHeader : public SimulatorTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(InitialHeader, ShowsTheOptions) {
  Start(GetParam().args);
  simcard::CardMemory& memory = Memory();
  ASSERT_NE(memory.base, nullptr);
  EXPECT_EQ(Word(memory, InterfaceHeader::Magic), GetParam().magic);
  EXPECT_EQ(Word(memory, InterfaceHeader::FirmwareVersion), GetParam().version);
  EXPECT_EQ(Word(memory, InterfaceHeader::CardState), GetParam().cardState);
  EXPECT_TRUE(simcard::FindMailbox(memory.base, memory.size)) << "the mailbox is served in any case";

  // The loader's own connection agrees.
  TheCard.MappingName = Name();
  EXPECT_EQ(ConnectInterface(), GetParam().magic == ImageMagic ? StatusOk : StatusFailed);
  DisconnectInterface();
}

INSTANTIATE_TEST_SUITE_P(
    Options, InitialHeader,
    ::testing::Values(HeaderCase{{}, ImageMagic, 0x04010000, 1},
                      HeaderCase{{"--status", "3", "--version", "2.3.4"}, ImageMagic, 0x03020304, 1},
                      HeaderCase{{"--status", "0", "--version", "0.0.0"}, ImageMagic, 0, 1},
                      HeaderCase{{"--card-state", "0x201"}, ImageMagic, 0x04010000, 0x201},
                      HeaderCase{{"--card-state", "0"}, ImageMagic, 0x04010000, 0},
                      HeaderCase{{"--no-magic"}, 0, 0x04010000, 1}),
    [](const auto& info) { return CaseName(info.param.args); });

TEST_F(SimulatorTest, StartsFromAnImageFile) {
  const std::string file = TempPath("start.q37");
  tool::ImageSpec recipe;
  recipe.status = 1;
  recipe.major = 3;
  recipe.minor = 1;
  recipe.patch = 2;
  ASSERT_TRUE(tool::WriteSRecordFile(file, recipe));
  Start({"--flash", file});
  EXPECT_EQ(Word(Memory(), InterfaceHeader::FirmwareVersion), 0x01030102u);
  const auto status = Run({"status"});
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_TRUE(Contains(status.output, "firmware: Development 3.1.2\n")) << status.output;
  EXPECT_TRUE(Contains(status.output, "magic: present")) << status.output;
}

struct BadFile {
  const char* what;
  const char* content;  // nullptr: no file at all
};

class UnloadableImage : public SimulatorTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(UnloadableImage, StopsTheStart) {
  const std::string file = TempPath("bad.q37");
  if (GetParam().content != nullptr) {
    FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(GetParam().content, out);
    std::fclose(out);
  }
  const auto run = Run({"--flash", file});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_TRUE(Contains(run.output, file)) << run.output;
  EXPECT_FALSE(Contains(run.output, simcard::ReadyLine));
  EXPECT_LT(shm_open(("/" + Name()).c_str(), O_RDONLY, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, UnloadableImage,
                         ::testing::Values(BadFile{"missing", nullptr}, BadFile{"not S-records", "hello\n"},
                                           BadFile{"record beyond the buffer", "S20804000001020304EB\n"}),
                         [](const auto& info) { return CaseName(info.param.what); });

TEST_F(SimulatorTest, AsksForFurtherRunsAsOften) {
  Start({"--reprogram", "2", "--restart-ms", "0"});
  const std::vector<std::uint32_t> expectedStates = {0x201, 0x201, 1};
  for (std::size_t run = 0; run < expectedStates.size(); ++run) {
    simcard::StoreWord(Memory().base, InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
    const RunOutcome outcome = ProgramBuffer(SmallImage(static_cast<std::uint8_t>(run)));
    ASSERT_FALSE(outcome.unanswered);
    ASSERT_TRUE(AwaitWord(Memory(), InterfaceHeader::Magic, ImageMagic)) << "run " << run + 1;
    EXPECT_EQ(Word(Memory(), InterfaceHeader::CardState), expectedStates[run]) << "run " << run + 1;
    EXPECT_EQ(Word(Memory(), InterfaceHeader::FirmwareVersion), 0x04010000u | run << 8);
  }
  EXPECT_TRUE(Contains(Run({"status"}).output, "runs: 3 started, 3 ended")) << Run({"status"}).output;
}

TEST_F(SimulatorTest, MagicReturnsNoSoonerThanTheRestartTime) {
  Start({"--restart-ms", "300"});
  simcard::StoreWord(Memory().base, InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
  ASSERT_EQ(ExchangeBlock(StartBlock()), 1);
  const auto ended = Clock::now();
  const auto end = EndBlock();
  WriteInterfaceBlock(-1, end.data(), 9);
  ASSERT_TRUE(AwaitWord(Memory(), InterfaceHeader::Magic, ImageMagic));
  EXPECT_GE(Clock::now() - ended, 300ms);
}

TEST_F(SimulatorTest, NeverRestartLeavesTheMagicAway) {
  Start({"--never-restart", "--restart-ms", "0"});
  ASSERT_EQ(ExchangeBlock(StartBlock()), 1);
  EXPECT_EQ(ExchangeBlock(EndBlock()), 1);
  EXPECT_NE(Word(Memory(), InterfaceHeader::Magic), ImageMagic);
  const auto status = Run({"status"});
  EXPECT_TRUE(Contains(status.output, "magic: absent")) << status.output;
  EXPECT_TRUE(Contains(status.output, "halted")) << status.output;
}

TEST_F(SimulatorTest, RecordsEachRunWordTheHostWrites) {
  Start({});
  TheCard.MappingName = Name();
  ASSERT_EQ(ConnectInterface(), StatusOk);
  const std::uint32_t runWord = TheCard.AreaBOffset + InterfaceHeader::AreaBRunWord;
  for (int write = 1; write <= 2; ++write) {
    WriteInterfaceWord(runWord, 1);
    ASSERT_TRUE(AwaitWord(Memory(), simcard::RecordStart + simcard::Record::RunWordWrites,
                          static_cast<std::uint32_t>(write)));
    EXPECT_EQ(ReadInterfaceWord(runWord), 0u) << "taken by the card";
  }
  DisconnectInterface();
  const auto status = Run({"status"});
  EXPECT_TRUE(Contains(status.output, "area B + 8 writes: 2, last: 0x1 0x1\n")) << status.output;
}

// The two routes by which a simulator publishes its card.
enum class Route { Named, Pci };
std::vector<std::string> RouteArgs(Route route) { return route == Route::Pci ? std::vector<std::string>{"--pci"} : std::vector<std::string>{}; }

class SecondSimulator : public SimulatorTest, public ::testing::WithParamInterface<Route> {};

TEST_P(SecondSimulator, RefusesWhileTheFirstLives) {
  if (GetParam() == Route::Pci) UseDeviceFolder();
  Start(RouteArgs(GetParam()));
  const auto second = Run(RouteArgs(GetParam()));
  EXPECT_EQ(second.exitCode, 3) << second.output;
  EXPECT_TRUE(Contains(second.output, "another simulator (pid " + std::to_string(sims_.front().pid) + ")"))
      << second.output;
  EXPECT_EQ(ExchangeBlock(StartBlock()), 1) << "the first still serves";
}

std::string RouteName(Route route) { return route == Route::Pci ? "pci" : "named"; }

INSTANTIATE_TEST_SUITE_P(Routes, SecondSimulator, ::testing::Values(Route::Named, Route::Pci),
                         [](const auto& info) { return RouteName(info.param); });

struct StopCase {
  Route route;
  int signal;
};

class StoppedSimulator : public SimulatorTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedSimulator, LeavesNothingBehind) {
  std::string folder;
  if (GetParam().route == Route::Pci) folder = UseDeviceFolder();
  Start(RouteArgs(GetParam().route));
  EXPECT_EQ(ExchangeBlock(StartBlock()), 1);
  EXPECT_EQ(Stop(GetParam().signal), 0);
  errno = 0;
  EXPECT_LT(shm_open(("/" + Name()).c_str(), O_RDONLY, 0), 0);
  EXPECT_EQ(errno, ENOENT);
  if (!folder.empty()) {
    EXPECT_TRUE(std::filesystem::is_empty(folder));
  }
  EXPECT_EQ(Run({"status"}).exitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedSimulator,
                         ::testing::Values(StopCase{Route::Named, SIGTERM}, StopCase{Route::Named, SIGINT},
                                           StopCase{Route::Pci, SIGTERM}, StopCase{Route::Pci, SIGINT}),
                         [](const auto& info) {
                           return RouteName(info.param.route) + (info.param.signal == SIGINT ? "_sigint" : "_sigterm");
                         });

class KilledSimulator : public SimulatorTest, public ::testing::WithParamInterface<Route> {};

TEST_P(KilledSimulator, IsReplacedByTheNextOne) {
  std::string folder;
  if (GetParam() == Route::Pci) folder = UseDeviceFolder();
  std::vector<std::string> args = RouteArgs(GetParam());
  args.insert(args.end(), {"--version", "1.1.1"});
  Start(args);
  kill(sims_.front().pid, SIGKILL);
  ASSERT_EQ(Stop(), 128 + SIGKILL);
  if (GetParam() == Route::Named) {
    const int leftover = shm_open(("/" + Name()).c_str(), O_RDONLY, 0);
    ASSERT_GE(leftover, 0) << "a killed simulator leaves its object";
    close(leftover);
  } else {
    ASSERT_TRUE(std::filesystem::exists(folder + "/QVZORVA-0")) << "a killed simulator leaves its sockets";
  }

  args.back() = "2.2.2";
  Start(args);
  EXPECT_EQ(Word(Memory(), InterfaceHeader::FirmwareVersion), 0x04020202u);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::OwnerPid),
            static_cast<std::uint32_t>(sims_.front().pid));
  EXPECT_EQ(ExchangeBlock(StartBlock()), 1);
}

INSTANTIATE_TEST_SUITE_P(Routes, KilledSimulator, ::testing::Values(Route::Named, Route::Pci),
                         [](const auto& info) { return RouteName(info.param); });

TEST_F(SimulatorTest, ReplacesAForeignObjectOfTheSameName) {
  const int fd = shm_open(("/" + Name()).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 16), 0);
  close(fd);
  Start({});
  EXPECT_EQ(Memory().size, simcard::MemorySize);
  EXPECT_EQ(Word(Memory(), InterfaceHeader::Magic), ImageMagic);
}

TEST_F(SimulatorTest, StatusWithoutACard) {
  UseDeviceFolder();
  const auto status = Run({"status"});
  EXPECT_EQ(status.exitCode, 1);
  EXPECT_TRUE(Contains(status.output, "no card memory")) << status.output;
}

TEST_F(SimulatorTest, HelpNamesEveryOption) {
  const auto help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--status", "--version", "--flash ", "--card-state", "--restart-ms", "--reprogram",
                             "--refuse-block", "--reply-delay-us", "--stop-answering-after", "--never-restart",
                             "--no-magic", "--flash-out", "--pci", "--help", "qvr-card-sim status"})
    EXPECT_TRUE(Contains(help.output, option)) << option;
  const auto wrong = Run({"--restart-ms"});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_TRUE(Contains(wrong.output, "--restart-ms needs a value")) << wrong.output;
}

}  // namespace
}  // namespace qvr::test
