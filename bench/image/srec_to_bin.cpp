// qvr-srec-to-bin FILE.q37 OUT.bin: loads FILE.q37 as the loader does
// (cleared buffer, S-records) and writes the LoadedLength bytes to OUT.bin.
// The counterpart of `srec_cat FILE.q37 -motorola -o OUT.bin -binary` when
// the two are timed side by side.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "image/firmware_image.h"
#include "image/srecord.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: qvr-srec-to-bin FILE.q37 OUT.bin\n", stderr);
    return 2;
  }
  qvr::TheImage.LoadedLength = 0;
  qvr::ClearImage();
  if (const auto message = qvr::LoadSRecordFile(argv[1])) {
    std::fputs(message->c_str(), stderr);
    return 1;
  }
  // One write, as srec_cat's output is written in large blocks too.
  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  const ssize_t written = ::write(out, qvr::TheImage.Data.data(), qvr::TheImage.LoadedLength);
  return (::close(out) == 0 && written == static_cast<ssize_t>(qvr::TheImage.LoadedLength)) ? 0 : 1;
}
