// The loader as a user runs it: copies of qvrload carrying images made with
// the packer, placed outside the build tree, against a card interface memory
// published by the test, with no display.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "app/startup.h"
#include "image/firmware_image.h"
#include "image/validate.h"
#include "tests/app/process.h"
#include "tests/app/published_card.h"
#include "tests/app/temp_dir.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

using test::VersionWord;

enum class Copy { Plain, Carrying, Corrupt };

struct RunCase {
  const char* name;
  Copy copy;
  std::uint8_t status;
  std::optional<std::uint32_t> card;
  std::vector<std::string> parameters;
  int exitCode;
  const char* standardError;  // nullptr: the validation message under "Image Error: "
};

std::ostream& operator<<(std::ostream& out, const RunCase& c) { return out << c.name; }

const RunCase Runs[] = {
    {"NoCard", Copy::Carrying, 4, std::nullopt, {}, 0, "no PCI Card: No PCI Card present\n"},
    {"NoCardWithParameter", Copy::Carrying, 4, std::nullopt, {"StartupCheck"}, 0, "no PCI Card: No PCI Card present\n"},
    {"UpToDateStartupCheckIsSilent", Copy::Carrying, 4, VersionWord(4, 1, 2, 3), {"StartupCheck"}, 0, ""},
    {"UpToDateAnyParameterIsSilent", Copy::Carrying, 4, VersionWord(4, 1, 2, 3), {"--whatever", "x"}, 0, ""},
    {"InvalidImage", Copy::Corrupt, 4, VersionWord(4, 1, 2, 3), {}, 1, nullptr},
    {"InvalidImageWithParameter", Copy::Corrupt, 4, VersionWord(4, 1, 2, 3), {"StartupCheck"}, 1, nullptr},
    {"NoImageFullWindowNeedsAPerson", Copy::Plain, 4, VersionWord(4, 1, 2, 3), {}, 0, NoDisplayText},
    {"Status2FullWindowNeedsAPerson", Copy::Carrying, 2, VersionWord(2, 1, 2, 3), {}, 0, NoDisplayText},
};

class LoaderRun : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> Image(std::uint8_t status) {
    tool::ImageSpec spec;
    spec.status = status;
    spec.major = 1;
    spec.minor = 2;
    spec.patch = 3;
    return tool::MakeImage(spec);
  }

  // A copy of qvrload in a folder of its own, outside the build tree.
  std::string MakeCopy(Copy copy, std::uint8_t status) {
    const auto folder = dir_.Path() / "elsewhere" / "bin";
    std::filesystem::create_directories(folder);
    const std::string out = (folder / "loader-copy").string();
    if (copy == Copy::Plain) {
      std::filesystem::copy_file(QVR_LOADER_PATH, out);
      return out;
    }
    auto image = Image(status);
    if (copy == Copy::Corrupt) image[ApplicationRecordOffset + 0x40] ^= 0x01;
    std::string error;
    EXPECT_TRUE(tool::PackImage(QVR_LOADER_PATH, image, ApplicationRecordOffset, out, &error)) << error;
    if (copy == Copy::Corrupt) validationMessage_ = ValidationMessageOf(image);
    return out;
  }

  static std::string ValidationMessageOf(const std::vector<std::uint8_t>& image) {
    ResetImage();
    std::copy(image.begin(), image.end(), TheImage.Data.begin());
    TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
    TheImage.CurrentRecord = ApplicationRecordOffset;
    return ValidateImage().value_or("(valid)");
  }

  test::ProcessResult Run(const std::string& program, const std::vector<std::string>& parameters,
                          const std::string& mappingName, std::map<std::string, std::string> environment = {},
                          const std::string& workingDirectory = {}) {
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    environment[MappingNameVariable] = mappingName;
    environment["QVR_DEVICE_DIR"] = dir_.Path().string();  // no card on the PCI route
    environment["DISPLAY"] = test::Unset;
    environment["WAYLAND_DISPLAY"] = test::Unset;
    environment["QT_QPA_PLATFORM"] = test::Unset;
    return test::RunProcess(arguments, environment, workingDirectory);
  }

  // Every library the dynamic loader reported loading, as it logged them.
  static std::string LoaderLog(const std::filesystem::path& folder) {
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::ifstream file(entry.path());
      log.append(std::istreambuf_iterator<char>(file), {});
    }
    return log;
  }

  test::TempDir dir_;
  std::string validationMessage_;
};

class LoaderRunCase : public LoaderRun, public ::testing::WithParamInterface<RunCase> {};

