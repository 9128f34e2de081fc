// The window's side of a programming run, offscreen: the Program button's
// checks, the progress timer driven tick by tick, and a card in shared memory
// played by the test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/run_mode.h"
#include "app/window/main_form.h"
#include "card/interface_header.h"
#include "image/firmware_image.h"
#include "image/validate.h"
#include "programming/supervision.h"
#include "tests/support/box_recorder.h"
#include "tests/programming/scripted_library.h"
#include "tests/programming/shared_card.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

using test::BoxRecorder;
using test::ScriptedLibrary;
using test::SharedCard;
using test::Box;

constexpr std::uint32_t Resetting = InterfaceHeader::MagicWhileProgramming;
constexpr std::uint32_t Untouched = 0xDEADBEEF;
// 37 non-empty blocks: one in each of the eight cleared 4 KB pages below the
// record, and 29 of application.
constexpr std::uint32_t SmallApplication = ApplicationRecordOffset + 29 * 128;

// A value the worker thread changes, waited for from the test's thread.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 30000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

// The card's answers, let out one command at a time by the test.
class Gate {
 public:
  void Open(int commands) { permits_ += commands; }
  void OpenAll() { permits_ = 1 << 30; }
  void Close() { permits_ = 0; }
  std::int32_t Answer() {
    if (permits_.fetch_sub(1) > 0) return 1;
    permits_.fetch_add(1);
    return 0;
  }

 private:
  std::atomic<int> permits_{0};
};

// Holds the worker inside the write of its end command until released.
class EndLatch {
 public:
  void Hold(const std::vector<std::uint8_t>& block) {
    if (ScriptedLibrary::Command(block) != InterfaceBlock::CommandEnd) return;
    std::unique_lock lock(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
  }
  bool WaitReached() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return reached_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false;
  bool released_ = false;
};

std::int32_t NonEmptyBlocks() {
  std::int32_t count = 0;
  for (std::uint32_t offset = 0; offset < ImageSize; offset += 128) {
    auto block = TheImage.Data.begin() + offset;
    if (std::any_of(block, block + 128, [](std::uint8_t b) { return b != 0xFF; })) ++count;
  }
  return count;
}

std::size_t StartCommands(const ScriptedLibrary& library) {
  auto writes = library.Writes();
  return std::count_if(writes.begin(), writes.end(),
                       [](auto& w) { return ScriptedLibrary::Command(w.block) == InterfaceBlock::CommandStart; });
}

class SupervisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = std::filesystem::temp_directory_path() /
                ("qvr-supervision-" + std::to_string(getpid()) + "-" + std::to_string(serial_++));
    std::filesystem::create_directories(settings_);
    setenv("XDG_CONFIG_HOME", (settings_ / "home").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (settings_ / "machine").c_str(), 1);
    ProgramNow = AutoClose = CarriesImage = false;
    FullHeight = 0;
    ExitCountdown = 10;
    LoadImage(SmallApplication);
    library_.SetScript([this](const std::vector<std::uint8_t>&, int) { return gate_.Answer(); });
    library_.SetWriteHook([this](const std::vector<std::uint8_t>& block) { endLatch_.Hold(block); });
    savedLibrary_ = RunInterfaceLibrary;
    savedLimit_ = RunAnswerLimit;
    RunInterfaceLibrary = library_.Functions();
    // The gate, not the limit, decides when the card answers here.
    RunAnswerLimit = std::chrono::minutes(5);
    card_.SetRunWord(Untouched);
  }

  void TearDown() override {
    gate_.OpenAll();
    endLatch_.Release();
    if (form_) form_->Worker.reset();
    form_.reset();
    RunInterfaceLibrary = savedLibrary_;
    RunAnswerLimit = savedLimit_;
    ResetImage();
    std::filesystem::remove_all(settings_);
  }

  // A valid image of `size` application bytes, as the start-up holds it.
  static void LoadImage(std::uint32_t size) {
    tool::ImageSpec spec;
    spec.status = 4;
    spec.major = 3;
    spec.minor = 2;
    spec.patch = 1;
    spec.size = size;
    const auto image = tool::MakeImage(spec);
    ASSERT_FALSE(image.empty());
    ResetImage();
    std::copy(image.begin(), image.end(), TheImage.Data.begin());
    TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
    TheImage.CurrentRecord = ApplicationRecordOffset;
  }

  // The window as the start-up makes it, shown offscreen.
  TTheForm& Create() {
    form_ = std::make_unique<TTheForm>();
    form_->FormCreate();
    form_->show();
    return *form_;
  }

  // Lets the worker run to its end and waits for it.
  void FinishWorker() {
    gate_.OpenAll();
    endLatch_.Release();
    ASSERT_TRUE(Eventually([&] { return !form_->Worker->Running; }));
  }

  void Tick() { form_->ProgressTimerTimer(); }
  QString CommentText() const { return form_->Comment->text(); }

  // The state of the window and the card memory that a run touches.
  void ExpectRunStarted(std::int32_t total) {
    ASSERT_TRUE(form_->Worker);
    EXPECT_EQ(form_->Worker->TotalBlocks, total);
    EXPECT_EQ(card_.RunWord(), 1u);
    EXPECT_EQ(card_.Word(InterfaceHeader::Magic), Resetting);
    EXPECT_FALSE(form_->ProgressBar->isHidden());
    EXPECT_EQ(form_->ProgressBar->minimum(), 0);
    EXPECT_EQ(form_->ProgressBar->maximum(), total);
    EXPECT_EQ(form_->ProgressBar->value(), 0);
    EXPECT_TRUE(form_->ProgressTimer->isActive());
    EXPECT_FALSE(form_->ProgramButton->isEnabled());
    EXPECT_FALSE(form_->LoadButton->isEnabled());
  }

  void ExpectNoRun(const QString& comment) {
    EXPECT_FALSE(form_->Worker);
    EXPECT_EQ(CommentText(), comment);
    EXPECT_EQ(card_.RunWord(), Untouched);
    EXPECT_EQ(card_.Word(InterfaceHeader::Magic), ImageMagic);
    EXPECT_TRUE(library_.Calls().empty());
    EXPECT_FALSE(form_->ProgressTimer->isActive());
    EXPECT_TRUE(form_->ProgramButton->isEnabled());
    EXPECT_TRUE(form_->LoadButton->isEnabled());
  }

  static inline int serial_ = 0;
  std::filesystem::path settings_;
  SharedCard card_{0x03010000};
  Gate gate_;
  EndLatch endLatch_;
  ScriptedLibrary library_;
  InterfaceLibrary savedLibrary_{};
  std::chrono::milliseconds savedLimit_{};
  std::unique_ptr<TTheForm> form_;
};

