#include "platform/startup_path.h"

namespace qvr::platform {

std::string ReplaceExtensionWithExe(const std::string& entry) {
  for (std::size_t i = entry.size(); i-- > 1;) {
    if (entry[i] == '.') return entry.substr(0, i) + ".exe";
  }
  return entry;
}

CommandLineParts SplitTrailingParameter(const std::string& entry) {
  const std::size_t last = entry.rfind("  ");
  if (last == std::string::npos) return {entry, {}};
  // rfind gives the last two spaces of the run; the run may start earlier.
  std::size_t runStart = last;
  while (runStart > 0 && entry[runStart - 1] == ' ') --runStart;
  return {entry.substr(0, runStart), entry.substr(last + 2)};
}

std::string StripTrailingParameter(const std::string& entry) { return SplitTrailingParameter(entry).program; }

std::string RegisteredExecutablePath(const std::string& entry) {
#ifdef _WIN32
  return ReplaceExtensionWithExe(entry);
#else
  return StripTrailingParameter(entry);
#endif
}

}  // namespace qvr::platform
