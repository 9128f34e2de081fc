// Reads an Exec value of a desktop entry the way a desktop session does:
// the string escapes are undone first, then the line is split into
// arguments by its quoting, and "%%" becomes "%".
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr::test {

// None when the quoting is broken (an unterminated quote).
std::optional<std::vector<std::string>> ParseExecValue(const std::string& rawValue);

// The raw value of `key` in the [Desktop Entry] group of `fileText`.
std::optional<std::string> DesktopEntryValue(const std::string& fileText, const std::string& key);

}  // namespace qvr::test
