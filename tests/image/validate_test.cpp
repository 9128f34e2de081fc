#include "image/validate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "image/firmware_image.h"
#include "image_test_support.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

using test::PlaceImage;
using test::PutBigEndian32;
using tool::ImageSpec;

std::uint32_t B32(std::uint32_t at) { return ReadBigEndian32(TheImage.Data.data() + at); }

std::string Printf(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Raises the low byte of the word at odd offset `at` by one, which raises
// any sum over that word by exactly one (the byte must be below 0xFF).
void BumpLowByte(std::uint32_t at) {
  ASSERT_EQ(at % 2, 1u);
  ASSERT_NE(TheImage.Data[at], 0xFF);
  ++TheImage.Data[at];
}

const char AppChecksum[] = "Checksum error: Generated = %08x, Stored = %08x, Checksum address = 0x%X\n";
const char KernelAppChecksum[] =
    "Application Checksum error: Generated = %08x, Stored = %08x, Checksum address = 0x%X\n";

struct ValidationCase {
  const char* name;
  std::optional<ImageSpec> spec;           // none: the blank start-up fill
  std::function<void()> change;            // applied after the image is placed
  std::function<std::optional<std::string>()> message;  // evaluated after the change
  const char* diagnostics;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const ValidationCase& c, std::ostream* os) { *os << c.name; }

ImageSpec AppOnly(std::uint32_t size = 0x10000) { return ImageSpec{.size = size}; }
ImageSpec Kernel(std::uint32_t size = 0x10000) { return ImageSpec{.kernel = true, .size = size}; }
ImageSpec KernelCopy(std::uint32_t size = 0x10000) { return ImageSpec{.kernelCopy = true, .size = size}; }

auto None() {
  return []() -> std::optional<std::string> { return std::nullopt; };
}
auto Text(std::string text) {
  return [text]() -> std::optional<std::string> { return text; };
}

const ValidationCase Cases[] = {
    {"BlankFill", std::nullopt, [] {}, Text("No checksum block found\n"), ""},
    {"ApplicationOnlyValid", AppOnly(), [] {}, None(), "Kernel Not Present\n"},
    {"ApplicationOnlyOddLength", AppOnly(0x9001), [] {}, None(), "Kernel Not Present\n"},
    {"ApplicationOnlyWholeBuffer", AppOnly(0x40000), [] {}, None(), "Kernel Not Present\n"},
    {"ApplicationOnlyContentChanged", AppOnly(), [] { BumpLowByte(0x9001); },
     [] { return std::optional(Printf(AppChecksum, B32(0x8004) + 1, B32(0x8004), 0x8004)); }, "Kernel Not Present\n"},
    // The sum covers the cleared pattern below 0x8000 too.
    {"ApplicationOnlyPageStartChanged", AppOnly(), [] { TheImage.Data[0x3001] = 0x00; },
     [] { return std::optional(Printf(AppChecksum, B32(0x8004) - 0xFF, B32(0x8004), 0x8004)); },
     "Kernel Not Present\n"},
    // Without a kernel the record's date text is summed.
    {"ApplicationOnlyDateChanged", AppOnly(), [] { BumpLowByte(0x8000 + ImageRecord::Date + 1); },
     [] { return std::optional(Printf(AppChecksum, B32(0x8004) + 1, B32(0x8004), 0x8004)); }, "Kernel Not Present\n"},
    // An odd length takes the byte just past it into the last word.
    {"ApplicationOnlyOddLengthBytePastEnd", AppOnly(0x9001), [] { TheImage.Data[0x9001] = 0xFE; },
     [] { return std::optional(Printf(AppChecksum, B32(0x8004) - 1, B32(0x8004), 0x8004)); }, "Kernel Not Present\n"},
    {"ApplicationOnlyReadTooLong", AppOnly(), [] { TheImage.LoadedLength = 0x10001; },
     Text("Length mismatch: Read = 65537, Stored = 65536\n"), "Kernel Not Present\n"},
    {"ApplicationOnlyReadTooShort", AppOnly(), [] { TheImage.LoadedLength = 0x8000; },
     Text("Length mismatch: Read = 32768, Stored = 65536\n"), "Kernel Not Present\n"},
    {"KernelValid", Kernel(), [] {}, None(), "Kernel Present\nKernel Copy not found\n"},
    {"KernelOddLength", Kernel(0x9003), [] {}, None(), "Kernel Present\nKernel Copy not found\n"},
    {"KernelCopyValid", KernelCopy(), [] {}, None(), "Kernel Present\nKernel Copy present\n"},
    {"KernelCopyOddLength", KernelCopy(0x12345), [] {}, None(), "Kernel Present\nKernel Copy present\n"},
    {"KernelCopyWholeBuffer", KernelCopy(0x40000 - 0x4000), [] {}, None(), "Kernel Present\nKernel Copy present\n"},
    {"KernelApplicationChanged", Kernel(), [] { BumpLowByte(0xA001); },
     [] { return std::optional(Printf(KernelAppChecksum, B32(0x8004) + 1, B32(0x8004), 0x8004)); },
     "Kernel Present\n"},
    {"KernelApplicationVersionChanged", Kernel(), [] { BumpLowByte(0x8000 + ImageRecord::Patch); },
     [] { return std::optional(Printf(KernelAppChecksum, B32(0x8004) + 1, B32(0x8004), 0x8004)); },
     "Kernel Present\n"},
    // With a kernel the application record's texts and nothing below 0x8000
    // are outside the application sum.
    {"KernelApplicationDateChanged", Kernel(), [] { TheImage.Data[0x8000 + ImageRecord::Date] = 'X'; }, None(),
     "Kernel Present\nKernel Copy not found\n"},
    {"KernelGapChanged", Kernel(), [] { TheImage.Data[0x6001] = 0x12; }, None(),
     "Kernel Present\nKernel Copy not found\n"},
    {"KernelContentChanged", Kernel(), [] { BumpLowByte(0x0801); },
     [] { return std::optional(Printf(AppChecksum, B32(0x1004) + 1, B32(0x1004), 0x1004)); }, "Kernel Present\n"},
    {"KernelContentAfterRecordChanged", Kernel(), [] { BumpLowByte(0x2001); },
     [] { return std::optional(Printf(AppChecksum, B32(0x1004) + 1, B32(0x1004), 0x1004)); }, "Kernel Present\n"},
    {"KernelReadTooLong", Kernel(), [] { TheImage.LoadedLength = 0x10001; },
     Text("Length mismatch: Read = 0x10001, Stored = 0x10000\n"), "Kernel Present\nKernel Copy not found\n"},
    {"KernelCopyDiffers", KernelCopy(), [] { TheImage.Data[0x10000 + 0x3FFF] ^= 0x01; },
     Text("Kernel Copy does not match the Kernel\n"), "Kernel Present\nKernel Copy present\n"},
    {"KernelCopyDiffersInFirstByte", KernelCopy(), [] { TheImage.Data[0x10000] ^= 0x80; },
     Text("Kernel Copy does not match the Kernel\n"), "Kernel Present\nKernel Copy present\n"},
    {"KernelCopyReadTooShort", KernelCopy(), [] { TheImage.LoadedLength = 0x10000; },
     Text("Length mismatch (with Kernel Copy): Read = 0x10000, Stored = 0x14000\n"),
     "Kernel Present\nKernel Copy present\n"},
    // Lengths that reach past Data are reported, never followed.
    {"ApplicationOnlyLengthPastData", AppOnly(), [] { PutBigEndian32(0x8008, 0x40001); },
     Text("Length mismatch: Read = 65536, Stored = 262145\n"), "Kernel Not Present\n"},
    {"ApplicationOnlyLengthHuge", AppOnly(), [] { PutBigEndian32(0x8008, 0xFFFFFFFF); },
     Text("Length mismatch: Read = 65536, Stored = -1\n"), "Kernel Not Present\n"},
    {"ApplicationOnlyLengthPastDataEvenWhenReadSays", AppOnly(),
     [] { PutBigEndian32(0x8008, 0x80000000), TheImage.LoadedLength = 0x80000000; },
     Text("Length mismatch: Read = -2147483648, Stored = -2147483648\n"), "Kernel Not Present\n"},
    {"KernelApplicationLengthPastData", Kernel(), [] { PutBigEndian32(0x8008, 0xFFFFFFF0); },
     Text("Length mismatch: Read = 0x10000, Stored = 0xFFFFFFF0\n"), "Kernel Present\n"},
    {"KernelLengthPastData", Kernel(), [] { PutBigEndian32(0x1008, 0xFFFFF000); },
     Text("Length mismatch: Read = 0x10000, Stored = 0xFFFFF000\n"), "Kernel Present\n"},
    // A copy position whose magic would not lie inside Data: no copy.
    {"KernelCopyPositionPastData", Kernel(0x3F000), [] { TheImage.Data[0x3FFFF] = 0xAA; }, None(),
     "Kernel Present\nKernel Copy not found\n"},
    {"KernelCopyMagicAcrossTheEnd", Kernel(0x3EFFE),
     [] { TheImage.Data[0x3FFFE] = 0xAA, TheImage.Data[0x3FFFF] = 0x8D; }, None(),
     "Kernel Present\nKernel Copy not found\n"},
    {"KernelCopyLastPlaceInData", Kernel(0x3EFFC), [] { PutBigEndian32(0x3FFFC, ImageMagic); },
     Text("Length mismatch (with Kernel Copy): Read = 0x3EFFC, Stored = 0x42FFC\n"),
     "Kernel Present\nKernel Copy present\n"},
};

class Validation : public testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, MessageAndDiagnostics) {
  const ValidationCase& c = GetParam();
  if (c.spec) {
    const auto image = tool::MakeImage(*c.spec);
    ASSERT_FALSE(image.empty());
    PlaceImage(image);
  } else {
    ResetImage();
  }
  c.change();
  const auto expected = c.message();
  testing::internal::CaptureStdout();
  const auto result = ValidateImage();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.diagnostics);
  EXPECT_EQ(result, expected);
}