// The Program button's checks of the image.

struct ButtonCase {
  const char* name;
  enum { Empty, Invalid, Valid } image;
  int answer;  // to a validation question
  bool asks;   // a validation question is shown
  bool runs;
};

class ProgramButton : public SupervisionTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ProgramButton, ChecksTheImageBeforeARun) {
  const ButtonCase& c = GetParam();
  if (c.image == ButtonCase::Empty) ResetImage();
  if (c.image == ButtonCase::Invalid) TheImage.Data[ApplicationRecordOffset + 0x200] ^= 0x01;
  const auto validation = ValidateImage();
  if (c.image != ButtonCase::Empty) {
    ASSERT_EQ(validation.has_value(), c.image == ButtonCase::Invalid);
  }

  BoxRecorder boxes([&](const Box&) { return c.answer; });
  Create();
  form_->Comment->setText("before");
  form_->ProgramButtonClick();

  std::vector<Box> expected;
  if (c.image == ButtonCase::Empty) expected.push_back({"No Code is loaded!", "Image Error", 0x200000});
  if (c.asks) expected.push_back({*validation, "Image Error", 0x200001});
  EXPECT_EQ(boxes.Boxes(), expected);
  if (c.runs) {
    EXPECT_EQ(CommentText(), "Programming");
    ExpectRunStarted(NonEmptyBlocks());
  } else {
    ExpectNoRun("before");
  }
}

INSTANTIATE_TEST_SUITE_P(Supervision, ProgramButton,
                         ::testing::Values(ButtonCase{"NothingLoaded", ButtonCase::Empty, 1, false, false},
                                           ButtonCase{"InvalidAnsweredCancel", ButtonCase::Invalid, 2, true, false},
                                           ButtonCase{"InvalidAnsweredOk", ButtonCase::Invalid, 1, true, true},
                                           ButtonCase{"Valid", ButtonCase::Valid, 2, false, true}),
                         [](const auto& info) { return info.param.name; });

