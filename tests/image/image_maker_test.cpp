#include "tools/image_maker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "image/carried_image.h"
#include "image/firmware_image.h"
#include "image/srecord.h"
#include "image/validate.h"
#include "image_test_support.h"

namespace qvr {
namespace {

using tool::ImageSpec;

struct MakeCase {
  const char* name;
  ImageSpec spec;
  std::uint32_t length;
  const char* diagnostics;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const MakeCase& c, std::ostream* os) { *os << c.name; }

const MakeCase Cases[] = {
    {"ApplicationOnly", {}, 0x10000, "Kernel Not Present\n"},
    {"ApplicationOnlySmallest", {.size = 0x8030}, 0x8030, "Kernel Not Present\n"},
    {"ApplicationOnlyOdd", {.size = 0x10001}, 0x10001, "Kernel Not Present\n"},
    {"ApplicationOnlyWhole", {.size = 0x40000}, 0x40000, "Kernel Not Present\n"},
    {"Kernel", {.status = 1, .major = 3, .minor = 4, .patch = 5, .kernel = true, .size = 0x9000}, 0x9000,
     "Kernel Present\nKernel Copy not found\n"},
    {"KernelOddLengths", {.kernel = true, .size = 0x20003, .kernelSize = 0x1031}, 0x20003,
     "Kernel Present\nKernel Copy not found\n"},
    {"KernelCopy", {.kernelCopy = true, .size = 0x10000}, 0x14000, "Kernel Present\nKernel Copy present\n"},
    {"KernelCopyOdd", {.kernelCopy = true, .size = 0xC001, .kernelSize = 0x7FFF}, 0x14000,
     "Kernel Present\nKernel Copy present\n"},
    {"KernelCopyWhole", {.kernelCopy = true, .size = 0x38000, .kernelSize = 0x8000}, 0x40000,
     "Kernel Present\nKernel Copy present\n"},
    {"LongestTexts", {.date = "Sep 30 2026 xyz", .time = "23:59:59.999999", .size = 0x9000}, 0x9000,
     "Kernel Not Present\n"},
};

class MadeImage : public test::ImageTest, public testing::WithParamInterface<MakeCase> {};

// The image loads to the same buffer by S-records and carried by a program,
// and that buffer is a valid image with the record asked for.
TEST_P(MadeImage, LoadsAlikeBothWaysAndValidates) {
  const MakeCase& c = GetParam();
  const auto image = tool::MakeImage(c.spec);
  ASSERT_EQ(image.size(), c.length);

  TheImage.LoadedLength = 0;
  ClearImage();
  ASSERT_EQ(LoadSRecordFile(Write("image.q37", tool::ToSRecords(image))), std::nullopt);
  const auto viaSRecords = TheImage.Data;
  EXPECT_EQ(TheImage.LoadedLength, c.length);

  ResetImage();
  std::string error;
  ASSERT_TRUE(tool::PackImage(Write("program", "#!/bin/true\n"), image, 0x8000, PathOf("packed"), &error)) << error;
  ASSERT_EQ(ReadCarriedImage(PathOf("packed")).outcome, CarriedImageOutcome::Loaded);
  EXPECT_EQ(TheImage.LoadedLength, c.length);
  EXPECT_TRUE(TheImage.Data == viaSRecords);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), TheImage.Data.begin()));

  testing::internal::CaptureStdout();
  EXPECT_EQ(ValidateImage(), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.diagnostics);
  EXPECT_EQ(RecordVersionAt(0x8000), (RecordVersion{c.spec.status, c.spec.major, c.spec.minor, c.spec.patch}));
  EXPECT_EQ(RecordDateText(0x8000), c.spec.date);
  EXPECT_EQ(RecordTimeText(0x8000), c.spec.time);
  if (c.spec.kernel || c.spec.kernelCopy) {
    EXPECT_EQ(RecordVersionAt(0x1000), RecordVersionAt(0x8000));
  }
}

INSTANTIATE_TEST_SUITE_P(Image, MadeImage, testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageMaker, ContentFollowsTheSeed) {
  const auto a = tool::MakeImage({.seed = 1});
  EXPECT_EQ(tool::MakeImage({.seed = 1}), a);
  const auto b = tool::MakeImage({.seed = 2});
  ASSERT_EQ(a.size(), b.size());
  EXPECT_FALSE(std::equal(a.begin() + 0x8030, a.end(), b.begin() + 0x8030));
}

