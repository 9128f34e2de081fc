// Making firmware images for tests, benchmarks and the qvr-image tool: image
// bytes with correct records and checksums, their S-record text, and
// executables that carry an image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr::tool {

struct ImageSpec {
  std::uint8_t status = 4, major = 1, minor = 0, patch = 0;
  std::string date = "Dec 11 2026", time = "12:00:00";  // at most 15 characters each
  bool kernel = false;       // kernel record at 0x1000, kernel region 0 .. kernelSize
  bool kernelCopy = false;   // copy of the kernel region after the application (implies kernel)
  std::uint32_t size = 0x10000;  // application length L_A
  std::uint32_t seed = 1;        // content bytes follow from it
  std::uint32_t kernelSize = 0x4000;  // kernel length L_K (0x1030 .. 0x8000)
};

// Why `spec` cannot be made (for the user), or nothing when it can. The
// application must hold its record and fit, with any kernel copy, in 256 KB.
std::optional<std::string> CheckSpec(const ImageSpec& spec);

// The image bytes: what Data holds from offset 0 after a load of the image,
// by S-records (after ClearImage) as well as carried by an executable (after
// the 0xFF fill); their length is the LoadedLength of such a load and the
// image passes validation. Bytes below 0x8000 outside the kernel hold the
// cleared pattern (0xFF, a zero at each 4 KB page start). Empty when
// CheckSpec refuses the ImageSpec.
std::vector<std::uint8_t> MakeImage(const ImageSpec& spec);

// S-record text of `image`, every byte of it in 32-byte data records: an S0
// header, S1 data records (S2 when the image reaches past 64 KB), and the
// matching S9 or S8 end record.
std::string ToSRecords(const std::vector<std::uint8_t>& image);

// Writes the S-record file of MakeImage(spec) to `path`.
bool WriteSRecordFile(const std::string& path, const ImageSpec& spec, std::string* error = nullptr);

// Writes `out`: the bytes of `program` (less any image it already carries and
// its trailer), then `image`, then the trailer (magic, length, recordOffset).
// `out` gets `program`'s permission bits, so a runnable program stays
// runnable. Written to a temporary file that is renamed over `out`.
bool PackImage(const std::string& program, const std::vector<std::uint8_t>& image, std::uint32_t recordOffset,
               const std::string& out, std::string* error = nullptr);

// Writes `bytes` to `path` through a temporary file and a rename, with the
// permission bits `mode`.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, unsigned mode,
                         std::string* error = nullptr);

}  // namespace qvr::tool
