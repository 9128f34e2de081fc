// Validates arbitrary images. The input is read as LoadedLength (4 bytes)
// followed by patches (3-byte offset, 1-byte length, the bytes) applied to a
// valid image with a kernel and its copy, so that the deep paths are reached.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/firmware_image.h"
#include "image/validate.h"
#include "tools/image_maker.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The diagnostic lines would flood the fuzzer's output.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> base = qvr::tool::MakeImage({.kernelCopy = true, .size = 0x20001});
  qvr::ResetImage();
  std::memcpy(qvr::TheImage.Data.data(), base.data(), base.size());
  qvr::TheImage.LoadedLength = static_cast<std::uint32_t>(base.size());
  if (size >= 4) {
    std::memcpy(&qvr::TheImage.LoadedLength, data, 4);
    data += 4, size -= 4;
  }
  while (size >= 4) {
    const std::uint32_t offset = (data[0] << 16 | data[1] << 8 | data[2]) % qvr::ImageSize;
    std::size_t length = data[3];
    data += 4, size -= 4;
    length = std::min({length, size, std::size_t{qvr::ImageSize - offset}});
    std::memcpy(qvr::TheImage.Data.data() + offset, data, length);
    data += length, size -= length;
  }
  const auto message = qvr::ValidateImage();
  if (message && (message->empty() || message->back() != '\n')) std::abort();
  return 0;
}
