#include "image/firmware_image.h"

#include <cstdio>
#include <cstring>

namespace qvr {

FirmwareImage TheImage;

namespace {

// Gives TheImage its program-start state before main runs.
struct InitialImage {
  InitialImage() { ResetImage(); }
} const initialImage;

bool RecordFits(std::uint32_t recordOffset) {
  return recordOffset <= ImageSize - ImageRecordSize;
}

std::string TextField(std::uint32_t recordOffset, std::uint32_t field) {
  if (!RecordFits(recordOffset)) return {};
  const auto* begin = reinterpret_cast<const char*>(TheImage.Data.data() + recordOffset + field);
  // A field without a zero byte ends with the field: never past the record.
  const void* zero = std::memchr(begin, 0, ImageRecord::TextFieldSize);
  const auto* end = zero ? static_cast<const char*>(zero) : begin + ImageRecord::TextFieldSize;
  return std::string(begin, end);
}

}  // namespace

void ResetImage() {
  TheImage.Data.fill(0xFF);
  TheImage.LoadedLength = 0;
  TheImage.CurrentRecord.reset();
}

void ClearImage() {
  TheImage.Data.fill(0xFF);
  for (std::uint32_t page = 0; page < ApplicationRecordOffset; page += 0x1000) TheImage.Data[page] = 0;
}

bool IsImageEmpty() {
  return TheImage.Data[0] == 0xFF && TheImage.Data[1] == 0xFF && TheImage.Data[2] == 0xFF &&
         TheImage.Data[3] == 0xFF;
}

const char* StatusName(std::uint32_t value) {
  switch (value) {
    case 0: return "Special";
    case 1: return "Development";
    case 2: return "Alpha Test";
    case 3: return "Beta Test";
    case 4: return "Full Release";
    default: return "Unknown";
  }
}

RecordVersion RecordVersionAt(std::uint32_t recordOffset) {
  if (!RecordFits(recordOffset)) return {};
  const std::uint8_t* r = TheImage.Data.data() + recordOffset;
  return {r[ImageRecord::Status], r[ImageRecord::Major], r[ImageRecord::Minor], r[ImageRecord::Patch]};
}

std::string RecordDateText(std::uint32_t recordOffset) { return TextField(recordOffset, ImageRecord::Date); }

std::string RecordTimeText(std::uint32_t recordOffset) { return TextField(recordOffset, ImageRecord::Time); }

std::string VersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  char text[48];
  std::snprintf(text, sizeof text, "%d.%d.%d", static_cast<int>(major), static_cast<int>(minor),
                static_cast<int>(patch));
  return text;
}

std::string BuildText(const std::string& date, const std::string& time) {
  return "on  " + date + "  at  " + time + "\n";
}

std::string RegisteredImageText(const RecordVersion& v) {
  return std::string(StatusName(v.status)) + " - version " + VersionText(v.major, v.minor, v.patch);
}

std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

}  // namespace qvr
