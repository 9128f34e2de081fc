#include "tools/image_maker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/carried_image.h"
#include "image/firmware_image.h"

namespace qvr::tool {

namespace {

constexpr std::uint32_t MaxText = ImageRecord::TextFieldSize - 1;
constexpr std::uint32_t SRecordDataBytes = 32;

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// The cleared pattern: what Data holds at `offset` after ClearImage.
std::uint8_t ClearedByte(std::size_t offset) {
  return (offset < ApplicationRecordOffset && offset % 0x1000 == 0) ? 0x00 : 0xFF;
}

void PutBigEndian32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

void PutLittleEndian32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

// The checksum arithmetic of the loader, over a whole 256 KB buffer: signed
// big-endian words, 32-bit wrap-around, an odd range taking the byte at its end.
std::uint32_t Word(const std::vector<std::uint8_t>& d, std::uint32_t p) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(d[p] << 8 | d[p + 1])));
}

std::uint32_t Sum(const std::vector<std::uint8_t>& d, std::uint32_t s, std::uint32_t e) {
  std::uint32_t sum = 0;
  for (std::uint32_t p = s; p < e; p += 2) sum += Word(d, p);
  return sum;
}

// Deterministic content bytes (splitmix64).
class Content {
 public:
  explicit Content(std::uint32_t seed) : state_(seed) {}
  std::uint8_t Next() {
    if (left_ == 0) {
      std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      bits_ = z ^ (z >> 31);
      left_ = 8;
    }
    --left_;
    const auto byte = static_cast<std::uint8_t>(bits_);
    bits_ >>= 8;
    return byte;
  }

 private:
  std::uint64_t state_;
  std::uint64_t bits_ = 0;
  int left_ = 0;
};

void WriteRecord(std::vector<std::uint8_t>& d, std::uint32_t at, const ImageSpec& spec, std::uint32_t length) {
  std::uint8_t* r = d.data() + at;
  std::fill(r, r + ImageRecordSize, 0);
  PutBigEndian32(r + ImageRecord::Magic, ImageMagic);
  PutBigEndian32(r + ImageRecord::Length, length);
  r[ImageRecord::Status] = spec.status;
  r[ImageRecord::Major] = spec.major;
  r[ImageRecord::Minor] = spec.minor;
  r[ImageRecord::Patch] = spec.patch;
  std::memcpy(r + ImageRecord::Date, spec.date.data(), spec.date.size());
  std::memcpy(r + ImageRecord::Time, spec.time.data(), spec.time.size());
}

char HexDigit(unsigned v) { return "0123456789ABCDEF"[v & 0xF]; }

void AppendRecord(std::string& out, char type, std::uint32_t address, unsigned addressBytes, const std::uint8_t* data,
                  std::size_t count) {
  std::uint8_t bytes[1 + 4 + 255];
  std::size_t n = 0;
  bytes[n++] = static_cast<std::uint8_t>(addressBytes + count + 1);
  for (unsigned i = addressBytes; i-- > 0;) bytes[n++] = static_cast<std::uint8_t>(address >> (8 * i));
  for (std::size_t i = 0; i < count; ++i) bytes[n++] = data[i];
  unsigned sum = 0;
  out += 'S';
  out += type;
  for (std::size_t i = 0; i < n; ++i) {
    sum += bytes[i];
    out += HexDigit(bytes[i] >> 4);
    out += HexDigit(bytes[i]);
  }
  const unsigned checksum = ~sum & 0xFF;
  out += HexDigit(checksum >> 4);
  out += HexDigit(checksum);
  out += '\n';
}

// Reads the whole of a regular file; the reason when it cannot.
std::optional<std::string> ReadProgram(const std::string& path, struct stat& st, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::optional<std::string> problem;
  if (::fstat(fd, &st) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    problem = "not a regular file";
  } else {
    char buffer[64 * 1024];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) problem = std::strerror(errno);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return problem;
}

}  // namespace

std::optional<std::string> CheckSpec(const ImageSpec& spec) {
  const bool kernel = spec.kernel || spec.kernelCopy;
  if (spec.date.size() > MaxText || spec.date.find('\0') != std::string::npos)
    return "date text longer than 15 characters";
  if (spec.time.size() > MaxText || spec.time.find('\0') != std::string::npos)
    return "time text longer than 15 characters";
  if (spec.size < ApplicationRecordOffset + ImageRecordSize || spec.size > ImageSize)
    return "size must be between 0x8030 and 0x40000";
  if (kernel && (spec.kernelSize < KernelRecordOffset + ImageRecordSize || spec.kernelSize > ApplicationRecordOffset))
    return "kernel size must be between 0x1030 and 0x8000";
  if (spec.kernelCopy && std::uint64_t{spec.size} + spec.kernelSize > ImageSize)
    return "size and kernel copy together exceed 0x40000";
  return std::nullopt;
}

