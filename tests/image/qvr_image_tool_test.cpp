// The qvr-image command: its arguments, exit status and reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "image_test_support.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

class ImageTool : public test::ImageTest {
 protected:
  // Runs qvr-image in the test's folder with `args` (shell words).
  ToolRun Tool(const std::string& args) {
    const std::string command = "cd '" + dir_.string() + "' && '" QVR_IMAGE_TOOL "' " + args + " 2>stderr.txt";
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = Read(PathOf("stderr.txt"));
    return run;
  }
};

class ImageToolUsage : public ImageTool, public testing::WithParamInterface<const char*> {};

TEST_P(ImageToolUsage, BadArgumentsExitWithTwoAndTheUsage) {
  const ToolRun run = Tool(GetParam());
  EXPECT_EQ(run.status, 2) << GetParam();
  EXPECT_NE(run.err.find("usage: qvr-image make"), std::string::npos) << GetParam();
  EXPECT_FALSE(std::filesystem::exists(PathOf("x.q37"))) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Image, ImageToolUsage,
                         testing::Values("", "frobnicate", "make", "make -o", "make -o x.q37 extra",
                                         "make --status 256 -o x.q37", "make --status -1 -o x.q37",
                                         "make --version 1.2 -o x.q37", "make --version 1.2.256 -o x.q37",
                                         "make --version 1.x.3 -o x.q37", "make --size 0x802F -o x.q37",
                                         "make --size 0x40001 -o x.q37", "make --size lots -o x.q37",
                                         "make --kernel-copy --size 0x3F000 -o x.q37",
                                         "make --date 'a date far too long' -o x.q37", "make --colour -o x.q37",
                                         "info", "info a b", "info --all x.q37", "pack --image x.q37 -o y",
                                         "pack --onto x -o y", "pack --image x.q37 --onto y"),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ImageTool, HelpExitsWithZero) {
  const ToolRun run = Tool("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("usage: qvr-image make"), std::string::npos);
  EXPECT_NE(run.out.find("pack"), std::string::npos);
}

struct MadeCase {
  const char* args;
  const char* report;  // the lines after the diagnostics
  const char* diagnostics;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const MadeCase& c, std::ostream* os) { *os << c.args; }

class ImageToolMake : public ImageTool, public testing::WithParamInterface<MadeCase> {};

TEST_P(ImageToolMake, MakesAnImageThatInfoReportsValid) {
  const MadeCase& c = GetParam();
  ASSERT_EQ(Tool(std::string("make ") + c.args + " -o made.q37").status, 0);
  const ToolRun run = Tool("info made.q37");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("source: S-record file\n") + c.diagnostics + c.report);
}