INSTANTIATE_TEST_SUITE_P(Image, Validation, testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

// A hand-built application-only image over the cleared pattern, with its
// checksum worked out by hand: the words are signed.
class SignedWords : public test::ImageTest {
 protected:
  void SetUp() override {
    test::ImageTest::SetUp();
    ClearImage();
    PutBigEndian32(0x8000, ImageMagic);
    PutBigEndian32(0x8008, 0x8030);
    PutBigEndian32(0x800C, 0x04010000);
    std::fill_n(TheImage.Data.begin() + 0x8010, 32, 0);
    TheImage.LoadedLength = 0x8030;
  }
};

TEST_F(SignedWords, SumMatchesOnlyWhenWordsAreTakenAsSigned) {
  // Below 0x8000: 8 words 0x00FF (the page starts) and 0x3FF8 words 0xFFFF (-1).
  // Record: 0xAA8D (-21875) + 0x4A8C (19084) + length 0x0000 + 0x8030 (-32720)
  // + 0x0401 (1025); the checksum field is left out, texts are zero.
  const std::int32_t signedSum = 8 * 255 - 0x3FF8 - 21875 + 19084 - 32720 + 1025;
  const std::uint32_t unsignedSum = 8 * 0xFF + 0x3FF8 * 0xFFFF + 0xAA8D + 0x4A8C + 0x8030 + 0x0401;

  PutBigEndian32(0x8004, static_cast<std::uint32_t>(signedSum));
  testing::internal::CaptureStdout();
  EXPECT_EQ(ValidateImage(), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Kernel Not Present\n");

  // The checksum field itself is out of the sum: the unsigned total stored there fails.
  PutBigEndian32(0x8004, unsignedSum);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ValidateImage(), Printf(AppChecksum, static_cast<std::uint32_t>(signedSum), unsignedSum, 0x8004));
  testing::internal::GetCapturedStdout();
}

TEST_F(SignedWords, NegativeSumPrintsAsTwosComplement) {
  PutBigEndian32(0x8004, 0);
  testing::internal::CaptureStdout();
  const auto message = ValidateImage();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(message, "Checksum error: Generated = ffff414a, Stored = 00000000, Checksum address = 0x8004\n");
}

}  // namespace
}  // namespace qvr
