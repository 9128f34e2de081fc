// Programming runs end to end: the simulated card in its own process, reached
// by the named mapping or by the PCI route, and on the loader's side either
// the real loader (a packed copy run as the log-on check runs it) or the
// window in this process driven by its own timers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/run_mode.h"
#include "app/window/main_form.h"
#include "card/card_interface.h"
#include "image/firmware_image.h"
#include "programming/supervision.h"
#include "simcard/sim_process.h"
#include "tests/support/box_recorder.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

namespace fs = std::filesystem;
using test::BoxRecorder;
using test::Box;

enum class Route { NamedMapping, Pci };

std::string RouteName(Route route) { return route == Route::Pci ? "Pci" : "NamedMapping"; }

// The image the loader carries: newer than the card's 1.0.0.
tool::ImageSpec NewerImage() {
  tool::ImageSpec spec;
  spec.status = 4;
  spec.major = 2;
  spec.minor = 1;
  spec.patch = 0;
  spec.size = 0x12345;  // past 64 KB, ending inside a block
  spec.seed = 7;
  return spec;
}

// The 256 KB the card's flash should hold after the image was sent whole.
std::vector<std::uint8_t> FlashOf(std::vector<std::uint8_t> image) {
  image.resize(ImageSize, 0xFF);
  return image;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// A simulator of the test's own: its mapping name and device folder are
// unique, so tests can run side by side and never meet the machine's card.
class SimulatedCard : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    const std::string unique = std::to_string(getpid()) + "-" + std::to_string(serial++);
    folder_ = fs::temp_directory_path() / ("qvr-programming-e2e-" + unique);
    fs::create_directories(folder_ / "devices");
    mappingName_ = "qvr-programming-e2e-" + unique;
    setenv("QVR_MAPPING_NAME", mappingName_.c_str(), 1);
    setenv("QVR_DEVICE_DIR", (folder_ / "devices").c_str(), 1);
  }

  void TearDown() override {
    if (sim_.pid > 0) {
      EXPECT_EQ(simcard::StopSimulator(sim_), 0) << "the simulator did not end cleanly";
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void StartCard(Route route, std::vector<std::string> options) {
    options.insert(options.end(), {"--version", "1.0.0", "--status", "4", "--restart-ms", "20", "--flash-out",
                                   FlashPath().string()});
    if (route == Route::Pci) options.push_back("--pci");
    std::string error;
    ASSERT_TRUE(simcard::StartSimulator(QVR_CARD_SIM_PROGRAM, options, sim_, error)) << error;
  }

  // `qvr-card-sim status` of this test's card.
  std::string CardStatus() const { return simcard::RunProgram(QVR_CARD_SIM_PROGRAM, {"status"}).output; }

  fs::path FlashPath() const { return folder_ / "flash.bin"; }

  fs::path folder_;
  std::string mappingName_;
  simcard::SimProcess sim_;
};

// The real loader, packed with the newer image, run with StartupCheck.

struct LoaderCase {
  const char* name;
  std::vector<std::string> cardOptions;
  std::vector<std::string> texts;  // each shown (comment lines and answered boxes)
  bool reprograms;                 // "Re-programming" shown
  std::uint32_t flashUpTo;         // flash equals the image below this offset, erased from it on
  std::vector<std::string> status;  // lines of the card's status afterwards
};

class LoaderRun : public SimulatedCard, public ::testing::WithParamInterface<std::tuple<LoaderCase, Route>> {};

TEST_P(LoaderRun, ProgramsAnOlderCard) {
  const auto& [c, route] = GetParam();
  StartCard(route, c.cardOptions);
  const auto image = tool::MakeImage(NewerImage());
  ASSERT_FALSE(image.empty());
  const fs::path loader = folder_ / "qvrload";
  std::string error;
  ASSERT_TRUE(tool::PackImage(QVR_LOADER_PATH, image, ApplicationRecordOffset, loader.string(), &error)) << error;

  const auto run = simcard::RunProgram(loader.string(), {"StartupCheck"}, std::chrono::seconds(90));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  for (const auto& text : c.texts) EXPECT_NE(run.output.find(text), std::string::npos) << text << "\n" << run.output;
  EXPECT_EQ(run.output.find("Re-programming") != std::string::npos, c.reprograms) << run.output;
  EXPECT_EQ(Occurrences(run.output, "Card Programmed"), 1u) << run.output;

  const auto flash = ReadFile(FlashPath());
  const auto expected = FlashOf(image);
  ASSERT_EQ(flash.size(), expected.size());
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + c.flashUpTo, expected.begin()))
      << "flash differs from the image below 0x" << std::hex << c.flashUpTo;
  EXPECT_TRUE(std::all_of(flash.begin() + c.flashUpTo, flash.end(), [](std::uint8_t b) { return b == 0xFF; }))
      << "flash written from 0x" << std::hex << c.flashUpTo;

  const std::string status = CardStatus();
  for (const auto& line : c.status) EXPECT_NE(status.find(line), std::string::npos) << line << "\n" << status;
}

// Blocks of the image before the refused one: 0x9000 is sent after 0x8F80.
const LoaderCase LoaderCases[] = {
    {"Programs",
     {},
     {"Programming\n", "Card Programmed\n"},
     false,
     ImageSize,
     {"firmware: Full Release 2.1.0", "runs: 1 started, 1 ended", "refused blocks: 0", "area B + 8 writes: 2, last: 0x1 0x1"}},
    {"ReprogramsTwice",
     {"--reprogram", "2"},
     {"Programming\n", "Card Programmed\n"},
     true,
     ImageSize,
     {"firmware: Full Release 2.1.0", "runs: 3 started, 3 ended", "area B + 8 writes: 4, last: 0x1 0x1 0x1 0x1"}},
    {"RefusedBlock",
     {"--refuse-block", "0x9000"},
     {"Programming\n", "Programming Error: Programming failed @ block 9000\n", "Card Programmed\n"},
     false,
     0x9000,
     {"runs: 1 started, 1 ended", "refused blocks: 1"}},
};