INSTANTIATE_TEST_SUITE_P(
    Image, ImageToolMake,
    testing::Values(
        MadeCase{"", "loaded length: 0x10000 (65536 bytes)\nrecord: 0x8000\nstatus: Full Release (4)\n"
                     "version: 1.0.0\nbuild: on  Dec 11 2026  at  12:00:00\nvalid\n",
                 "Kernel Not Present\n"},
        MadeCase{"--status 2 --version 1.0.12 --date 'Jan  2 2027' --time 01:02:03 --size 0x9001 --seed 5",
                 "loaded length: 0x9001 (36865 bytes)\nrecord: 0x8000\nstatus: Alpha Test (2)\n"
                 "version: 1.0.12\nbuild: on  Jan  2 2027  at  01:02:03\nvalid\n",
                 "Kernel Not Present\n"},
        MadeCase{"--kernel --status=7 --size=131072",
                 "loaded length: 0x20000 (131072 bytes)\nrecord: 0x8000\nstatus: Unknown (7)\n"
                 "version: 1.0.0\nbuild: on  Dec 11 2026  at  12:00:00\nvalid\n",
                 "Kernel Present\nKernel Copy not found\n"},
        MadeCase{"--kernel-copy --version 255.254.253",
                 "loaded length: 0x14000 (81920 bytes)\nrecord: 0x8000\nstatus: Full Release (4)\n"
                 "version: 255.254.253\nbuild: on  Dec 11 2026  at  12:00:00\nvalid\n",
                 "Kernel Present\nKernel Copy present\n"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(ImageTool, MakeIsDeterministicFromTheSeed) {
  ASSERT_EQ(Tool("make --seed 3 -o a.q37").status, 0);
  ASSERT_EQ(Tool("make --seed 3 -o b.q37").status, 0);
  ASSERT_EQ(Tool("make --seed 4 -o c.q37").status, 0);
  EXPECT_EQ(Read(PathOf("a.q37")), Read(PathOf("b.q37")));
  EXPECT_NE(Read(PathOf("a.q37")), Read(PathOf("c.q37")));
  EXPECT_EQ(Read(PathOf("a.q37")), tool::ToSRecords(tool::MakeImage({.seed = 3})));
}

struct FailedInfoCase {
  const char* name;
  std::string file;
  std::string ending;  // how the report ends; '@' stands for the file name
};

// Test names carry the case; values print as its name.
inline void PrintTo(const FailedInfoCase& c, std::ostream* os) { *os << c.name; }

const FailedInfoCase FailedInfo[] = {
    {"LoadError", "S1050000FFFFFF\n", "Checksum fail in <@> (302):\nS1050000FFFFFF\n\n"},
    {"ValidationError", tool::ToSRecords(tool::MakeImage({})) + "S1058010AABB05\n",
     "Checksum error: Generated = "},
    {"NoRecord", "", "loaded length: 0x0 (0 bytes)\nrecord: 0x8000\nstatus: Unknown (255)\nversion: 255.255.255\n"
                     "build: on  \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF  at  "
                     "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\nNo checksum block found\n"},
    {"BinaryWithoutImage", std::string("\x7F" "ELF\0\0\0", 8), "<@> carries no image and is not an S-record file\n"},
    {"TrailerThatDoesNotFit", std::string(100, 'x') + "\x8C\x4A\x8D\xAA" + std::string("\x01\x00\x00\x01\x00\x80\x00\x00", 8),
     "the loader takes <@> as carrying no image\n"},
};

class ImageToolInfo : public ImageTool, public testing::WithParamInterface<FailedInfoCase> {};

TEST_P(ImageToolInfo, FailuresExitWithOne) {
  const FailedInfoCase& c = GetParam();
  Write("file", c.file);
  const ToolRun run = Tool("info file");
  EXPECT_EQ(run.status, 1);
  std::string ending = c.ending;
  if (const auto at = ending.find('@'); at != std::string::npos) ending.replace(at, 1, "file");
  if (c.ending.back() == '\n') {
    ASSERT_GE(run.out.size(), ending.size()) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
  } else {
    EXPECT_NE(run.out.find(ending), std::string::npos) << run.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Image, ImageToolInfo, testing::ValuesIn(FailedInfo),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageTool, InfoOfAMissingFileGivesTheLoadersMessage) {
  const ToolRun run = Tool("info missing.q37");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Could not open <missing.q37> - No such file or directory\n");
}

TEST_F(ImageTool, PackedProgramStillRunsAndCarriesTheImage) {
  ASSERT_EQ(Tool("make --kernel-copy --version 2.3.4 -o image.q37").status, 0);
  std::filesystem::copy_file("/bin/true", PathOf("program"));
  ASSERT_EQ(Tool("pack --image image.q37 --onto program -o packed").status, 0);
  EXPECT_EQ(Tool("info packed").out,
            "source: carried image (trailer length 0x14000, record offset 0x8000)\n"
            "Kernel Present\nKernel Copy present\n"
            "loaded length: 0x14000 (81920 bytes)\nrecord: 0x8000\nstatus: Full Release (4)\n"
            "version: 2.3.4\nbuild: on  Dec 11 2026  at  12:00:00\nvalid\n");
  EXPECT_EQ(std::system(("'" + PathOf("packed") + "'").c_str()), 0);

  // Packing onto the packed program replaces its image.
  ASSERT_EQ(Tool("make --version 5.6.7 -o second.q37").status, 0);
  ASSERT_EQ(Tool("pack --image second.q37 --onto packed -o repacked").status, 0);
  EXPECT_EQ(std::filesystem::file_size(PathOf("repacked")),
            std::filesystem::file_size("/bin/true") + 0x10000 + 12);
  const ToolRun run = Tool("info repacked");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("version: 5.6.7\n"), std::string::npos);
}

TEST_F(ImageTool, PackRefusesAnInvalidImageUnlessForced) {
  Write("program", "program");
  Write("bad.q37", tool::ToSRecords(tool::MakeImage({})) + "S1058010AABB05\n");
  ToolRun run = Tool("pack --image bad.q37 --onto program -o out");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Checksum error: Generated = "), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(PathOf("out")));

  run = Tool("pack --image bad.q37 --onto program -o out --force");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read(PathOf("out")).size(), 7 + 0x10000 + 12);
  EXPECT_EQ(Tool("info out").status, 1);

  Write("broken.q37", "garbage\n");
  run = Tool("pack --image broken.q37 --onto program -o out2 --force");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Invalid line in <broken.q37>:\ngarbage\n\n");
  EXPECT_FALSE(std::filesystem::exists(PathOf("out2")));

  ASSERT_EQ(Tool("make -o good.q37").status, 0);
  run = Tool("pack --image good.q37 --onto missing -o out3");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing"), std::string::npos);
}

}  // namespace
}  // namespace qvr
