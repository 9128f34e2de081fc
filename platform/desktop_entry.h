// Desktop entry files (the XDG Desktop Entry format) as the autostart key
// keeps its values: one file per value, whose Exec line runs the value's
// command line at log-on and whose X-QVR-Value key keeps the value's text
// exactly as it was written.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr::platform {

inline constexpr const char* AutostartValueKey = "X-QVR-Value";

// The escapes of a string value: "\\" for a backslash, "\n", "\t", "\r", and
// "\s" for a space at either end (a reader would otherwise drop it).
std::string EscapeDesktopString(const std::string& text);
// Undoes them; an unknown escape is kept as it stands.
std::string UnescapeDesktopString(const std::string& text);

// One argument of an Exec line: in double quotes when it is empty or holds a
// reserved character, with '"', '`', '$' and '\' escaped by a backslash
// inside the quotes; every '%' doubled so that none reads as a field code.
std::string QuoteExecArgument(const std::string& argument);

// The Exec value for a command line kept as one text: the program, then the
// parameter after the last run of two spaces when there is one. Returned
// before the string escapes, which the file writer applies.
std::string ExecLineFor(const std::string& commandLine);

// The whole text of the entry file for one value.
std::string MakeAutostartEntry(const std::string& valueName, const std::string& commandLine);

// The text kept in an entry file: the X-QVR-Value key of its [Desktop Entry]
// group, unescaped. None when the file holds no such key or is not text (it
// holds a zero byte).
std::optional<std::string> ReadAutostartEntryValue(const std::string& fileText);

// The file that keeps the value `valueName`: the name with '/', '%' and every
// byte outside printable ASCII %-encoded, then ".desktop".
std::string AutostartFileName(const std::string& valueName);

}  // namespace qvr::platform
