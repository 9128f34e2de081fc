#include "platform/desktop_entry.h"

#include <gtest/gtest.h>

#include "tests/settings/exec_line.h"

namespace qvr::platform {
namespace {

using namespace std::string_literals;

TEST(DesktopString, EscapesAsTheFormatRequires) {
  struct Case {
    std::string text, escaped;
  };
  const Case cases[] = {
      {"/opt/qvr/qvr-loader  StartupCheck", "/opt/qvr/qvr-loader  StartupCheck"},
      {"a\\b", "a\\\\b"},
      {"line\nnext\tTab\rCr", "line\\nnext\\tTab\\rCr"},
      {" both ends ", "\\sboth ends\\s"},
      {" ", "\\s"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeDesktopString(c.text), c.escaped) << c.text;
    EXPECT_EQ(UnescapeDesktopString(c.escaped), c.text) << c.escaped;
  }
}

TEST(DesktopString, KeepsUnknownEscapesAndALoneBackslash) {
  EXPECT_EQ(UnescapeDesktopString("a\\qb"), "a\\qb");
  EXPECT_EQ(UnescapeDesktopString("ab\\"), "ab\\");
  EXPECT_EQ(UnescapeDesktopString("\\s\\s"), "  ");
}

TEST(ExecArgument, QuotesOnlyWhatNeedsIt) {
  struct Case {
    std::string argument, quoted;
  };
  const Case cases[] = {
      {"/opt/qvr/qvr-loader", "/opt/qvr/qvr-loader"},
      {"StartupCheck", "StartupCheck"},
      {"/opt/my tools/qvr", "\"/opt/my tools/qvr\""},
      {"/opt/it's", "\"/opt/it's\""},
      {"/opt/a\"b", "\"/opt/a\\\"b\""},
      {"/opt/$HOME/`x`", "\"/opt/\\$HOME/\\`x\\`\""},
      {"/opt/a\\b", "\"/opt/a\\\\b\""},
      {"/opt/100%", "/opt/100%%"},
      {"/opt/100% sure", "\"/opt/100%% sure\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteExecArgument(c.argument), c.quoted) << c.argument;
  for (char reserved : std::string(" \t\n\"'\\><~|&;$*?#()`")) {
    const std::string quoted = QuoteExecArgument(std::string("a") + reserved);
    EXPECT_EQ(quoted.front(), '"') << reserved;
    EXPECT_EQ(quoted.back(), '"') << reserved;
  }
}

// What a session runs for an entry is the program and the parameter, each one
// argument, however odd the path.
TEST(AutostartEntry, ExecRunsTheProgramWithItsParameter) {
  struct Case {
    std::string commandLine;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"/opt/qvr/qvr-loader  StartupCheck", {"/opt/qvr/qvr-loader", "StartupCheck"}},
      {"/opt/my tools/qvr loader  StartupCheck", {"/opt/my tools/qvr loader", "StartupCheck"}},
      {"/opt/q\\v\"r/$x`y`/100%/a;b  StartupCheck", {"/opt/q\\v\"r/$x`y`/100%/a;b", "StartupCheck"}},
      {"/opt/line\nbreak/qvr  StartupCheck", {"/opt/line\nbreak/qvr", "StartupCheck"}},
      {" /lead/qvr  StartupCheck", {" /lead/qvr", "StartupCheck"}},
      {"/opt/qvr/qvr-loader", {"/opt/qvr/qvr-loader"}},
  };
  for (const Case& c : cases) {
    const std::string file = MakeAutostartEntry("QVR Load Check", c.commandLine);
    const auto exec = test::DesktopEntryValue(file, "Exec");
    ASSERT_TRUE(exec) << file;
    EXPECT_EQ(test::ParseExecValue(*exec), c.arguments) << file;
    EXPECT_EQ(ReadAutostartEntryValue(file), c.commandLine) << file;
  }
}

TEST(AutostartEntry, IsAnApplicationNamedAfterTheValue) {
  const std::string file = MakeAutostartEntry("QVR Load Check", "/opt/qvr/qvr-loader  StartupCheck");
  EXPECT_EQ(file.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_EQ(test::DesktopEntryValue(file, "Type"), "Application");
  EXPECT_EQ(test::DesktopEntryValue(file, "Name"), "QVR Load Check");
  EXPECT_EQ(test::DesktopEntryValue(file, "X-QVR-Value"), "/opt/qvr/qvr-loader  StartupCheck");
}

TEST(AutostartEntry, ReadsTheValueOnlyFromTheMainGroup) {
  struct Case {
    std::string file;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"[Desktop Entry]\r\nX-QVR-Value = \\s/a  b\r\n", " /a  b"},
      {"# made by hand\n\n[Desktop Entry]\nExec=x\nX-QVR-Value=/a\nX-QVR-Value=/b\n", "/a"},
      {"[Desktop Entry]\nExec=/opt/qvr/qvr-loader StartupCheck\n", std::nullopt},
      {"[Other]\nX-QVR-Value=/a\n[Desktop Entry]\nType=Application\n", std::nullopt},
      {"X-QVR-Value=/a\n", std::nullopt},
      {"[Desktop Entry]\nX-QVR-Value=/a\0b\n"s, std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadAutostartEntryValue(c.file), c.value) << c.file;
}

TEST(AutostartFileName, EncodesWhatAFileNameCannotHold) {
  EXPECT_EQ(AutostartFileName("QVR Load Check"), "QVR Load Check.desktop");
  EXPECT_EQ(AutostartFileName("../a/b%c"), "..%2Fa%2Fb%25c.desktop");
  EXPECT_EQ(AutostartFileName("tab\there\xC3\xA9"), "tab%09here%C3%A9.desktop");
}

}  // namespace
}  // namespace qvr::platform
