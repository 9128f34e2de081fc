// Runs a program in a process of its own and collects what it wrote to
// standard error and its exit code.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvr::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not end normally
  std::string standardError;
};

// `environment` is added to (and overrides) this process's environment; a
// value of "\x01unset" removes the variable.
// `workingDirectory`: where the process starts (empty: here).
ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {},
                         const std::string& workingDirectory = {});

inline constexpr const char* Unset = "\x01unset";

}  // namespace qvr::test
