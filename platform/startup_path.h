// The executable that a startup check entry names. An entry is the path of
// the loader followed by its parameter after two spaces, for example
// "/opt/qvr/qvr-loader  StartupCheck".
#pragma once

#include <string>

namespace qvr::platform {

// Windows rule: everything from the entry's last '.' on becomes ".exe" (a '.'
// in the first character does not count); an entry without such a '.' is
// returned whole, parameter included.
std::string ReplaceExtensionWithExe(const std::string& entry);

// An entry split at its last run of two or more spaces: the program before
// the run and the parameter after it. An entry without two spaces in a row is
// all program, with an empty parameter.
struct CommandLineParts {
  std::string program;
  std::string parameter;
};
CommandLineParts SplitTrailingParameter(const std::string& entry);

// Linux rule: the entry without its trailing parameter.
std::string StripTrailingParameter(const std::string& entry);

// The rule of the platform this is built for.
std::string RegisteredExecutablePath(const std::string& entry);

}  // namespace qvr::platform
