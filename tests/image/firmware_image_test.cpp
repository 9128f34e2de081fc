#include <gtest/gtest.h>

#include <cstring>

#include "image/firmware_image.h"
#include "image_test_support.h"

namespace qvr {
namespace {

using test::ImageTest;

struct StatusCase {
  std::uint32_t value;
  const char* name;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class StatusNames : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusNames, NameOfValue) { EXPECT_STREQ(StatusName(GetParam().value), GetParam().name); }

INSTANTIATE_TEST_SUITE_P(Image, StatusNames,
                         testing::Values(StatusCase{0, "Special"}, StatusCase{1, "Development"},
                                         StatusCase{2, "Alpha Test"}, StatusCase{3, "Beta Test"},
                                         StatusCase{4, "Full Release"}, StatusCase{5, "Unknown"},
                                         StatusCase{255, "Unknown"}, StatusCase{256, "Unknown"},
                                         StatusCase{0xFFFFFFFF, "Unknown"}));

using ImageBuffer = ImageTest;

TEST_F(ImageBuffer, ResetGivesTheStartState) {
  TheImage.Data[0x12345] = 0;
  TheImage.LoadedLength = 7;
  TheImage.CurrentRecord = 0x8000;
  ResetImage();
  EXPECT_TRUE(std::all_of(TheImage.Data.begin(), TheImage.Data.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(TheImage.LoadedLength, 0u);
  EXPECT_FALSE(TheImage.CurrentRecord);
  EXPECT_TRUE(IsImageEmpty());
}

TEST_F(ImageBuffer, ClearWritesZeroAtEachPageStartBelowTheApplicationRecord) {
  TheImage.Data.fill(0x5A);
  TheImage.LoadedLength = 99;
  TheImage.CurrentRecord = 0x1000;
  ClearImage();
  for (std::uint32_t i = 0; i < ImageSize; ++i) {
    const bool pageStart = i < 0x8000 && i % 0x1000 == 0;
    ASSERT_EQ(TheImage.Data[i], pageStart ? 0x00 : 0xFF) << "offset " << std::hex << i;
  }
  EXPECT_EQ(TheImage.LoadedLength, 99u);
  EXPECT_EQ(TheImage.CurrentRecord, 0x1000u);
  EXPECT_FALSE(IsImageEmpty());
}

TEST_F(ImageBuffer, EmptyOnlyWhileTheFirstFourBytesAreAllFF) {
  for (int i = 0; i < 4; ++i) {
    ResetImage();
    TheImage.Data[i] = 0xFE;
    EXPECT_FALSE(IsImageEmpty()) << i;
  }
  ResetImage();
  TheImage.Data[4] = 0;
  EXPECT_TRUE(IsImageEmpty());
}

using RecordFields = ImageTest;

void PutRecord(std::uint32_t at, std::initializer_list<std::uint8_t> version, const char* date, const char* time) {
  std::copy(version.begin(), version.end(), TheImage.Data.begin() + at + ImageRecord::Status);
  std::memcpy(TheImage.Data.data() + at + ImageRecord::Date, date, std::strlen(date) + 1);
  std::memcpy(TheImage.Data.data() + at + ImageRecord::Time, time, std::strlen(time) + 1);
}

TEST_F(RecordFields, AreReadFromDataAtTheRecordPosition) {
  PutRecord(0x8000, {2, 1, 0, 12}, "Mar  3 2026", "09:41:07");
  const RecordVersion v = RecordVersionAt(0x8000);
  EXPECT_EQ(v, (RecordVersion{2, 1, 0, 12}));
  EXPECT_STREQ(StatusName(v.status), "Alpha Test");
  EXPECT_EQ(VersionText(v.major, v.minor, v.patch), "1.0.12");
  EXPECT_EQ(RecordDateText(0x8000), "Mar  3 2026");
  EXPECT_EQ(RecordTimeText(0x8000), "09:41:07");
  EXPECT_EQ(RegisteredImageText(v), "Alpha Test - version 1.0.12");
  // A position, not a copy: a change in Data shows at once.
  TheImage.Data[0x8000 + ImageRecord::Patch] = 13;
  EXPECT_EQ(RecordVersionAt(0x8000).patch, 13);
}

TEST_F(RecordFields, TextWithoutZeroByteEndsWithItsField) {
  std::fill_n(TheImage.Data.begin() + 0x8000 + ImageRecord::Date, 16, 'D');
  std::fill_n(TheImage.Data.begin() + 0x8000 + ImageRecord::Time, 16, 'T');
  EXPECT_EQ(RecordDateText(0x8000), std::string(16, 'D'));
  EXPECT_EQ(RecordTimeText(0x8000), std::string(16, 'T'));
  // The last record that fits: its time field ends at the end of Data.
  const std::uint32_t last = ImageSize - ImageRecordSize;
  std::fill_n(TheImage.Data.begin() + last + ImageRecord::Time, 16, 'Z');
  EXPECT_EQ(RecordTimeText(last), std::string(16, 'Z'));
}

TEST_F(RecordFields, PositionsThatDoNotHoldAWholeRecordReadNothing) {
  for (std::uint32_t at : {ImageSize - ImageRecordSize + 1, ImageSize, 0xFFFFFFF0u}) {
    EXPECT_EQ(RecordVersionAt(at), RecordVersion{}) << at;
    EXPECT_EQ(RecordDateText(at), "") << at;
    EXPECT_EQ(RecordTimeText(at), "") << at;
  }
}

struct TextCase {
  std::string got, want;
};

// Test names carry the case; values print as its name.
inline void PrintTo(const TextCase& c, std::ostream* os) { *os << c.want; }

class TextForms : public testing::TestWithParam<TextCase> {};

TEST_P(TextForms, Exact) { EXPECT_EQ(GetParam().got, GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    Image, TextForms,
    testing::Values(TextCase{VersionText(1, 0, 12), "1.0.12"}, TextCase{VersionText(255, 255, 255), "255.255.255"},
                    TextCase{VersionText(0, 0, 0), "0.0.0"},
                    TextCase{BuildText("Dec 11 2026", "12:00:00"), "on  Dec 11 2026  at  12:00:00\n"},
                    TextCase{BuildText("", ""), "on    at  \n"},
                    TextCase{RegisteredImageText({4, 2, 3, 4}), "Full Release - version 2.3.4"},
                    TextCase{RegisteredImageText({9, 0, 1, 0}), "Unknown - version 0.1.0"}));

struct EndianCase {
  std::uint8_t bytes[4];
  std::uint32_t big, little;
};

TEST(ByteOrder, BigAndLittleEndianReads) {
  const EndianCase cases[] = {{{0xAA, 0x8D, 0x4A, 0x8C}, 0xAA8D4A8C, 0x8C4A8DAA},
                              {{0x8C, 0x4A, 0x8D, 0xAA}, 0x8C4A8DAA, ImageMagic},
                              {{0x00, 0x00, 0x00, 0x01}, 1, 0x01000000}};
  for (const auto& c : cases) {
    EXPECT_EQ(ReadBigEndian32(c.bytes), c.big);
    EXPECT_EQ(ReadLittleEndian32(c.bytes), c.little);
  }
}

}  // namespace
}  // namespace qvr