// A tick with no worker does nothing, whatever the card shows.
TEST_F(SupervisionTest, TickWithoutWorkerDoesNothing) {
  struct Row {
    std::uint32_t magic;
    std::uint8_t stateByte;
  };
  Create();
  for (const Row& row : {Row{ImageMagic, 0x00}, Row{Resetting, 0x00}, Row{ImageMagic, 0x02}}) {
    card_.SetWord(InterfaceHeader::Magic, row.magic);
    card_.SetByte(InterfaceHeader::CardStateByte, row.stateByte);
    form_->Comment->setText("idle");
    Tick();
    EXPECT_EQ(CommentText(), "idle");
    EXPECT_EQ(card_.Word(InterfaceHeader::Magic), row.magic);
    EXPECT_EQ(card_.RunWord(), Untouched);
    EXPECT_FALSE(form_->Worker);
    EXPECT_TRUE(library_.Calls().empty());
  }
}

// A run as the window sees it, from the button to the card's return.
TEST_F(SupervisionTest, RunFromButtonToProgrammedCard) {
  BoxRecorder boxes;
  Create();
  ASSERT_FALSE(form_->ExitButton->isHidden());
  form_->ProgramButtonClick();
  EXPECT_EQ(CommentText(), "Programming");
  ExpectRunStarted(37);

  // Start command not answered yet: the window may still be closed.
  Tick();
  EXPECT_EQ(CommentText(), "0 blocks out of 37 programmed");
  EXPECT_FALSE(form_->ExitButton->isHidden());
  EXPECT_TRUE(form_->FormCloseQuery());

  // The first block acknowledged: Exit goes, and a close is refused.
  gate_.Open(2);
  ASSERT_TRUE(Eventually([&] { return form_->Worker->BlocksDone == 1; }));
  Tick();
  EXPECT_EQ(CommentText(), "1 blocks out of 37 programmed");
  EXPECT_EQ(form_->ProgressBar->value(), 1);
  EXPECT_TRUE(form_->ExitButton->isHidden());
  EXPECT_FALSE(form_->close());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(boxes.Boxes(), (std::vector<Box>{{"Can't exit while programming in progress", "Close Error", 0}}));

  // Every block acknowledged, the worker still handing over its end command.
  gate_.OpenAll();
  ASSERT_TRUE(endLatch_.WaitReached());
  Tick();
  EXPECT_EQ(CommentText(), "37 blocks out of 37 programmed");
  EXPECT_EQ(form_->ProgressBar->value(), 37);
  EXPECT_TRUE(form_->ExitButton->isHidden());

  // Worker done, card restarting: the magic the run wrote is still there.
  FinishWorker();
  const int configTop = form_->ConfigButton->y();
  for (int tick = 0; tick < 2; ++tick) {
    Tick();
    EXPECT_EQ(CommentText(), "Card Resetting");
    EXPECT_TRUE(form_->ProgressBar->isHidden());
    EXPECT_TRUE(form_->ConfigButton->isHidden());
    EXPECT_FALSE(form_->ExitButton->isHidden());
    EXPECT_EQ(form_->ExitButton->y(), 84);
    EXPECT_EQ(configTop, 84);
    EXPECT_TRUE(form_->Worker);
    EXPECT_TRUE(form_->ProgressTimer->isActive());
    EXPECT_FALSE(form_->ProgramButton->isEnabled());
  }

  // The card is back with its new firmware and does not ask again.
  card_.SetRunWord(0);
  card_.SetWord(InterfaceHeader::FirmwareVersion, 0x04030201);
  card_.SetWord(InterfaceHeader::Magic, ImageMagic);
  Tick();
  EXPECT_EQ(CommentText(), "Card Programmed");
  EXPECT_EQ(card_.RunWord(), 1u);
  EXPECT_EQ(form_->LoadedVersion->text(), "3.2.1");
  EXPECT_EQ(form_->LoadedStatus->text(), "Full Release");
  EXPECT_FALSE(form_->ProgressTimer->isActive());
  EXPECT_FALSE(form_->ExitButton->isHidden());
  EXPECT_FALSE(form_->Worker);
  EXPECT_TRUE(form_->ProgramButton->isEnabled());
  EXPECT_TRUE(form_->LoadButton->isEnabled());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(StartCommands(library_), 1u);
  EXPECT_EQ(boxes.Boxes().size(), 1u);

  // Idle again: a tick changes nothing.
  card_.SetRunWord(0);
  Tick();
  EXPECT_EQ(CommentText(), "Card Programmed");
  EXPECT_EQ(card_.RunWord(), 0u);
}

