// Reads arbitrary bytes as an executable that may carry an image, both as
// the start-up does and as the startup-check display does.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/carried_image.h"
#include "image/firmware_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/qvr-fuzz-carried-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    ::close(fd);
    return std::string(name);
  }();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  qvr::ResetImage();
  const auto image = qvr::ReadCarriedImage(path);
  if (image.outcome == qvr::CarriedImageOutcome::Loaded) {
    if (qvr::TheImage.LoadedLength > qvr::ImageSize || qvr::TheImage.LoadedLength + 12 > size) std::abort();
    if (!qvr::TheImage.CurrentRecord || *qvr::TheImage.CurrentRecord > qvr::ImageSize - qvr::ImageRecordSize)
      std::abort();
    (void)qvr::RecordDateText(*qvr::TheImage.CurrentRecord);
  }
  const auto record = qvr::ReadCarriedRecord(path);
  if (record.version && (size < 12 + 48 || !record.hasTrailer)) std::abort();
  return 0;
}