INSTANTIATE_TEST_SUITE_P(EndToEnd, LoaderRun,
                         ::testing::Combine(::testing::ValuesIn(LoaderCases),
                                            ::testing::Values(Route::NamedMapping, Route::Pci)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + RouteName(std::get<1>(info.param));
                         });

// A card brought up to date: the next log-on check ends silently.
TEST_F(SimulatedCard, SecondCheckAfterProgrammingIsSilent) {
  StartCard(Route::NamedMapping, {});
  const auto image = tool::MakeImage(NewerImage());
  const fs::path loader = folder_ / "qvrload";
  std::string error;
  ASSERT_TRUE(tool::PackImage(QVR_LOADER_PATH, image, ApplicationRecordOffset, loader.string(), &error)) << error;
  ASSERT_EQ(simcard::RunProgram(loader.string(), {"StartupCheck"}, std::chrono::seconds(90)).exitCode, 0);

  const auto second = simcard::RunProgram(loader.string(), {"StartupCheck"}, std::chrono::seconds(90));
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.output.find("Programming"), std::string::npos) << second.output;
  EXPECT_NE(CardStatus().find("runs: 1 started, 1 ended"), std::string::npos);
}

// The window in this process, with the real interface library, on cards that
// fail it: the run must end and the window must stay closable.

struct FailingCase {
  const char* name;
  std::vector<std::string> cardOptions;
  std::vector<Box> boxes;
};

class WindowRun : public SimulatedCard, public ::testing::WithParamInterface<std::tuple<FailingCase, Route>> {
 protected:
  void SetUp() override {
    SimulatedCard::SetUp();
    setenv("XDG_CONFIG_HOME", (folder_ / "home").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (folder_ / "machine").c_str(), 1);
    savedLimit_ = RunAnswerLimit;
    // Short, so that a silent card ends the run quickly.
    RunAnswerLimit = std::chrono::milliseconds(300);
  }
  void TearDown() override {
    if (form_) form_->Worker.reset();
    form_.reset();
    DisconnectInterface();
    TheCard = CardInterface{};
    RunAnswerLimit = savedLimit_;
    ResetImage();
    SimulatedCard::TearDown();
  }

  // Runs the message loop until `done` holds (checked every 10 ms); false
  // when it never does.
  template <typename Condition>
  static bool RunUntil(Condition done) {
    QEventLoop loop;
    QTimer check;
    bool reached = false;
    QObject::connect(&check, &QTimer::timeout, [&] {
      if (done()) {
        reached = true;
        loop.quit();
      }
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    check.start(10);
    loop.exec();
    return reached;
  }

  std::unique_ptr<TTheForm> form_;
  std::chrono::milliseconds savedLimit_{};
};

TEST_P(WindowRun, EndsTheRunAndLetsTheWindowClose) {
  const auto& [c, route] = GetParam();
  StartCard(route, c.cardOptions);
  TheCard.MappingName = mappingName_;
  ASSERT_EQ(ConnectInterface(), StatusOk);

  const auto image = tool::MakeImage(NewerImage());
  ResetImage();
  std::copy(image.begin(), image.end(), TheImage.Data.begin());
  TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
  TheImage.CurrentRecord = ApplicationRecordOffset;

  BoxRecorder boxes;
  ProgramNow = AutoClose = true;
  form_ = std::make_unique<TTheForm>();
  int ticks = 0;
  QObject::connect(form_->ProgressTimer, &QTimer::timeout, [&] { ++ticks; });
  form_->FormCreate();
  form_->show();
  ASSERT_TRUE(form_->Worker);

  // The worker ends; the card does not come back; the window keeps watching.
  ASSERT_TRUE(RunUntil([&] { return !form_->Worker->Running && form_->Comment->text() == "Card Resetting"; }))
      << form_->Comment->text().toStdString();
  const int resettingSince = ticks;
  ASSERT_TRUE(RunUntil([&] { return ticks >= resettingSince + 5; }));
  EXPECT_EQ(form_->Comment->text(), "Card Resetting");
  EXPECT_TRUE(form_->ProgressTimer->isActive());
  EXPECT_EQ(boxes.Boxes(), c.boxes);

  EXPECT_FALSE(form_->ExitButton->isHidden());
  EXPECT_EQ(form_->ExitButton->y(), 84);
  form_->ExitButtonClick();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(boxes.Boxes(), c.boxes) << "the close was refused";
}

// Blocks sent in order: 0x0000, 0x1000 ... 0x7000 (the cleared pages), then
// 0x8000 onwards; the fifth after the start is 0x4000.
const FailingCase FailingCases[] = {
    {"StopsAnswering", {"--stop-answering-after", "4"}, {{"No answer from card @ block 4000", "Programming Error", 0x200000}}},
    {"NeverRestarts", {"--never-restart"}, {}},
};

INSTANTIATE_TEST_SUITE_P(EndToEnd, WindowRun,
                         ::testing::Combine(::testing::ValuesIn(FailingCases),
                                            ::testing::Values(Route::NamedMapping, Route::Pci)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + RouteName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace qvr

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