// How a run ends, by what the card shows at the ticks after the worker.

struct Restart {
  std::uint32_t magic;
  bool askAgain;
  const char* comment;
};

struct EndingCase {
  const char* name;
  bool automatic;     // started as the log-on check does (ProgramNow and AutoClose)
  bool configure;     // Configure pressed during the run
  std::vector<Restart> ticks;
  bool closes;
};

class RunEnding : public SupervisionTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(RunEnding, FollowsTheCardsRestart) {
  const EndingCase& c = GetParam();
  BoxRecorder boxes;
  ProgramNow = AutoClose = c.automatic;
  Create();
  if (!c.automatic) form_->ProgramButtonClick();
  ASSERT_TRUE(form_->Worker);
  EXPECT_EQ(CommentText(), "Programming");
  if (c.configure) form_->ConfigButtonClick();

  FinishWorker();
  for (const Restart& tick : c.ticks) {
    card_.SetWord(InterfaceHeader::Magic, tick.magic);
    card_.SetByte(InterfaceHeader::CardStateByte, tick.askAgain ? 0x02 : 0x00);
    Tick();
    EXPECT_EQ(CommentText(), tick.comment);
  }
  EXPECT_EQ(CommentText(), "Card Programmed");
  EXPECT_FALSE(form_->Worker);
  EXPECT_FALSE(form_->ProgressTimer->isActive());
  EXPECT_EQ(form_->isVisible(), !c.closes);
  EXPECT_TRUE(boxes.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Supervision, RunEnding,
    ::testing::Values(
        EndingCase{"BackAtOnce", false, false, {{ImageMagic, false, "Card Programmed"}}, false},
        EndingCase{"SlowRestart",
                   false,
                   false,
                   {{Resetting, false, "Card Resetting"}, {0, false, "Card Resetting"}, {ImageMagic, false, "Card Programmed"}},
                   false},
        EndingCase{"AutomaticCloses",
                   true,
                   false,
                   {{Resetting, false, "Card Resetting"}, {ImageMagic, false, "Card Programmed"}},
                   true},
        EndingCase{"AutomaticBackAtOnceCloses", true, false, {{ImageMagic, false, "Card Programmed"}}, true},
        EndingCase{"ConfigureDuringAutomaticRun",
                   true,
                   true,
                   {{Resetting, false, "Card Resetting"}, {ImageMagic, false, "Card Programmed"}},
                   false}),
    [](const auto& info) { return info.param.name; });

// The card asks for another run: a new worker, from the start.
TEST_F(SupervisionTest, CardAskingAgainGetsAFreshRun) {
  BoxRecorder boxes;
  ProgramNow = AutoClose = true;
  Create();
  FinishWorker();
  Tick();
  EXPECT_EQ(CommentText(), "Card Resetting");

  for (int run = 2; run <= 3; ++run) {
    SCOPED_TRACE(run);
    gate_.Close();
    card_.SetRunWord(0);
    card_.SetWord(InterfaceHeader::Magic, ImageMagic);
    card_.SetByte(InterfaceHeader::CardStateByte, 0x02);
    Tick();
    EXPECT_EQ(CommentText(), "Re-programming");
    EXPECT_TRUE(Eventually([&] { return StartCommands(library_) == static_cast<std::size_t>(run); }));
    ExpectRunStarted(37);
    EXPECT_EQ(form_->Worker->BlocksDone, 0);

    Tick();
    EXPECT_EQ(CommentText(), "0 blocks out of 37 programmed");
    FinishWorker();
  }

  card_.SetByte(InterfaceHeader::CardStateByte, 0x00);
  card_.SetWord(InterfaceHeader::Magic, ImageMagic);
  Tick();
  EXPECT_EQ(CommentText(), "Card Programmed");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(StartCommands(library_), 3u);
}

// A card that never comes back leaves the window resetting, and closable.
TEST_F(SupervisionTest, CardThatNeverReturnsLeavesExitUsable) {
  BoxRecorder boxes;
  ProgramNow = AutoClose = true;
  Create();
  FinishWorker();
  for (int tick = 0; tick < 5; ++tick) Tick();
  EXPECT_EQ(CommentText(), "Card Resetting");
  EXPECT_TRUE(form_->Worker);
  EXPECT_TRUE(form_->ProgressTimer->isActive());
  EXPECT_EQ(form_->ExitButton->y(), 84);
  form_->ExitButtonClick();
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());
}

}  // namespace
}  // namespace qvr

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
