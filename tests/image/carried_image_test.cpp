#include "image/carried_image.h"

#include <gtest/gtest.h>

#include "image/firmware_image.h"
#include "image_test_support.h"

namespace qvr {
namespace {

std::string Trailer(std::uint32_t magic, std::uint32_t length, std::uint32_t record) {
  std::string t;
  for (std::uint32_t v : {magic, length, record})
    for (int i = 0; i < 4; ++i) t += static_cast<char>(v >> (8 * i));
  return t;
}

// Image bytes whose content tells their offsets apart.
std::string ImageBytes(std::uint32_t length) {
  std::string image(length, '\0');
  for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<char>(i * 7 + (i >> 8));
  return image;
}

const std::string Program = "\x7F" "ELF program bytes, not an image";

struct CarriedCase {
  const char* name;
  std::string file;
  bool hasTrailer;
  std::optional<std::uint32_t> loaded;  // LoadedLength when the image is read; none: NoImage
  std::uint32_t record;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const CarriedCase& c, std::ostream* os) { *os << c.name; }

const CarriedCase Cases[] = {
    {"Valid", Program + ImageBytes(0x9000) + Trailer(ImageMagic, 0x9000, 0x8000), true, 0x9000, 0x8000},
    {"WholeBufferWithoutProgram", ImageBytes(0x40000) + Trailer(ImageMagic, 0x40000, 0x8000), true, 0x40000, 0x8000},
    {"EmptyImage", Program + Trailer(ImageMagic, 0, 0x8000), true, 0, 0x8000},
    {"LastRecordPlace", Program + ImageBytes(0x100) + Trailer(ImageMagic, 0x100, 0x40000 - 48), true, 0x100,
     0x40000 - 48},
    {"OtherRecordOffset", Program + ImageBytes(0x2000) + Trailer(ImageMagic, 0x2000, 0x1000), true, 0x2000, 0x1000},
    {"NoTrailer", Program + ImageBytes(0x100), false, std::nullopt, 0},
    {"MagicBigEndian", Program + "\xAA\x8D\x4A\x8C" + std::string(8, '\0'), false, std::nullopt, 0},
    {"ShorterThanATrailer", Trailer(ImageMagic, 0, 0x8000).substr(0, 11), false, std::nullopt, 0},
    {"EmptyFile", "", false, std::nullopt, 0},
    {"TrailerOnly", Trailer(ImageMagic, 0, 0x8000), true, 0, 0x8000},
    {"LengthPastData", ImageBytes(0x40001) + Trailer(ImageMagic, 0x40001, 0x8000), true, std::nullopt, 0},
    {"LengthBeforeTheFileStart", ImageBytes(0x100) + Trailer(ImageMagic, 0x101, 0x8000), true, std::nullopt, 0},
    {"LengthWrapsWithTheTrailer", ImageBytes(0x100) + Trailer(ImageMagic, 0xFFFFFFF8, 0x8000), true, std::nullopt, 0},
    {"RecordPastData", Program + ImageBytes(0x100) + Trailer(ImageMagic, 0x100, 0x40000 - 47), true, std::nullopt, 0},
    {"RecordFarPastData", Program + ImageBytes(0x100) + Trailer(ImageMagic, 0x100, 0xFFFFFFF0), true, std::nullopt,
     0},
};

class CarriedImage : public test::ImageTest, public testing::WithParamInterface<CarriedCase> {};

TEST_P(CarriedImage, ReadIntoTheBuffer) {
  const CarriedCase& c = GetParam();
  const std::string path = Write("program", c.file);
  TheImage.LoadedLength = 0x5555;  // marks "not touched"
  const auto result = ReadCarriedImage(path);
  EXPECT_EQ(result.hasTrailer, c.hasTrailer);
  if (!c.loaded) {
    EXPECT_EQ(result.outcome, CarriedImageOutcome::NoImage);
    EXPECT_EQ(TheImage.LoadedLength, 0x5555u);
    EXPECT_FALSE(TheImage.CurrentRecord);
    EXPECT_TRUE(std::all_of(TheImage.Data.begin(), TheImage.Data.end(), [](std::uint8_t b) { return b == 0xFF; }));
    return;
  }
  ASSERT_EQ(result.outcome, CarriedImageOutcome::Loaded);
  EXPECT_EQ(result.trailer.length, *c.loaded);
  EXPECT_EQ(result.trailer.recordOffset, c.record);
  EXPECT_EQ(TheImage.LoadedLength, *c.loaded);
  EXPECT_EQ(TheImage.CurrentRecord, c.record);
  const std::string image = c.file.substr(c.file.size() - 12 - *c.loaded, *c.loaded);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), TheImage.Data.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
  EXPECT_TRUE(std::all_of(TheImage.Data.begin() + *c.loaded, TheImage.Data.end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(Image, CarriedImage, testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

using CarriedFile = test::ImageTest;

TEST_F(CarriedFile, ThatCannotBeOpened) {
  EXPECT_EQ(ReadCarriedImage(PathOf("missing")).outcome, CarriedImageOutcome::CannotOpen);
  EXPECT_FALSE(ReadCarriedRecord(PathOf("missing")).opened);
  EXPECT_EQ(ReadCarriedImage("").outcome, CarriedImageOutcome::CannotOpen);
}

// An image with a record whose version bytes are 3, 2, 1, 0 at `at`.
std::string ImageWithRecord(std::uint32_t length, std::uint32_t at) {
  std::string image(length, '\x11');
  if (at + 48 <= length) image.replace(at + 12, 4, "\x03\x02\x01\x00", 4);
  return image;
}

struct RecordCase {
  const char* name;
  std::string file;
  bool hasTrailer;
  std::optional<RecordVersion> version;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

const RecordVersion Version3210{3, 2, 1, 0};

const RecordCase RecordCases[] = {
    {"Valid", Program + ImageWithRecord(0x9000, 0x8000) + Trailer(ImageMagic, 0x9000, 0x8000), true, Version3210},
    {"RecordAtTheImageEnd", Program + ImageWithRecord(0x100, 0x100 - 48) + Trailer(ImageMagic, 0x100, 0x100 - 48),
     true, Version3210},
    // The record is read wherever R - L - 12 from the end points, also
    // before the image, as long as all 48 bytes are in the file.
    {"RecordInTheProgramBytes", ImageWithRecord(0x200, 0x10) + Trailer(ImageMagic, 0x100, 0), true,
     RecordVersion{0x11, 0x11, 0x11, 0x11}},
    {"NoTrailer", Program + ImageWithRecord(0x9000, 0x8000), false, std::nullopt},
    {"ShortFile", "\x8C\x4A\x8D", false, std::nullopt},
    {"RecordReachingTheFileEnd", Program + ImageWithRecord(0x100, 0) + Trailer(ImageMagic, 0x100, 0x100 - 36), true,
     RecordVersion{0x11, 0x11, 0x11, 0x11}},
    {"RecordOneBytePastTheEnd", Program + ImageWithRecord(0x100, 0) + Trailer(ImageMagic, 0x100, 0x100 - 35), true,
     std::nullopt},
    {"RecordOverTheTrailerPastTheEnd", Program + ImageWithRecord(0x100, 0) + Trailer(ImageMagic, 0x100, 0x100), true,
     std::nullopt},
    {"RecordBeforeTheFileStart", ImageWithRecord(0x100, 0) + Trailer(ImageMagic, 0x200, 0), true, std::nullopt},
    {"LengthHuge", ImageWithRecord(0x100, 0) + Trailer(ImageMagic, 0xFFFFFFFF, 0x8000), true, std::nullopt},
    {"RecordOffsetHuge", ImageWithRecord(0x100, 0) + Trailer(ImageMagic, 0x100, 0xFFFFFFFF), true, std::nullopt},
};

class CarriedRecordRead : public test::ImageTest, public testing::WithParamInterface<RecordCase> {};

TEST_P(CarriedRecordRead, VersionOnlyFromBytesRead) {
  const RecordCase& c = GetParam();
  const auto result = ReadCarriedRecord(Write("program", c.file));
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.hasTrailer, c.hasTrailer);
  EXPECT_EQ(result.version, c.version);
  EXPECT_TRUE(std::all_of(TheImage.Data.begin(), TheImage.Data.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(Image, CarriedRecordRead, testing::ValuesIn(RecordCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvr
