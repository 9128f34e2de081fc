#include "image/carried_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qvr {

namespace {

class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // Size from the end-of-file position; -1 when it cannot be had.
  std::int64_t Size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
  }

  // Reads up to `count` bytes at `offset`; the number read.
  std::size_t ReadAt(std::int64_t offset, void* into, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(fd_, static_cast<char*>(into) + done, count - done, offset + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

 private:
  int fd_;
};

// Reads the trailer at the end of `file`; none when the file is shorter than
// a trailer, the read falls short, or the magic does not match.
std::optional<ImageTrailer> ReadTrailer(const OpenFile& file, std::int64_t size) {
  if (size < ImageTrailerSize) return std::nullopt;
  std::uint8_t bytes[ImageTrailerSize];
  if (file.ReadAt(size - ImageTrailerSize, bytes, sizeof bytes) != sizeof bytes) return std::nullopt;
  const ImageTrailer trailer{ReadLittleEndian32(bytes), ReadLittleEndian32(bytes + 4), ReadLittleEndian32(bytes + 8)};
  if (trailer.magic != ImageMagic) return std::nullopt;
  return trailer;
}

}  // namespace

bool TrailerFits(const ImageTrailer& trailer, std::uint64_t fileSize) {
  return trailer.length <= ImageSize && std::uint64_t{trailer.length} + ImageTrailerSize <= fileSize &&
         trailer.recordOffset <= ImageSize - ImageRecordSize;
}

CarriedImageResult ReadCarriedImage(const std::string& path) {
  CarriedImageResult result;
  const OpenFile file(path);
  if (!file.IsOpen()) {
    result.outcome = CarriedImageOutcome::CannotOpen;
    return result;
  }
  const std::int64_t size = file.Size();
  const auto trailer = ReadTrailer(file, size);
  if (!trailer) return result;
  result.hasTrailer = true;
  result.trailer = *trailer;
  if (!TrailerFits(*trailer, static_cast<std::uint64_t>(size))) return result;

  file.ReadAt(size - ImageTrailerSize - trailer->length, TheImage.Data.data(), trailer->length);
  TheImage.LoadedLength = trailer->length;
  TheImage.CurrentRecord = trailer->recordOffset;
  result.outcome = CarriedImageOutcome::Loaded;
  return result;
}

CarriedRecord ReadCarriedRecord(const std::string& path) {
  CarriedRecord result;
  const OpenFile file(path);
  if (!file.IsOpen()) return result;
  result.opened = true;
  const std::int64_t size = file.Size();
  const auto trailer = ReadTrailer(file, size);
  if (!trailer) return result;
  result.hasTrailer = true;

  // The record lies R - L - 12 bytes from the end; it counts only when all
  // 48 bytes are there to read.
  const std::int64_t position =
      size + std::int64_t{trailer->recordOffset} - std::int64_t{trailer->length} - ImageTrailerSize;
  if (position < 0 || position > size - ImageRecordSize) return result;
  std::uint8_t record[ImageRecordSize];
  if (file.ReadAt(position, record, sizeof record) != sizeof record) return result;
  result.version = RecordVersion{record[ImageRecord::Status], record[ImageRecord::Major], record[ImageRecord::Minor],
                                 record[ImageRecord::Patch]};
  return result;
}

}  // namespace qvr