TEST_P(LoaderRunCase, ExitCodeAndMessages) {
  const RunCase& c = GetParam();
  std::optional<test::PublishedCard> card;
  std::string name = "qvr-app-test-absent";
  if (c.card) {
    card.emplace();
    card->Run(*c.card);
    name = card->Name();
  }
  const std::string program = MakeCopy(c.copy, c.status);

  const test::ProcessResult result = Run(program, c.parameters, name);
  EXPECT_EQ(result.exitCode, c.exitCode);
  if (c.standardError != nullptr) {
    EXPECT_EQ(result.standardError, c.standardError);
  } else {
    EXPECT_NE(validationMessage_, "(valid)");
    EXPECT_EQ(result.standardError, "Image Error: " + validationMessage_);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoaderRunCase, ::testing::ValuesIn(Runs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoaderRun, LogOnCheckOnUpToDateCardNeverLoadsTheWindowModule) {
  test::PublishedCard card;
  card.Run(VersionWord(4, 1, 2, 3));
  const std::string program = MakeCopy(Copy::Carrying, 4);
  const auto logs = dir_.Path() / "ld";
  std::filesystem::create_directories(logs);

  const test::ProcessResult result =
      Run(program, {"StartupCheck"}, card.Name(), {{"LD_DEBUG", "libs"}, {"LD_DEBUG_OUTPUT", (logs / "ld").string()}});
  EXPECT_EQ(result.exitCode, 0);
  const std::string log = LoaderLog(logs);
  EXPECT_NE(log.find("libqvr_startup.so"), std::string::npos) << "the loader's log is empty";
  EXPECT_EQ(log.find("libqvr_gui.so"), std::string::npos);
  EXPECT_EQ(log.find("libQt6"), std::string::npos);
}

// A display that is named but cannot be reached (a log-on before the display
// server is up): the loader neither ends abnormally nor waits for a person.
struct UnreachableCase {
  const char* name;
  Copy copy;
  std::uint8_t status;
  bool card;
  const char* written;
};

TEST_F(LoaderRun, UnreachableDisplayFallsBackToStandardError) {
  int number = 90;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
  const std::string display = ":" + std::to_string(number);
  const UnreachableCase cases[] = {
      {"no card", Copy::Carrying, 4, false, "no PCI Card: No PCI Card present\n"},
      {"full window", Copy::Carrying, 2, true, NoDisplayText},
  };
  for (const UnreachableCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::PublishedCard card;
    card.Run(VersionWord(c.status, 1, 2, 3));
    const std::string program = MakeCopy(c.copy, c.status);
    std::vector<std::string> arguments{program};
    const test::ProcessResult result =
        test::RunProcess(arguments, {{MappingNameVariable, c.card ? card.Name() : "qvr-app-test-absent"},
                                     {"QVR_DEVICE_DIR", dir_.Path().string()},
                                     {"DISPLAY", display},
                                     {"WAYLAND_DISPLAY", test::Unset},
                                     {"QT_QPA_PLATFORM", test::Unset}});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.standardError.find(c.written), std::string::npos) << result.standardError;
    std::filesystem::remove_all(dir_.Path() / "elsewhere");
  }
}

// Libraries are never looked for in the folder the loader is started from:
// one planted there is not loaded.
TEST_F(LoaderRun, IgnoresLibrariesInTheWorkingDirectory) {
  test::PublishedCard card;
  card.Run(VersionWord(4, 1, 2, 3));
  const std::string program = MakeCopy(Copy::Carrying, 4);
  const auto folder = dir_.Path() / "planted";
  std::filesystem::create_directories(folder);
  for (const char* name : {"libc.so.6", "libstdc++.so.6", "libm.so.6", "libgcc_s.so.1"})
    std::ofstream(folder / name) << "not a library";

  const test::ProcessResult result = Run(program, {"StartupCheck"}, card.Name(), {}, folder.string());
  EXPECT_EQ(result.exitCode, 0) << result.standardError;
  EXPECT_EQ(result.standardError, "");
}

// The compact countdown with no display: offscreen, its comment line on
// standard error, closing by itself after the eleventh tick (about 11 s).
TEST_F(LoaderRun, CountdownRunsOffscreenAndEndsByItself) {
  test::PublishedCard card;
  card.Run(VersionWord(4, 1, 2, 3));
  const std::string program = MakeCopy(Copy::Carrying, 4);
  const auto logs = dir_.Path() / "ld";
  std::filesystem::create_directories(logs);

  const test::ProcessResult result =
      Run(program, {}, card.Name(), {{"LD_DEBUG", "libs"}, {"LD_DEBUG_OUTPUT", (logs / "ld").string()}});
  EXPECT_EQ(result.exitCode, 0);
  // The comment line's texts, among whatever the GUI libraries report there.
  std::vector<std::string> comments;
  std::istringstream lines(result.standardError);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Automatic exit", 0) == 0) comments.push_back(line);
  std::vector<std::string> expected;
  for (int count = 10; count >= 1; --count) expected.push_back("Automatic exit in " + std::to_string(count) + " seconds");
  ASSERT_GE(comments.size(), expected.size()) << result.standardError;
  comments.resize(expected.size());
  EXPECT_EQ(comments, expected);
  const std::string log = LoaderLog(logs);
  EXPECT_NE(log.find("libqvr_gui.so"), std::string::npos);
  EXPECT_NE(log.find("libQt6Widgets"), std::string::npos);
}

}  // namespace
}  // namespace qvr
