#include "image/srecord.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "image/firmware_image.h"
#include "image_test_support.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

struct DigitCase {
  char c;
  int value;
};

class HexDigits : public testing::TestWithParam<DigitCase> {};

TEST_P(HexDigits, ValueOfCharacter) { EXPECT_EQ(HexDigitValue(GetParam().c), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Image, HexDigits,
                         testing::Values(DigitCase{'0', 0}, DigitCase{'9', 9}, DigitCase{'A', 10}, DigitCase{'F', 15},
                                         DigitCase{'a', 10}, DigitCase{'f', 15}, DigitCase{'G', 16},
                                         DigitCase{'g', 16}, DigitCase{'@', 9}, DigitCase{' ', 9},
                                         DigitCase{'?', 24}, DigitCase{'\n', 19}, DigitCase{'\0', 9},
                                         DigitCase{static_cast<char>(0x80), 9},
                                         DigitCase{static_cast<char>(0xFF), 24}));

// One record line: type, then address and data as hex text; the count and
// checksum are worked out here.
std::string Rec(char type, const std::string& body, int checksumError = 0) {
  unsigned sum = static_cast<unsigned>(body.size() / 2 + 1);
  for (std::size_t i = 0; i + 1 < body.size(); i += 2) sum += std::stoul(body.substr(i, 2), nullptr, 16);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%02X", (~sum + checksumError) & 0xFF);
  char count[8];
  std::snprintf(count, sizeof count, "%02X", static_cast<unsigned>(body.size() / 2 + 1));
  return std::string("S") + type + count + body + tail + "\n";
}

struct Byte {
  std::uint32_t at;
  std::uint8_t value;
};

struct LoadCase {
  const char* name;
  std::string content;
  std::optional<std::string> message;  // '@' stands for the path
  std::uint32_t loadedLength;
  std::vector<Byte> bytes;  // checked after the load, which ran on a cleared buffer
};

// Test names carry the case; values print as its name.
inline void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

// Lower-case digits; the record mark stays.
std::string Lower(std::string s) {
  for (std::size_t i = 1; i < s.size(); ++i) s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
  return s;
}

std::string Crlf(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

const std::string Data8000 = Rec('1', "8000" "0102030405");
const std::string Data0000 = Rec('1', "0000" "AABB");
const std::string LongTail = std::string(300, 'x');

const LoadCase Cases[] = {
    {"EmptyFile", "", std::nullopt, 0, {{0, 0x00}, {1, 0xFF}}},
    {"OneDataRecord", Data8000, std::nullopt, 0x8005, {{0x8000, 1}, {0x8004, 5}, {0x8005, 0xFF}}},
    {"HeaderAndEndRecordsStoreNothing", Rec('0', "0000" "414243") + Rec('9', "0000") + Rec('8', "000000"),
     std::nullopt, 0, {{0, 0x00}, {0x4142, 0xFF}}},
    {"TwentyFourBitAddress", Rec('2', "03FFFC" "11223344"), std::nullopt, 0x40000, {{0x3FFFC, 0x11}, {0x3FFFF, 0x44}}},
    {"LowerCaseDigits", Lower(Rec('1', "8000" "DEADBEEF")), std::nullopt, 0x8004, {{0x8000, 0xDE}, {0x8003, 0xEF}}},
    {"CarriageReturnLineFeed", Crlf(Rec('1', "8000" "DEADBEEF") + Rec('1', "0000" "1234")), std::nullopt, 0x8004,
     {{0x8000, 0xDE}, {0, 0x12}, {1, 0x34}}},
    {"LastLineWithoutLineFeed", Data0000 + Rec('1', "8000" "DEADBEEF").substr(0, 18), std::nullopt, 0x8004, {{0x8003, 0xEF}}},
    {"CtrlZEndsTheFile", Data8000 + "\x1A" "garbage\n", std::nullopt, 0x8005, {{0x8000, 1}}},
    {"CtrlZMidLineEndsTheFile", Data0000 + "S1078000DE\x1A" "ADBEEFBC\n", "Invalid line in <@>:\nS1078000DE\n",
     2, {{0, 0xAA}}},
    {"LaterRecordsOverwrite", Data8000 + Rec('1', "8001" "FF"), std::nullopt, 0x8005, {{0x8001, 0xFF}}},
    {"LengthIsTheHighestEndInAnyOrder", Data8000 + Data0000, std::nullopt, 0x8005, {{0, 0xAA}, {1, 0xBB}}},
    {"RecordWithoutDataNeverMeetsTheAddressTest", Rec('1', "FFFF") + Rec('2', "FFFFFF"), std::nullopt, 0, {}},
    // Digits that are no hex digits add their values into higher places.
    {"OtherCharactersCarry", "S1040G00GGDB\n", std::nullopt, 0x1001, {{0x1000, 0x10}}},
    {"EmptyLine", Data0000 + "\n" + Data8000, "Invalid line in <@>:\n\n\n", 2, {{0, 0xAA}}},
    {"EmptyLineAtTheEnd", Data8000 + "\n", "Invalid line in <@>:\n\n\n", 0x8005, {}},
    {"NotAnSRecord", "hello\n", "Invalid line in <@>:\nhello\n\n", 0, {}},
    {"LeadingBlank", " " + Data8000, "Invalid line in <@>:\n " + Data8000 + "\n", 0, {}},
    {"HeaderChecksumWrong", Rec('0', "0000" "41", 1), "Checksum fail in <@> (100):\n" + Rec('0', "0000" "41", 1) + "\n",
     0, {}},
    {"EndChecksumWrong", Rec('9', "0000", 2), "Checksum fail in <@> (101):\n" + Rec('9', "0000", 2) + "\n", 0, {}},
    {"End24ChecksumWrong", Rec('8', "000000", 1), "Checksum fail in <@> (100):\n" + Rec('8', "000000", 1) + "\n", 0,
     {}},
    {"WholeSumReported", "S1058000FFFFFE\n", "Checksum fail in <@> (381):\nS1058000FFFFFE\n\n", 0, {}},
    {"DataChecksumWrongStoresNothing", Rec('1', "0000" "1234", 1), "Checksum fail in <@> (100):\n" +
     Rec('1', "0000" "1234", 1) + "\n", 0, {{0, 0x00}}},
    {"TypeThree", Rec('3', "00008000" "01"), "Unrecognised line in <@>:\n" + Rec('3', "00008000" "01") + "\n", 0, {}},
    {"TypeThreeChecksumFirst", Rec('3', "00008000" "01", 1),
     "Checksum fail in <@> (100):\n" + Rec('3', "00008000" "01", 1) + "\n", 0, {}},
    {"TypeFive", Rec('5', "0003"), "Unrecognised line in <@>:\n" + Rec('5', "0003") + "\n", 0, {}},
    {"IllegalAddressAfterTwoBytes", Data0000 + Rec('2', "03FFFE" "01020304"),
     "Illegal address in <@> (40000):\n" + Rec('2', "03FFFE" "01020304") + "\n", 0x40000,
     {{0x3FFFE, 1}, {0x3FFFF, 2}, {0, 0xAA}}},
    {"IllegalAddressFar", Rec('2', "FFFFF0" "01"), "Illegal address in <@> (fffff0):\n" + Rec('2', "FFFFF0" "01") + "\n",
     0, {}},
    {"ShortLineCRLFStillQuotedWithLineFeed", "S1\r\n", "Invalid line in <@>:\nS1\n\n", 0, {}},
    // Lines too short for their count are broken lines; nothing past them is read.
    {"CountPastTheLine", "S1130000\n", "Invalid line in <@>:\nS1130000\n\n", 0, {}},
    {"CountPastTheLineByOne", "S10500001234B\n", "Invalid line in <@>:\nS10500001234B\n\n", 0, {}},
    {"OnlyTheMark", "S", "Invalid line in <@>:\nS\n", 0, {}},
    {"CountWithoutDigits", "S1\n", "Invalid line in <@>:\nS1\n\n", 0, {}},
    {"TextEndsAtAZeroByte", std::string("S10500\0" "001234B4\n", 16), "Invalid line in <@>:\nS10500\n", 0, {}},
    {"CountOf127InALongLine", "S17F" + std::string(300, '0') + "\n", "Invalid line in <@>:\nS17F" + std::string(251, '0') + "\n",
     0, {}},
    // A line over 255 characters arrives in pieces; the rest is judged as a line.
    {"LongLineRestIsALine", Rec('1', "0000" "1234").substr(0, 14) + LongTail + "\n",
     "Invalid line in <@>:\n" + std::string(300 - 241, 'x') + "\n\n", 2, {{0, 0x12}, {1, 0x34}}},
    {"LineOf255CharactersThenLineFeed", Rec('9', "0000").substr(0, 10) + std::string(245, ' ') + "\n",
     "Invalid line in <@>:\n\n\n", 0, {}},
    {"LineOf254CharactersAndLineFeed", Rec('9', "0000").substr(0, 10) + std::string(244, ' ') + "\n", std::nullopt, 0,
     {}},
    {"LoneCarriageReturnStays", "S1050000\r1234B4\n", "Checksum fail in <@> (1d4):\nS1050000\r1234B4\n\n", 0, {}},
    {"CarriageReturnBeforeCarriageReturnLineFeed", "\r\r\n", "Invalid line in <@>:\n\r\n\n", 0, {}},
};

class SRecordLoad : public test::ImageTest, public testing::WithParamInterface<LoadCase> {};

std::string WithPath(std::string text, const std::string& path) {
  for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + path.size()))
    text.replace(at, 1, path);
  return text;
}

