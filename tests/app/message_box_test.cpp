// The message box dispatcher without a display: answers on standard error,
// so that an unattended run never waits; a responder takes precedence.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/gui_module.h"
#include "platform/message_box.h"

namespace qvr {
namespace {

// Sets or removes environment variables for one test, and puts them back.
class Environment {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
      else unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct DisplayCase {
  const char* display;
  const char* wayland;
  const char* platform;
  bool expected;
};

TEST(HaveDisplay, FollowsTheEnvironment) {
  const DisplayCase cases[] = {
      {nullptr, nullptr, nullptr, false},   {"", "", nullptr, false},          {":0", nullptr, nullptr, true},
      {nullptr, "wayland-0", nullptr, true}, {":0", nullptr, "offscreen", false}, {":0", nullptr, "minimal", false},
      {":0", nullptr, "xcb", true},          {"", "wayland-0", "wayland", true},
  };
  for (const DisplayCase& c : cases) {
    Environment environment;
    environment.Set("DISPLAY", c.display);
    environment.Set("WAYLAND_DISPLAY", c.wayland);
    environment.Set("QT_QPA_PLATFORM", c.platform);
    EXPECT_EQ(platform::HaveDisplay(), c.expected)
        << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-") << " " << (c.platform ? c.platform : "-");
  }
}

struct StandardErrorCase {
  std::string text;
  std::uint32_t flags;
  int answer;
  std::string written;
};

TEST(ShowMessageBox, WithoutDisplayAnswersOnStandardError) {
  const StandardErrorCase cases[] = {
      {"No PCI Card present", 0x00200000, 1, "no PCI Card: No PCI Card present\n"},
      {"No PCI Card present", 0x00000000, 1, "no PCI Card: No PCI Card present\n"},
      {"Checksum failed\n", 0x00200001, 2, "no PCI Card: Checksum failed\n"},
      {"", 0x00000001, 2, "no PCI Card: \n"},
  };
  Environment environment;
  environment.Set("DISPLAY", nullptr);
  environment.Set("WAYLAND_DISPLAY", nullptr);
  for (const StandardErrorCase& c : cases) {
    testing::internal::CaptureStderr();
    const int answer = platform::ShowMessageBox(c.text, "no PCI Card", c.flags);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.written);
    EXPECT_EQ(answer, c.answer) << c.text;
  }
  EXPECT_FALSE(platform::GuiModuleLoaded());
}

TEST(ShowMessageBox, ResponderAnswersInstead) {
  std::vector<std::string> seen;
  platform::SetMessageBoxResponder([&](const std::string& text, const std::string& caption, std::uint32_t flags) {
    seen.push_back(caption + "|" + text + "|" + std::to_string(flags));
    return 2;
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(platform::ShowMessageBox("Text", "Caption", 0), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  platform::SetMessageBoxResponder(nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"Caption|Text|0"});

  Environment environment;
  environment.Set("DISPLAY", nullptr);
  environment.Set("WAYLAND_DISPLAY", nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(platform::ShowMessageBox("Text", "Caption", 0), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: Text\n");
}

}  // namespace
}  // namespace qvr