TEST(ImageMaker, RecordTypesFollowTheHighestAddress) {
  struct {
    std::uint32_t size;
    const char* data;
    const char* end;
  } cases[] = {{0x10000, "\nS1", "S9030000FC\n"}, {0x10001, "\nS2", "S804000000FB\n"}};
  for (const auto& c : cases) {
    const std::string text = tool::ToSRecords(tool::MakeImage({.size = c.size}));
    EXPECT_EQ(text.rfind("S0", 0), 0u);
    EXPECT_NE(text.find(c.data), std::string::npos) << c.size;
    EXPECT_EQ(text.substr(text.size() - std::string(c.end).size()), c.end) << c.size;
  }
}

struct RefusedCase {
  const char* name;
  ImageSpec spec;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedSpec : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSpec, GivesAReasonAndNoImage) {
  EXPECT_TRUE(tool::CheckSpec(GetParam().spec));
  EXPECT_TRUE(tool::MakeImage(GetParam().spec).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Image, RefusedSpec,
    testing::Values(RefusedCase{"TooSmall", {.size = 0x802F}}, RefusedCase{"TooLarge", {.size = 0x40001}},
                    RefusedCase{"DateTooLong", {.date = "0123456789abcdef"}},
                    RefusedCase{"TimeTooLong", {.time = "0123456789abcdef"}},
                    RefusedCase{"KernelTooSmall", {.kernel = true, .kernelSize = 0x102F}},
                    RefusedCase{"KernelIntoTheApplication", {.kernel = true, .kernelSize = 0x8001}},
                    RefusedCase{"CopyPastTheBuffer", {.kernelCopy = true, .size = 0x3C001}}),
    [](const auto& info) { return std::string(info.param.name); });

using Packing = test::ImageTest;

TEST_F(Packing, ReplacesACarriedImageAndKeepsThePermissions) {
  const std::string program = Write("program", std::string("program bytes\0\x01\x02", 16));
  for (unsigned mode : {0755u, 0640u}) {
    ::chmod(program.c_str(), mode);
    const auto first = tool::MakeImage({.size = 0x9000, .seed = 1});
    const auto second = tool::MakeImage({.kernelCopy = true, .size = 0xA000, .seed = 2});
    std::string error;
    ASSERT_TRUE(tool::PackImage(program, first, 0x8000, PathOf("once"), &error)) << error;
    ASSERT_TRUE(tool::PackImage(PathOf("once"), second, 0x1000, PathOf("twice"), &error)) << error;
    // Packing in place works too: the program is read before OUT is replaced.
    ASSERT_TRUE(tool::PackImage(PathOf("twice"), second, 0x1000, PathOf("twice"), &error)) << error;

    const std::string expected = Read(program) + std::string(second.begin(), second.end()) +
                                 std::string("\x8C\x4A\x8D\xAA\x00\xE0\x00\x00\x00\x10\x00\x00", 12);
    EXPECT_EQ(Read(PathOf("twice")), expected);
    struct stat st {};
    ASSERT_EQ(::stat(PathOf("twice").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
  // Nothing but the files written is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 3);
}

TEST_F(Packing, FailsWithoutWritingWhenTheProgramCannotBeRead) {
  std::string error;
  EXPECT_FALSE(tool::PackImage(PathOf("missing"), tool::MakeImage({}), 0x8000, PathOf("out"), &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(PathOf("out")));
  EXPECT_FALSE(tool::PackImage(Write("program", "x"), std::vector<std::uint8_t>(0x40001), 0x8000, PathOf("out"), &error));
  EXPECT_FALSE(tool::PackImage(PathOf("program"), {}, 0x40000 - 47, PathOf("out"), &error));
  EXPECT_FALSE(std::filesystem::exists(PathOf("out")));
  EXPECT_FALSE(tool::PackImage(PathOf("program"), {}, 0x8000, PathOf("no-such-folder/out"), &error));
  EXPECT_FALSE(tool::PackImage(dir_.string(), {}, 0x8000, PathOf("out"), &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

}  // namespace
}  // namespace qvr
