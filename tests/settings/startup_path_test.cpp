#include "platform/startup_path.h"

#include <gtest/gtest.h>

namespace qvr::platform {
namespace {

struct PathCase {
  const char* entry;
  const char* path;
};

TEST(WindowsRule, ReplacesEverythingFromTheLastDot) {
  const PathCase cases[] = {PathCase{"C:\\Tools\\QvrLoad.exe  StartupCheck", "C:\\Tools\\QvrLoad.exe"},
                            PathCase{"C:\\Tools\\QvrLoad.EXE  StartupCheck", "C:\\Tools\\QvrLoad.exe"},
                            // A '.' in a directory name and none in the file name.
                            PathCase{"C:\\Qvr.v2\\loader  StartupCheck", "C:\\Qvr.exe"},
                            // No '.': the whole text, parameter included.
                            PathCase{"C:\\Tools\\loader  StartupCheck", "C:\\Tools\\loader  StartupCheck"},
                            // A '.' in the first character does not count.
                            PathCase{".loader  StartupCheck", ".loader  StartupCheck"},
                            PathCase{"a.", "a.exe"}, PathCase{".", "."}, PathCase{"", ""}};
  for (const PathCase& c : cases) EXPECT_EQ(ReplaceExtensionWithExe(c.entry), c.path) << c.entry;
}

TEST(LinuxRule, DropsTheTrailingParameter) {
  const PathCase cases[] = {
      PathCase{"/opt/qvr/qvr-loader  StartupCheck", "/opt/qvr/qvr-loader"},
      // Extensions and dots in directory names stay.
      PathCase{"/opt/qvr.v2/qvr-loader.bin  StartupCheck", "/opt/qvr.v2/qvr-loader.bin"},
      // Single spaces belong to the path.
      PathCase{"/opt/my tools/qvr loader  StartupCheck", "/opt/my tools/qvr loader"},
      // The last run of two or more spaces counts, whole.
      PathCase{"/opt/a  b/qvr-loader   StartupCheck", "/opt/a  b/qvr-loader"},
      PathCase{"/opt/qvr/qvr-loader  ", "/opt/qvr/qvr-loader"},
      // No parameter: the entry as it stands.
      PathCase{"/opt/qvr/qvr-loader", "/opt/qvr/qvr-loader"},
      PathCase{"/opt/qvr/qvr-loader StartupCheck", "/opt/qvr/qvr-loader StartupCheck"},
      PathCase{"  StartupCheck", ""}, PathCase{"", ""}};
  for (const PathCase& c : cases) EXPECT_EQ(StripTrailingParameter(c.entry), c.path) << c.entry;
}

TEST(SplitTrailingParameter, GivesTheParameterAfterTheRun) {
  struct Case {
    const char* entry;
    const char* program;
    const char* parameter;
  };
  const Case cases[] = {
      {"/opt/qvr/qvr-loader  StartupCheck", "/opt/qvr/qvr-loader", "StartupCheck"},
      {"/opt/qvr/qvr-loader    StartupCheck", "/opt/qvr/qvr-loader", "StartupCheck"},
      {"/opt/qvr/qvr-loader  Startup Check", "/opt/qvr/qvr-loader", "Startup Check"},
      {"/opt/qvr/qvr-loader", "/opt/qvr/qvr-loader", ""},
  };
  for (const Case& c : cases) {
    const CommandLineParts parts = SplitTrailingParameter(c.entry);
    EXPECT_EQ(parts.program, c.program) << c.entry;
    EXPECT_EQ(parts.parameter, c.parameter) << c.entry;
  }
}

TEST(RegisteredExecutablePath, FollowsThisPlatformsRule) {
  const std::string entry = "/opt/qvr.v2/qvr-loader  StartupCheck";
#ifdef _WIN32
  EXPECT_EQ(RegisteredExecutablePath(entry), ReplaceExtensionWithExe(entry));
#else
  EXPECT_EQ(RegisteredExecutablePath(entry), "/opt/qvr.v2/qvr-loader");
#endif
}

}  // namespace
}  // namespace qvr::platform
