#include "image/srecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "image/firmware_image.h"

namespace qvr {

namespace {

// '0' to '9' give their low four bits; every other character (taken as a
// signed byte) gives its low four bits plus 9, so 'A'-'F' and 'a'-'f' give
// 10 to 15 and nothing is ever rejected.
constexpr int DigitValue(char c) {
  const int low = static_cast<unsigned char>(c) & 0x0F;
  return (c >= '0' && c <= '9') ? low : low + 9;
}

constexpr std::array<std::uint8_t, 256> DigitTable = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<std::uint8_t>(DigitValue(static_cast<char>(b)));
  return table;
}();

inline std::uint32_t Digit(char c) { return DigitTable[static_cast<unsigned char>(c)]; }

// The value of the two digits at `p`: 16 * first + second (up to 408).
inline std::uint32_t ByteValue(const char* p) { return 16 * Digit(p[0]) + Digit(p[1]); }

// Characters handed out per read: what a 256-character line buffer holds.
constexpr std::size_t PieceLimit = 255;
constexpr char EndOfText = 0x1A;  // Ctrl-Z

// Delivers a file as a text-mode stream does on the loader's platform: a CR
// right before a LF is dropped and a Ctrl-Z ends the file. Hands the text out
// in pieces that end after a line feed or after PieceLimit characters.
class TextFile {
 public:
  explicit TextFile(int fd) : fd_(fd), buffer_(BufferSize) {}

  // False at the end of the text (or after a read error, see Error()).
  bool NextPiece(std::string_view& piece) {
    for (;;) {
      const char* start = buffer_.data() + begin_;
      const std::size_t available = ready_ - begin_;
      std::size_t length = 0;
      if (const void* lf = std::memchr(start, '\n', std::min(available, PieceLimit))) {
        length = static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
      } else if (available >= PieceLimit) {
        length = PieceLimit;
      } else if (ended_) {
        if (available == 0) return false;
        length = available;
      } else {
        Fill();
        continue;
      }
      piece = std::string_view(start, length);
      begin_ += length;
      return true;
    }
  }

  // The error number of a failed read, or 0.
  int Error() const { return error_; }

 private:
  static constexpr std::size_t BufferSize = 64 * 1024;

  void Fill() {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      ready_ -= begin_;
      end_ -= begin_;
      begin_ = 0;
    }
    ssize_t n;
    do n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      error_ = errno;
      ended_ = true;
    } else if (n == 0) {
      ended_ = true;
    } else {
      end_ += static_cast<std::size_t>(n);
    }
    Translate();
  }

  // Turns the raw bytes [ready_, end_) into text. A CR at the very end of
  // what has been read waits for the next byte unless the file has ended.
  void Translate() {
    char* b = buffer_.data();
    if (const void* z = std::memchr(b + ready_, EndOfText, end_ - ready_)) {
      end_ = static_cast<std::size_t>(static_cast<const char*>(z) - b);
      ended_ = true;
    }
    std::size_t in = ready_, out = ready_;
    while (in < end_) {
      const void* cr = std::memchr(b + in, '\r', end_ - in);
      const std::size_t stop = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - b) : end_;
      if (out != in) std::memmove(b + out, b + in, stop - in);
      out += stop - in;
      in = stop;
      if (in == end_) break;
      if (in + 1 == end_ && !ended_) {  // cannot tell yet what follows this CR
        b[out] = '\r';
        ready_ = out;
        end_ = out + 1;
        return;
      }
      if (in + 1 < end_ && b[in + 1] == '\n') {
        ++in;  // dropped
      } else {
        b[out++] = '\r';
        ++in;
      }
    }
    ready_ = end_ = out;
  }

  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first character not handed out yet
  std::size_t ready_ = 0;  // end of the translated text
  std::size_t end_ = 0;    // end of the bytes read
  bool ended_ = false;     // nothing more will be read
  int error_ = 0;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string LineMessage(const char* what, const std::string& path, std::string_view line) {
  std::string message = what;
  message += " in <";
  message += path;
  message += ">:\n";
  message += line;
  message += '\n';
  return message;
}

std::string NumberedLineMessage(const char* what, const std::string& path, std::uint32_t number,
                                std::string_view line) {
  std::string message = what;
  message += " in <";
  message += path;
  message += "> (";
  message += Hex(number);
  message += "):\n";
  message += line;
  message += '\n';
  return message;
}

std::string OpenMessage(const std::string& path, int error) {
  return "Could not open <" + path + "> - " + std::strerror(error) + "\n";
}

// Loads one line into Data. Returns a message for a bad line.
std::optional<std::string> LoadLine(std::string_view piece, const std::string& path, std::uint32_t& loaded) {
  // The line is text: it ends at a zero byte, if the piece holds one.
  const std::string_view line = piece.substr(0, std::min(piece.size(), piece.find('\0')));
  if (line.empty() || line[0] != 'S') return LineMessage("Invalid line", path, line);

  // Digits are read only from the characters before the line feed: a record
  // whose count reaches past them is a broken line.
  const std::size_t characters = line.size() - (line.back() == '\n' ? 1 : 0);
  const char* text = line.data();
  if (characters < 4) return LineMessage("Invalid line", path, line);
  const std::uint32_t count = ByteValue(text + 2);
  const std::size_t checksumEnd = 2 * std::size_t{count} + 4;
  if (checksumEnd > characters) return LineMessage("Invalid line", path, line);

  std::uint32_t sum = 0;
  for (std::size_t i = 2; i < checksumEnd; i += 2) sum += ByteValue(text + i);
  if ((sum & 0xFF) != 0xFF) return NumberedLineMessage("Checksum fail", path, sum, line);

  std::size_t dataStart = 0;
  switch (text[1]) {
    case '0':
    case '8':
    case '9': return std::nullopt;
    case '1': dataStart = 8; break;
    case '2': dataStart = 10; break;
    default: return LineMessage("Unrecognised line", path, line);
  }
  const std::size_t dataEnd = checksumEnd - 2;
  if (dataStart >= dataEnd) return std::nullopt;  // no data bytes: the address plays no part

  std::uint32_t address = 0;
  for (std::size_t i = 4; i < dataStart; ++i) address = address * 16 + Digit(text[i]);
  std::uint8_t* data = TheImage.Data.data();
  for (std::size_t i = dataStart; i < dataEnd; i += 2) {
    if (address >= ImageSize) return NumberedLineMessage("Illegal address", path, address, line);
    data[address] = static_cast<std::uint8_t>(ByteValue(text + i));
    ++address;
    if (address > loaded) loaded = address;
  }
  return std::nullopt;
}

}  // namespace

int HexDigitValue(char c) { return DigitValue(c); }

std::optional<std::string> LoadSRecordFile(const std::string& path) {
  TheImage.LoadedLength = 0;
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return OpenMessage(path, errno);

  TextFile text(file.get());
  std::uint32_t loaded = 0;
  std::optional<std::string> result;
  std::string_view piece;
  while (!result && text.NextPiece(piece)) result = LoadLine(piece, path, loaded);
  // A read that fails (a directory, an I/O error) ends the load with the
  // reason rather than passing for the end of the file.
  if (!result && text.Error() != 0) result = OpenMessage(path, text.Error());
  TheImage.LoadedLength = loaded;
  return result;
}

}  // namespace qvr
