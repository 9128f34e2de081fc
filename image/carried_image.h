// Reading the image that an executable carries after its own bytes, marked
// by a 12-byte little-endian trailer (magic, length L, record offset R).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/firmware_image.h"

namespace qvr {

enum class CarriedImageOutcome {
  CannotOpen,   // the file could not be opened
  NoImage,      // no trailer magic, or a trailer whose L or R do not fit (see below)
  Loaded,       // Data, LoadedLength and CurrentRecord now describe the image
};

struct CarriedImageResult {
  CarriedImageOutcome outcome = CarriedImageOutcome::NoImage;
  bool hasTrailer = false;  // the last 12 bytes begin with the trailer magic
  ImageTrailer trailer;     // as read; meaningful when hasTrailer is true
};

// True when a trailer read from the end of a file of `fileSize` bytes
// describes an image that can be read into Data: L <= 0x40000,
// L + 12 <= fileSize, and R + 48 <= 0x40000.
bool TrailerFits(const ImageTrailer& trailer, std::uint64_t fileSize);

// Reads the trailer of `path` and, when it carries an image, reads the L image
// bytes into TheImage.Data from offset 0 and sets LoadedLength = L and
// CurrentRecord = R. Data is not filled first: the caller decides the fill.
// A trailer with L > 0x40000, L + 12 beyond the file's length, or R that does
// not leave the whole 48-byte record inside Data counts as NoImage and touches
// nothing. A short read leaves the rest of Data as it was.
CarriedImageResult ReadCarriedImage(const std::string& path);

// Reads only the trailer and the 48-byte record of `path`, as the startup
// check does. Empty when the file cannot be opened (opened == false) or
// carries no readable record.
struct CarriedRecord {
  bool opened = false;
  bool hasTrailer = false;       // last 12 bytes begin with the trailer magic
  std::optional<RecordVersion> version;  // set only when all 48 bytes were read
};
CarriedRecord ReadCarriedRecord(const std::string& path);

}  // namespace qvr