TEST_P(SRecordLoad, MessageLengthAndBytes) {
  const LoadCase& c = GetParam();
  const std::string path = Write("image.q37", c.content);
  ClearImage();
  TheImage.LoadedLength = 12345;
  const auto message = LoadSRecordFile(path);
  if (c.message) EXPECT_EQ(message, WithPath(*c.message, path));
  else EXPECT_EQ(message, std::nullopt);
  EXPECT_EQ(TheImage.LoadedLength, c.loadedLength);
  for (const Byte& b : c.bytes) EXPECT_EQ(TheImage.Data[b.at], b.value) << "at 0x" << std::hex << b.at;
}

INSTANTIATE_TEST_SUITE_P(Image, SRecordLoad, testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

using SRecordFile = test::ImageTest;

TEST_F(SRecordFile, ThatCannotBeOpenedIsReportedWithTheReason) {
  struct {
    std::string path, reason;
  } cases[] = {{PathOf("missing.q37"), "No such file or directory"},
               {"", "No such file or directory"},
               {dir_.string(), "Is a directory"}};
  for (const auto& c : cases) {
    TheImage.LoadedLength = 5;
    EXPECT_EQ(LoadSRecordFile(c.path), "Could not open <" + c.path + "> - " + c.reason + "\n");
    EXPECT_EQ(TheImage.LoadedLength, 0u);
  }
}

// Whole images, also where line ends, a CR LF pair or a Ctrl-Z fall on the
// boundaries of the reader's blocks: CR LF files load like LF files.
TEST_F(SRecordFile, CarriageReturnsAnywhereInALargeFile) {
  const auto image = tool::MakeImage({.kernelCopy = true, .size = 0x30001, .seed = 9});
  const std::string lf = tool::ToSRecords(image);
  const std::string crlf = Crlf(lf);
  for (std::size_t pad = 0; pad < 3; ++pad) {
    // Padding of 0 to 2 characters in a leading header record shifts everything after it.
    const std::string header = Rec('0', "0000" + std::string(2 * pad + 2, '4'));
    for (const bool withCr : {false, true}) {
      const std::string content = withCr ? Crlf(header) + crlf : header + lf;
      ClearImage();
      ASSERT_EQ(LoadSRecordFile(Write("big.q37", content + "\x1A" "garbage\n")), std::nullopt) << pad;
      ASSERT_EQ(TheImage.LoadedLength, image.size());
      ASSERT_TRUE(std::equal(image.begin(), image.end(), TheImage.Data.begin())) << pad;
    }
  }
}

// Lines of 254 characters fill their 255-character piece only when the CR of
// their CR LF is dropped: wherever the file's blocks are cut, also between
// the CR and the LF, every line must load.
TEST_F(SRecordFile, CarriageReturnLineFeedSplitAnywhere) {
  const auto line = [](std::size_t characters) {
    return "S9030000FC" + std::string(characters - 10, ' ') + "\r\n";
  };
  std::string body;
  for (int i = 0; i < 300; ++i) body += line(254);
  for (std::size_t shift = 0; shift < 256; ++shift) {
    // Two leading lines move every later CR LF pair along by one byte per shift.
    const std::size_t prefix = 257 + shift;
    const std::string content = line(prefix / 2 - 2) + line(prefix - prefix / 2 - 2) + body;
    ASSERT_EQ(LoadSRecordFile(Write("split.q37", content)), std::nullopt) << shift;
  }
}

}  // namespace
}  // namespace qvr
