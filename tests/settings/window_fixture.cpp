#include "tests/settings/window_fixture.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <filesystem>

#include "app/run_mode.h"
#include "image/firmware_image.h"
#include "platform/message_box.h"
#include "platform/registry.h"

namespace qvr::test {

std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << "{\"" << box.text << "\", \"" << box.caption << "\", 0x" << std::hex << box.flags << std::dec
             << "}";
}

WindowFixture::WindowFixture() {
  ResetImage();
  CarriesImage = false;
  ProgramNow = false;
  AutoClose = false;
  platform::SetMessageBoxResponder(
      [this](const std::string& text, const std::string& caption, std::uint32_t flags) {
        boxes.push_back({text, caption, flags});
        return platform::IdOk;
      });
  form = std::make_unique<TTheForm>();
}

WindowFixture::~WindowFixture() {
  form.reset();
  platform::SetMessageBoxResponder(nullptr);
}

void WindowFixture::HoldImage(const tool::ImageSpec& spec) {
  const std::vector<std::uint8_t> image = tool::MakeImage(spec);
  ASSERT_FALSE(image.empty());
  std::fill(TheImage.Data.begin(), TheImage.Data.end(), 0xFF);
  std::copy(image.begin(), image.end(), TheImage.Data.begin());
  TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
  TheImage.CurrentRecord = ApplicationRecordOffset;
  CarriesImage = true;
  ShowVersions(*form);
}

std::string WindowFixture::MakeExecutable(const std::string& name,
                                          const std::optional<tool::ImageSpec>& spec) {
  const std::string path = sandbox.Root() + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  const std::string program = path + ".program";
  WriteWholeFile(program, std::string(5000, '\x7F') + "the program's own bytes");
  if (!spec) {
    std::filesystem::rename(program, path);
    return path;
  }
  std::string error;
  EXPECT_TRUE(tool::PackImage(program, tool::MakeImage(*spec), ApplicationRecordOffset, path, &error))
      << error;
  std::filesystem::remove(program);
  return path;
}

void WindowFixture::WriteEntry(const std::string& text) {
  sandbox.MakeAutostartDir();
  platform::TRegistry reg(platform::KeyWrite, platform::RootKey::LocalMachine);
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", false));
  reg.WriteString("QVR Load Check", text);
}

std::optional<std::string> WindowFixture::EntryText() const {
  platform::TRegistry reg(platform::KeyRead, platform::RootKey::LocalMachine);
  if (!reg.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", false) ||
      !reg.ValueExists("QVR Load Check")) {
    return std::nullopt;
  }
  return reg.ReadString("QVR Load Check");
}

int WindowFixture::StartCheckFontHeight() const { return form->StartCheckVersion->font().pixelSize(); }
bool WindowFixture::SetShown() const { return !form->StartSetButton->isHidden(); }
bool WindowFixture::ClearShown() const { return !form->StartClearButton->isHidden(); }

}  // namespace qvr::test
