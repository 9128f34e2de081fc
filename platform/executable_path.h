// The full path of the running program's executable file.
#pragma once

#include <string>

namespace qvr::platform {

// Linux: the target of /proc/self/exe. Empty when it cannot be read.
std::string OwnExecutablePath();

}  // namespace qvr::platform
