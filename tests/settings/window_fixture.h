// A window of the loader with its settings in a temporary place: message
// boxes are answered and kept, the image buffer and the run-mode flags start
// as at program start, and a fresh TTheForm is made for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/window/main_form.h"
#include "tests/settings/xdg_sandbox.h"
#include "tools/image_maker.h"

namespace qvr::test {

struct Box {
  std::string text;
  std::string caption;
  std::uint32_t flags = 0;
  bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Box& box);

class WindowFixture : public testing::Test {
 public:
  WindowFixture();
  ~WindowFixture() override;

  // Puts the image of `spec` into TheImage as the start-up puts a carried
  // image there (CurrentRecord at 0x8000), sets CarriesImage, and fills the
  // version panels.
  void HoldImage(const tool::ImageSpec& spec);

  // Writes a program file that carries the image of `spec` (none: a program
  // without an image) at `path` below the sandbox; returns the full path.
  std::string MakeExecutable(const std::string& name, const std::optional<tool::ImageSpec>& spec);

  // Writes the startup check entry as the registry object stores it (the
  // autostart folder is made when missing).
  void WriteEntry(const std::string& text);
  std::optional<std::string> EntryText() const;  // none when there is no entry

  int StartCheckFontHeight() const;
  bool SetShown() const;
  bool ClearShown() const;

  XdgSandbox sandbox;
  std::vector<Box> boxes;
  std::unique_ptr<TTheForm> form;
};

}  // namespace qvr::test
