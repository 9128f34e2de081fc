// The start-up's decision, in process: executables made with the image
// maker's packer, a card interface memory published by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "app/run_mode.h"
#include "app/startup.h"
#include "card/card_interface.h"
#include "image/firmware_image.h"
#include "image/validate.h"
#include "tests/support/box_recorder.h"
#include "tests/app/published_card.h"
#include "tests/app/temp_dir.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

using test::Box;
using test::VersionWord;

constexpr std::uint32_t StartupFlags = 0x00200000;
constexpr std::uint32_t OtherRecordOffset = 0x9000;

enum class Executable {
  Missing,        // a path that does not exist
  Plain,          // a program with no image after it
  Carrying,       // the image of `spec` packed after the program
  Corrupt,        // the same with one content byte changed
  OtherRecord,    // packed with the record offset 0x9000 (and a record there)
  OversizedTrailer,  // a trailer whose length reaches before the file's start
};

struct ImageVersion {
  std::uint8_t status, major, minor, patch;
};

struct DecisionCase {
  const char* name;
  Executable executable;
  ImageVersion image;
  std::optional<std::uint32_t> card;  // firmware version word; none: no card published
  std::uint32_t cardState;
  int parameters;
  // Expected.
  StartupOutcome outcome;
  int exitCode;
  bool programNow;
  bool autoClose;
  bool carriesImage;
  std::optional<Box> box;  // the one box shown, when there is one (validation: see below)
};

constexpr ImageVersion Full123{4, 1, 2, 3};
constexpr std::uint32_t Card123 = VersionWord(4, 1, 2, 3);

std::ostream& operator<<(std::ostream& out, const DecisionCase& c) { return out << c.name; }

const Box NoCardBox{"No PCI Card present", "no PCI Card", StartupFlags};
const Box OwnFileBox{"Can't re-open own file", "Logic Error", StartupFlags};
const Box ValidationBox{"(the validation message)", "Image Error", StartupFlags};

const DecisionCase Cases[] = {
    // name, executable, image, card, state, parameters -> outcome, exit, ProgramNow, AutoClose, CarriesImage, box
    {"NoCard", Executable::Carrying, Full123, std::nullopt, 1, 0, StartupOutcome::NoCard, 0, false, false, false,
     NoCardBox},
    {"NoCardNeverOpensTheExecutable", Executable::Missing, Full123, std::nullopt, 1, 1, StartupOutcome::NoCard, 0,
     false, false, false, NoCardBox},
    {"OwnFileMissing", Executable::Missing, Full123, Card123, 1, 0, StartupOutcome::CannotOpenOwnFile, 1, false,
     false, false, OwnFileBox},
    {"NoTrailer", Executable::Plain, Full123, Card123, 1, 0, StartupOutcome::Window, 0, false, false, false,
     std::nullopt},
    {"NoTrailerWithParameter", Executable::Plain, Full123, Card123, 1, 1, StartupOutcome::Window, 0, false, false,
     false, std::nullopt},
    {"TrailerLongerThanFile", Executable::OversizedTrailer, Full123, Card123, 1, 1, StartupOutcome::Window, 0, false,
     false, false, std::nullopt},
    {"InvalidImage", Executable::Corrupt, Full123, Card123, 1, 0, StartupOutcome::InvalidImage, 1, false, false,
     true, ValidationBox},
    {"InvalidImageWithParameterOnUpToDateCard", Executable::Corrupt, Full123, Card123, 1, 1,
     StartupOutcome::InvalidImage, 1, false, false, true, ValidationBox},
    {"OtherRecordOffsetIsNotValidated", Executable::OtherRecord, Full123, Card123, 1, 0, StartupOutcome::Window, 0,
     false, true, true, std::nullopt},
    {"OtherRecordOffsetUpToDateWithParameter", Executable::OtherRecord, Full123, Card123, 1, 1,
     StartupOutcome::UpToDate, 0, false, false, true, std::nullopt},
    {"OtherRecordOffsetDiffers", Executable::OtherRecord, Full123, VersionWord(4, 1, 2, 4), 1, 1,
     StartupOutcome::Window, 0, true, true, true, std::nullopt},
    {"UpToDateWithParameterEndsSilently", Executable::Carrying, Full123, Card123, 1, 1, StartupOutcome::UpToDate, 0,
     false, false, true, std::nullopt},
    {"UpToDateWithTwoParameters", Executable::Carrying, Full123, Card123, 1, 2, StartupOutcome::UpToDate, 0, false,
     false, true, std::nullopt},
    {"StatusDiffers", Executable::Carrying, Full123, VersionWord(3, 1, 2, 3), 1, 1, StartupOutcome::Window, 0, true,
     true, true, std::nullopt},
    {"MajorDiffers", Executable::Carrying, Full123, VersionWord(4, 2, 2, 3), 1, 1, StartupOutcome::Window, 0, true,
     true, true, std::nullopt},
    {"MinorDiffers", Executable::Carrying, Full123, VersionWord(4, 1, 0, 3), 1, 0, StartupOutcome::Window, 0, true,
     true, true, std::nullopt},
    {"PatchDiffers", Executable::Carrying, Full123, VersionWord(4, 1, 2, 0xFF), 1, 0, StartupOutcome::Window, 0, true,
     true, true, std::nullopt},
    {"CardState0", Executable::Carrying, Full123, Card123, 0, 1, StartupOutcome::Window, 0, true, true, true,
     std::nullopt},
    {"CardState2", Executable::Carrying, Full123, Card123, 2, 1, StartupOutcome::Window, 0, true, true, true,
     std::nullopt},
    {"CardState0x201", Executable::Carrying, Full123, Card123, 0x201, 1, StartupOutcome::Window, 0, true, true, true,
     std::nullopt},
    {"CardState0x01000001", Executable::Carrying, Full123, Card123, 0x01000001, 0, StartupOutcome::Window, 0, true,
     true, true, std::nullopt},
    {"Status2NoParameterFullControls", Executable::Carrying, {2, 0, 9, 1}, VersionWord(2, 0, 9, 1), 1, 0,
     StartupOutcome::Window, 0, false, false, true, std::nullopt},
    {"Status3NoParameterCountdown", Executable::Carrying, {3, 0, 9, 1}, VersionWord(3, 0, 9, 1), 1, 0,
     StartupOutcome::Window, 0, false, true, true, std::nullopt},
    {"Status255NoParameterCountdown", Executable::Carrying, {255, 0, 9, 1}, VersionWord(255, 0, 9, 1), 1, 0,
     StartupOutcome::Window, 0, false, true, true, std::nullopt},
    {"Status2WithParameter", Executable::Carrying, {2, 0, 9, 1}, VersionWord(2, 0, 9, 1), 1, 1,
     StartupOutcome::UpToDate, 0, false, false, true, std::nullopt},
    {"Status3WithParameter", Executable::Carrying, {3, 0, 9, 1}, VersionWord(3, 0, 9, 1), 1, 1,
     StartupOutcome::UpToDate, 0, false, false, true, std::nullopt},
    {"Status255WithParameter", Executable::Carrying, {255, 0, 9, 1}, VersionWord(255, 0, 9, 1), 1, 1,
     StartupOutcome::UpToDate, 0, false, false, true, std::nullopt},
};

