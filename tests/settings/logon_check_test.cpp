// The startup check from end to end: the loader's Set button writes the
// autostart entry, and the entry, run as a desktop session runs it at log-on,
// brings the card's firmware up to the loader's image.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/desktop_entry.h"
#include "platform/registry.h"
#include "simcard/sim_process.h"
#include "tests/settings/exec_line.h"
#include "tests/settings/xdg_sandbox.h"
#include "tools/image_maker.h"

namespace qvr::test {
namespace {

constexpr std::uint32_t RecordOffset = 0x8000;

tool::ImageSpec Spec(std::uint8_t major, std::uint8_t minor, std::uint8_t patch) {
  tool::ImageSpec spec;
  spec.major = major;
  spec.minor = minor;
  spec.patch = patch;
  return spec;
}

// Stops the simulator however the test ends.
struct RunningSimulator {
  simcard::SimProcess process;
  ~RunningSimulator() { simcard::StopSimulator(process); }
};

std::string SimulatorStatus() { return simcard::RunProgram(QVR_CARD_SIM_PROGRAM, {"status"}).output; }

class LogonCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    sandbox.MakeAutostartDir();
    folder = sandbox.Root() + "/Program Files/QVR $tools";
    std::filesystem::create_directories(folder);
    loader = folder + "/qvrload";
  }

  // The driver's display lines, without their prefix.
  static std::vector<std::string> DisplayLines(const std::string& output) {
    static const std::string prefix = "display: ";
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
      if (output.compare(start, prefix.size(), prefix) == 0) {
        lines.push_back(output.substr(start + prefix.size(), end - start - prefix.size()));
      }
    }
    return lines;
  }

  XdgSandbox sandbox;
  std::string folder, loader;
};

// Set from an executable that carries the held image, then a newer S-record
// file loaded and Set pressed again: the entry names the same executable, and
// Set stays offered because that executable's image is no longer the held one.
TEST_F(LogonCheckTest, SetFromAnExecutableThatCarriesTheHeldImage) {
  std::string error;
  ASSERT_TRUE(
      tool::PackImage(QVR_WINDOW_DRIVER, tool::MakeImage(Spec(2, 0, 0)), RecordOffset, loader, &error))
      << error;
  const std::string newer = sandbox.Root() + "/fw 2.1.0.q37";
  ASSERT_TRUE(tool::WriteSRecordFile(newer, Spec(2, 1, 0)));

  const simcard::ProgramRun run = simcard::RunProgram(loader, {"show", "set", "load=" + newer, "set"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(DisplayLines(run.output), (std::vector<std::string>{
                                          "None|13|set=1|clear=0",
                                          "Full Release - version 2.0.0|13|set=0|clear=1",
                                          "Full Release - version 2.0.0|13|set=0|clear=1",
                                          "Full Release - version 2.0.0|13|set=1|clear=1",
                                      }));

  platform::TRegistry reg(platform::KeyRead, platform::RootKey::LocalMachine);
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", false));
  EXPECT_EQ(reg.ReadString("QVR Load Check"), loader + "  StartupCheck");
}

TEST_F(LogonCheckTest, EntryRunAtLogOnProgramsAnOlderCard) {
  std::string error;
  const std::vector<std::uint8_t> image = tool::MakeImage(Spec(2, 0, 0));
  ASSERT_TRUE(tool::PackImage(QVR_WINDOW_DRIVER, image, RecordOffset, loader, &error)) << error;
  const simcard::ProgramRun set = simcard::RunProgram(loader, {"set"});
  ASSERT_EQ(set.exitCode, 0) << set.output;

  // What the session finds in the autostart folder.
  const std::string entry = ReadWholeFile(sandbox.AutostartDir() + "/QVR Load Check.desktop");
  EXPECT_EQ(DesktopEntryValue(entry, "Type"), "Application");
  const auto exec = DesktopEntryValue(entry, "Exec");
  ASSERT_TRUE(exec) << entry;
  const auto command = ParseExecValue(*exec);
  ASSERT_TRUE(command) << *exec;
  ASSERT_EQ(*command, (std::vector<std::string>{loader, "StartupCheck"}));

  // The loader itself, carrying the same image, at the registered place.
  ASSERT_TRUE(tool::PackImage(QVR_LOADER, image, RecordOffset, loader, &error)) << error;

  RunningSimulator card;
  ASSERT_TRUE(simcard::StartSimulator(QVR_CARD_SIM_PROGRAM, {"--version", "1.0.0", "--restart-ms", "50"},
                                      card.process, error))
      << error;
  ASSERT_NE(SimulatorStatus().find("firmware: Full Release 1.0.0\n"), std::string::npos) << SimulatorStatus();

  const std::vector<std::string> arguments(command->begin() + 1, command->end());
  const simcard::ProgramRun logOn = simcard::RunProgram(command->front(), arguments);
  EXPECT_EQ(logOn.exitCode, 0) << logOn.output;
  EXPECT_NE(logOn.output.find("Programming"), std::string::npos) << logOn.output;
  std::string status = SimulatorStatus();
  EXPECT_NE(status.find("firmware: Full Release 2.0.0\n"), std::string::npos) << logOn.output << status;
  EXPECT_NE(status.find("runs: 1 started, 1 ended"), std::string::npos) << status;

  // At the next log-on the card is up to date: the loader ends without a
  // window (the headless window would write its comment lines).
  const simcard::ProgramRun next = simcard::RunProgram(command->front(), arguments);
  EXPECT_EQ(next.exitCode, 0) << next.output;
  EXPECT_EQ(next.output.find("Programming"), std::string::npos) << next.output;
  status = SimulatorStatus();
  EXPECT_NE(status.find("runs: 1 started, 1 ended"), std::string::npos) << status;
}

}  // namespace
}  // namespace qvr::test
