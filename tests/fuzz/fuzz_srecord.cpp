// Loads arbitrary bytes as an S-record file into a cleared buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/firmware_image.h"
#include "image/srecord.h"

namespace {

const std::string& ScratchFile() {
  static const std::string path = [] {
    char name[] = "/tmp/qvr-fuzz-srecord-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    ::close(fd);
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = ScratchFile();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  qvr::ClearImage();
  const auto message = qvr::LoadSRecordFile(path);
  if (qvr::TheImage.LoadedLength > qvr::ImageSize) std::abort();
  if (message && (message->empty() || message->back() != '\n')) std::abort();
  return 0;
}