class DecisionTable : public ::testing::TestWithParam<DecisionCase> {
 protected:
  void SetUp() override {
    ProgramNow = AutoClose = CarriesImage = false;
    setenv("QVR_DEVICE_DIR", dir_.Path().c_str(), 1);  // no card on the PCI route
    program_ = dir_ / "program";
    std::ofstream(program_, std::ios::binary) << std::string(5000, 'p');
  }
  void TearDown() override {
    DisconnectInterface();
    unsetenv(MappingNameVariable);
    unsetenv("QVR_DEVICE_DIR");
  }

  std::vector<std::uint8_t> Image(const ImageVersion& v) {
    tool::ImageSpec spec;
    spec.status = v.status;
    spec.major = v.major;
    spec.minor = v.minor;
    spec.patch = v.patch;
    auto image = tool::MakeImage(spec);
    EXPECT_FALSE(image.empty());
    return image;
  }

  std::string Pack(const std::vector<std::uint8_t>& image, std::uint32_t recordOffset) {
    const std::string out = dir_ / "packed";
    std::string error;
    EXPECT_TRUE(tool::PackImage(program_, image, recordOffset, out, &error)) << error;
    return out;
  }

  std::string MakeExecutable(const DecisionCase& c) {
    switch (c.executable) {
      case Executable::Missing:
        return dir_ / "missing";
      case Executable::Plain:
        return program_;
      case Executable::Carrying:
        return Pack(Image(c.image), ApplicationRecordOffset);
      case Executable::Corrupt: {
        auto image = Image(c.image);
        image[ApplicationRecordOffset + 0x100] ^= 0x5A;
        return Pack(image, ApplicationRecordOffset);
      }
      case Executable::OtherRecord: {
        auto image = Image({0, 0, 0, 0});
        image.resize(std::max<std::size_t>(image.size(), OtherRecordOffset + ImageRecordSize), 0xFF);
        image[OtherRecordOffset + ImageRecord::Status] = c.image.status;
        image[OtherRecordOffset + ImageRecord::Major] = c.image.major;
        image[OtherRecordOffset + ImageRecord::Minor] = c.image.minor;
        image[OtherRecordOffset + ImageRecord::Patch] = c.image.patch;
        return Pack(image, OtherRecordOffset);
      }
      case Executable::OversizedTrailer: {
        const std::string out = Pack(Image(c.image), ApplicationRecordOffset);
        std::fstream file(out, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(-8, std::ios::end);
        const std::uint32_t length = 0x30000;  // more than the file holds
        const char bytes[4] = {static_cast<char>(length), static_cast<char>(length >> 8),
                               static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
        file.write(bytes, 4);
        return out;
      }
    }
    return {};
  }

  // The message validation gives for the image that `path` carries.
  static std::string ValidationMessageOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    const std::size_t length = ReadLittleEndian32(reinterpret_cast<const std::uint8_t*>(&bytes[bytes.size() - 8]));
    ResetImage();
    std::copy_n(bytes.end() - 12 - static_cast<std::ptrdiff_t>(length), length, TheImage.Data.begin());
    TheImage.LoadedLength = static_cast<std::uint32_t>(length);
    TheImage.CurrentRecord = ApplicationRecordOffset;
    return ValidateImage().value_or("(valid)");
  }

  test::TempDir dir_;
  std::string program_;
};

TEST_P(DecisionTable, OutcomeExitCodeBoxesAndRunMode) {
  const DecisionCase& c = GetParam();
  std::optional<test::PublishedCard> card;
  if (c.card) {
    card.emplace();
    card->Run(*c.card, c.cardState);
    setenv(MappingNameVariable, card->Name().c_str(), 1);
  } else {
    setenv(MappingNameVariable, ("qvr-app-test-absent-" + std::to_string(getpid())).c_str(), 1);
  }
  const std::string executable = MakeExecutable(c);

  std::vector<Box> boxes;
  qvr::StartupDecision decision;
  {
    test::BoxRecorder recorder;
    decision = DecideStartup(executable, c.parameters);
    boxes = recorder.Boxes();
  }

  EXPECT_EQ(decision.outcome, c.outcome);
  EXPECT_EQ(decision.exitCode, c.exitCode);
  if (c.outcome != StartupOutcome::NoCard && c.outcome != StartupOutcome::CannotOpenOwnFile) {
    EXPECT_EQ(CarriesImage, c.carriesImage);
  }
  if (c.outcome == StartupOutcome::Window) {
    EXPECT_EQ(ProgramNow, c.programNow);
    EXPECT_EQ(AutoClose, c.autoClose);
  } else {
    EXPECT_FALSE(ProgramNow);
    EXPECT_FALSE(AutoClose);
  }

  if (!c.box) {
    EXPECT_TRUE(boxes.empty()) << boxes.front();
  } else if (c.box->caption == "Image Error") {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Image Error");
    EXPECT_EQ(boxes[0].flags, StartupFlags);
    EXPECT_EQ(boxes[0].text, ValidationMessageOf(executable));
    EXPECT_NE(boxes[0].text, "(valid)");
  } else {
    EXPECT_EQ(boxes, std::vector<Box>{*c.box});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecisionTable, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

// What the image buffer holds after the decision.
class StartupImage : public DecisionTable {};

TEST_F(StartupImage, NoTrailerLeavesTheBufferFilledAndNoRecord) {
  test::PublishedCard card;
  card.Run(Card123);
  setenv(MappingNameVariable, card.Name().c_str(), 1);
  TheImage.Data.fill(0x00);
  TheImage.LoadedLength = 7;
  TheImage.CurrentRecord = 0x8000;

  test::BoxRecorder recorder;
  DecideStartup(program_, 0);
  EXPECT_TRUE(std::all_of(TheImage.Data.begin(), TheImage.Data.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(TheImage.LoadedLength, 0u);
  EXPECT_FALSE(TheImage.CurrentRecord);
}

TEST_F(StartupImage, CarriedImageIsLoadedWithItsRecord) {
  test::PublishedCard card;
  card.Run(Card123);
  setenv(MappingNameVariable, card.Name().c_str(), 1);
  const auto image = Image(Full123);
  const std::string packed = Pack(image, ApplicationRecordOffset);

  test::BoxRecorder recorder;
  DecideStartup(packed, 0);
  EXPECT_EQ(TheImage.LoadedLength, image.size());
  EXPECT_EQ(TheImage.CurrentRecord, ApplicationRecordOffset);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), TheImage.Data.begin()));
  EXPECT_TRUE(std::all_of(TheImage.Data.begin() + static_cast<std::ptrdiff_t>(image.size()), TheImage.Data.end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(StartupMappingName, DefaultUnlessTheEnvironmentNamesAnother) {
  unsetenv(MappingNameVariable);
  EXPECT_EQ(StartupMappingName(), "QVRZORVA mapped file");
  setenv(MappingNameVariable, "", 1);
  EXPECT_EQ(StartupMappingName(), "QVRZORVA mapped file");
  setenv(MappingNameVariable, "other card", 1);
  EXPECT_EQ(StartupMappingName(), "other card");
  unsetenv(MappingNameVariable);
}

}  // namespace
}  // namespace qvr
