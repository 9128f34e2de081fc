#include "platform/executable_path.h"

#include <unistd.h>

#include <vector>

namespace qvr::platform {

std::string OwnExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    if (buffer.size() >= 65536) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace qvr::platform
