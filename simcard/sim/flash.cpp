#include "simcard/sim/flash.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/srecord.h"

namespace qvr::simcard {

void EraseFlash(Flash& flash) { flash.bytes.fill(0xFF); }

void WriteFirmwareRecord(Flash& flash, std::uint8_t status, std::uint8_t major, std::uint8_t minor,
                         std::uint8_t patch) {
  EraseFlash(flash);
  std::uint8_t* record = flash.bytes.data() + ApplicationRecordOffset;
  for (int i = 0; i < 4; ++i) record[ImageRecord::Magic + i] = static_cast<std::uint8_t>(ImageMagic >> (24 - 8 * i));
  record[ImageRecord::Status] = status;
  record[ImageRecord::Major] = major;
  record[ImageRecord::Minor] = minor;
  record[ImageRecord::Patch] = patch;
}

std::optional<std::string> LoadFlashImage(Flash& flash, const std::string& path) {
  ClearImage();
  if (auto message = LoadSRecordFile(path)) return message;
  std::copy(TheImage.Data.begin(), TheImage.Data.end(), flash.bytes.begin());
  return std::nullopt;
}

std::uint32_t FirmwareVersionOf(const Flash& flash) {
  return ReadBigEndian32(flash.bytes.data() + ApplicationRecordOffset + ImageRecord::Status);
}

void StoreBlock(Flash& flash, std::uint32_t address, const std::uint8_t* data) {
  if (address % FlashBlockSize != 0 || address >= FlashSize) return;
  std::copy_n(data, FlashBlockSize, flash.bytes.begin() + address);
}

bool WriteFlashFile(const Flash& flash, const std::string& path, std::string& error) {
  error.clear();
  const std::string temporary = path + ".part";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = temporary + ": " + std::strerror(errno);
    return false;
  }
  std::size_t written = 0;
  while (written < flash.bytes.size()) {
    const ssize_t n = write(fd, flash.bytes.data() + written, flash.bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const bool complete = written == flash.bytes.size();
  if (!complete) error = temporary + ": " + std::strerror(errno);
  if (close(fd) != 0 && complete) error = temporary + ": " + std::strerror(errno);
  if (!complete || !error.empty() || rename(temporary.c_str(), path.c_str()) != 0) {
    if (error.empty()) error = path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace qvr::simcard
