// S-record files written by tools from elsewhere load to the bytes of the
// binary they were made from.
#include <gtest/gtest.h>

#include <cstdlib>

#include "image/firmware_image.h"
#include "image/srecord.h"
#include "image/validate.h"
#include "image_test_support.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

struct ForeignCase {
  const char* name;
  const char* command;  // {in} and {out} stand for the binary and the S-record file
  tool::ImageSpec spec;
  const char* dataRecord;  // the record type the tool is expected to write
};

// Test names carry the case; values print as its name.
inline void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.name; }

// srec_cat writes a data-count record (S5) unless told not to; the loader
// accepts no S5, so the comparisons turn it off (the case below shows why).
const ForeignCase Cases[] = {
    {"ObjcopySixteenBit", "objcopy -I binary -O srec {in} {out}", {.size = 0xF000}, "\nS1"},
    {"ObjcopyTwentyFourBit", "objcopy -I binary -O srec {in} {out}", {.kernelCopy = true, .size = 0x30001},
     "\nS2"},
    {"SrecCat",
     "srec_cat {in} -binary -o {out} -motorola -address-length=3 -disable=data-count -execution-start-address=0",
     {.kernel = true, .size = 0x20000}, "\nS8"},
    {"SrecCatSmall", "srec_cat {in} -binary -o {out} -motorola -address-length=3 -disable=data-count",
     {.size = 0x8031}, "\nS2"},
    {"SrecCatCrLf",
     "srec_cat {in} -binary -o {out} -motorola -address-length=3 -disable=data-count -line-termination=crlf",
     {.kernelCopy = true, .size = 0x10000}, "\r\nS2"},
};

class ForeignTool : public test::ImageTest, public testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignTool, LoadsTheBinaryItWasMadeFrom) {
  const ForeignCase& c = GetParam();
  const auto binary = tool::MakeImage(c.spec);
  const std::string in = Write("image.bin", binary), out = PathOf("image.q37");
  std::string command = c.command;
  command.replace(command.find("{in}"), 4, "'" + in + "'");
  command.replace(command.find("{out}"), 5, "'" + out + "'");
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  ASSERT_NE(Read(out).find(c.dataRecord), std::string::npos);

  TheImage.LoadedLength = 0;
  ClearImage();
  ASSERT_EQ(LoadSRecordFile(out), std::nullopt);
  EXPECT_EQ(TheImage.LoadedLength, binary.size());
  EXPECT_TRUE(std::equal(binary.begin(), binary.end(), TheImage.Data.begin()));
  testing::internal::CaptureStdout();
  EXPECT_EQ(ValidateImage(), std::nullopt);
  testing::internal::GetCapturedStdout();
}

using ForeignToolDefaults = test::ImageTest;

INSTANTIATE_TEST_SUITE_P(Image, ForeignTool, testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ForeignToolDefaults, SrecCatDataCountRecordIsRefused) {
  const auto binary = tool::MakeImage({});
  const std::string in = Write("image.bin", binary), out = PathOf("image.q37");
  const std::string command = "srec_cat '" + in + "' -binary -o '" + out + "' -motorola -address-length=3";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string text = Read(out);
  const auto s5 = text.find("\nS5");
  ASSERT_NE(s5, std::string::npos);
  const std::string line = text.substr(s5 + 1, text.find('\n', s5 + 1) - s5);
  ClearImage();
  EXPECT_EQ(LoadSRecordFile(out), "Unrecognised line in <" + out + ">:\n" + line + "\n");
  // The data records before it are all stored.
  EXPECT_EQ(TheImage.LoadedLength, binary.size());
}

}  // namespace
}  // namespace qvr