std::vector<std::uint8_t> MakeImage(const ImageSpec& spec) {
  if (CheckSpec(spec)) return {};
  const bool kernel = spec.kernel || spec.kernelCopy;
  const std::uint32_t la = spec.size;
  const std::uint32_t lk = kernel ? spec.kernelSize : 0;
  const std::uint32_t length = spec.kernelCopy ? la + lk : la;

  // The whole buffer as the loader holds it; bytes past the image stay 0xFF.
  std::vector<std::uint8_t> d(ImageSize, 0xFF);
  for (std::uint32_t p = 0; p < ApplicationRecordOffset; ++p) d[p] = ClearedByte(p);
  Content content(spec.seed);
  for (std::uint32_t p = 0; p < lk; ++p) d[p] = content.Next();
  for (std::uint32_t p = ApplicationRecordOffset; p < la; ++p) d[p] = content.Next();
  WriteRecord(d, ApplicationRecordOffset, spec, la);

  if (!kernel) {
    PutBigEndian32(d.data() + 0x8004, Sum(d, 0, la));  // the checksum field is zero while summing
  } else {
    WriteRecord(d, KernelRecordOffset, spec, lk);
    // The kernel copy is in place before the application is summed: an odd
    // L_A takes its first byte into the last word.
    if (spec.kernelCopy) std::copy_n(d.begin(), lk, d.begin() + la);
    PutBigEndian32(d.data() + 0x8004, Word(d, 0x800C) + Word(d, 0x800E) + Sum(d, 0x8030, la));
    PutBigEndian32(d.data() + 0x1004, Sum(d, 0, 0x1000) + Word(d, 0x100C) + Word(d, 0x100E) + Sum(d, 0x1030, lk));
    if (spec.kernelCopy) std::copy_n(d.begin(), lk, d.begin() + la);
  }
  d.resize(length);
  return d;
}

std::string ToSRecords(const std::vector<std::uint8_t>& image) {
  const bool wide = image.size() > 0x10000;
  const unsigned addressBytes = wide ? 3 : 2;
  std::string out;
  out.reserve(image.size() * 5 / 2 + 64);
  static const char header[] = "qvr-image";
  AppendRecord(out, '0', 0, 2, reinterpret_cast<const std::uint8_t*>(header), sizeof header - 1);
  for (std::size_t at = 0; at < image.size(); at += SRecordDataBytes) {
    const std::size_t count = std::min<std::size_t>(SRecordDataBytes, image.size() - at);
    AppendRecord(out, wide ? '2' : '1', static_cast<std::uint32_t>(at), addressBytes, image.data() + at, count);
  }
  AppendRecord(out, wide ? '8' : '9', 0, addressBytes, nullptr, 0);
  return out;
}

bool WriteSRecordFile(const std::string& path, const ImageSpec& spec, std::string* error) {
  if (const auto refused = CheckSpec(spec)) {
    SetError(error, *refused);
    return false;
  }
  return WriteFileAtomically(path, ToSRecords(MakeImage(spec)), 0644, error);
}

bool PackImage(const std::string& program, const std::vector<std::uint8_t>& image, std::uint32_t recordOffset,
               const std::string& out, std::string* error) {
  if (image.size() > ImageSize) {
    SetError(error, "image longer than 0x40000 bytes");
    return false;
  }
  if (recordOffset > ImageSize - ImageRecordSize) {
    SetError(error, "record offset outside the image buffer");
    return false;
  }
  struct stat st {};
  std::string bytes;
  if (const auto problem = ReadProgram(program, st, bytes)) {
    SetError(error, "cannot read <" + program + ">: " + *problem);
    return false;
  }

  // An image the program already carries is replaced, trailer and all.
  if (bytes.size() >= ImageTrailerSize) {
    const auto* t = reinterpret_cast<const std::uint8_t*>(bytes.data() + bytes.size() - ImageTrailerSize);
    const ImageTrailer old{ReadLittleEndian32(t), ReadLittleEndian32(t + 4), ReadLittleEndian32(t + 8)};
    if (old.magic == ImageMagic && TrailerFits(old, bytes.size())) bytes.resize(bytes.size() - ImageTrailerSize - old.length);
  }

  bytes.append(reinterpret_cast<const char*>(image.data()), image.size());
  std::uint8_t trailer[ImageTrailerSize];
  PutLittleEndian32(trailer, ImageMagic);
  PutLittleEndian32(trailer + 4, static_cast<std::uint32_t>(image.size()));
  PutLittleEndian32(trailer + 8, recordOffset);
  bytes.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  return WriteFileAtomically(out, bytes, st.st_mode & 07777, error);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, unsigned mode, std::string* error) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    SetError(error, "cannot write <" + path + ">: " + std::strerror(errno));
    return false;
  }
  bool ok = true;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  int saved = ok ? 0 : errno;
  if (ok && (::fchmod(fd, static_cast<mode_t>(mode)) != 0 || ::fsync(fd) != 0)) ok = false, saved = errno;
  if (::close(fd) != 0 && ok) ok = false, saved = errno;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false, saved = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    SetError(error, "cannot write <" + path + ">: " + std::strerror(saved));
  }
  return ok;
}

}  // namespace qvr::tool
