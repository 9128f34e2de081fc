// The firmware image as the loader holds it: one process-wide 256 KB buffer,
// the 48-byte record that describes an image, the trailer by which an image
// rides at the end of an executable, and the text forms of versions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qvr {

inline constexpr std::uint32_t ImageMagic = 0xAA8D4A8C;
inline constexpr std::uint32_t ImageSize = 0x40000;
inline constexpr std::uint32_t KernelRecordOffset = 0x1000;
inline constexpr std::uint32_t ApplicationRecordOffset = 0x8000;
inline constexpr std::uint32_t ImageRecordSize = 48;
inline constexpr std::uint32_t ImageTrailerSize = 12;

// ImageRecord field offsets (big-endian fields).
namespace ImageRecord {
inline constexpr std::uint32_t Magic = 0;
inline constexpr std::uint32_t Checksum = 4;
inline constexpr std::uint32_t Length = 8;
inline constexpr std::uint32_t Status = 12;
inline constexpr std::uint32_t Major = 13;
inline constexpr std::uint32_t Minor = 14;
inline constexpr std::uint32_t Patch = 15;
inline constexpr std::uint32_t Date = 16;
inline constexpr std::uint32_t Time = 32;
inline constexpr std::uint32_t TextFieldSize = 16;
}  // namespace ImageRecord

// The last 12 bytes of an executable that carries an image (little-endian).
struct ImageTrailer {
  std::uint32_t magic = 0;
  std::uint32_t length = 0;         // L: number of image bytes before the trailer
  std::uint32_t recordOffset = 0;   // R: position of the ImageRecord in the image
};

struct FirmwareImage {
  std::array<std::uint8_t, ImageSize> Data;
  std::uint32_t LoadedLength = 0;
  // Position in Data of the record shown and compared; none until an image
  // is read. Always leaves the whole 48-byte record inside Data when set.
  std::optional<std::uint32_t> CurrentRecord;
};

// The one image of the process. Written on the main thread only; the
// programming worker reads Data during a run.
extern FirmwareImage TheImage;

// Puts TheImage into the state of program start: Data all 0xFF,
// LoadedLength 0, CurrentRecord none.
void ResetImage();

// Fills Data with 0xFF, then writes a zero byte at 0x0000, 0x1000, ... 0x7000.
// Leaves LoadedLength and CurrentRecord alone.
void ClearImage();

// True while the first four bytes of Data are all 0xFF.
bool IsImageEmpty();

// Display name of a release status byte ("Special" ... "Full Release",
// "Unknown" for anything above 4).
const char* StatusName(std::uint32_t value);

// The fields of the record at CurrentRecord, read from Data at each call.
// Callers check TheImage.CurrentRecord first.
struct RecordVersion {
  std::uint8_t status = 0, major = 0, minor = 0, patch = 0;
  bool operator==(const RecordVersion&) const = default;
};
RecordVersion RecordVersionAt(std::uint32_t recordOffset);
// Text fields end at their first zero byte, or after 16 bytes when there is none.
std::string RecordDateText(std::uint32_t recordOffset);
std::string RecordTimeText(std::uint32_t recordOffset);

// Text forms.
std::string VersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t patch);  // "%d.%d.%d"
std::string BuildText(const std::string& date, const std::string& time);                // "on  %s  at  %s\n"
std::string RegisteredImageText(const RecordVersion& v);  // "%s - version %d.%d.%d"

// Byte order helpers for image fields and trailers.
std::uint32_t ReadBigEndian32(const std::uint8_t* p);
std::uint32_t ReadLittleEndian32(const std::uint8_t* p);

}  // namespace qvr
