#include "tests/settings/exec_line.h"

#include <sstream>

#include "platform/desktop_entry.h"

namespace qvr::test {

std::optional<std::vector<std::string>> ParseExecValue(const std::string& rawValue) {
  const std::string line = platform::UnescapeDesktopString(rawValue);
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ') {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else if (c == '"') {
      inArgument = true;
      bool closed = false;
      for (++i; i < line.size(); ++i) {
        if (line[i] == '"') {
          closed = true;
          break;
        }
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
        current += line[i];
      }
      if (!closed) return std::nullopt;
    } else {
      inArgument = true;
      if (c == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
      current += c;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

std::optional<std::string> DesktopEntryValue(const std::string& fileText, const std::string& key) {
  std::istringstream in(fileText);
  std::string line;
  bool inMainGroup = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      inMainGroup = line == "[Desktop Entry]";
    } else if (inMainGroup && line.rfind(key + "=", 0) == 0) {
      return line.substr(key.size() + 1);
    }
  }
  return std::nullopt;
}

}  // namespace qvr::test
