#include "platform/desktop_entry.h"

#include <string_view>

#include "platform/startup_path.h"

namespace qvr::platform {

std::string EscapeDesktopString(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case ' ':
        out += (i == 0 || i + 1 == text.size()) ? "\\s" : " ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UnescapeDesktopString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[i + 1]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 's':
        out += ' ';
        break;
      default:
        out += text[i];
        out += text[i + 1];
        break;
    }
    ++i;
  }
  return out;
}

std::string QuoteExecArgument(const std::string& argument) {
  static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = argument.empty();
  for (char c : argument) {
    if (reserved.find(c) != std::string_view::npos) quote = true;
  }
  std::string out;
  if (quote) out += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

std::string ExecLineFor(const std::string& commandLine) {
  const CommandLineParts parts = SplitTrailingParameter(commandLine);
  std::string line = QuoteExecArgument(parts.program);
  if (!parts.parameter.empty()) line += ' ' + QuoteExecArgument(parts.parameter);
  return line;
}

std::string MakeAutostartEntry(const std::string& valueName, const std::string& commandLine) {
  std::string text = "[Desktop Entry]\nType=Application\n";
  text += "Name=" + EscapeDesktopString(valueName) + "\n";
  text += "Exec=" + EscapeDesktopString(ExecLineFor(commandLine)) + "\n";
  text += std::string(AutostartValueKey) + "=" + EscapeDesktopString(commandLine) + "\n";
  return text;
}

std::optional<std::string> ReadAutostartEntryValue(const std::string& fileText) {
  if (fileText.find('\0') != std::string::npos) return std::nullopt;
  const std::string_view key = AutostartValueKey;
  bool inMainGroup = false;
  std::size_t start = 0;
  while (start < fileText.size()) {
    std::size_t end = fileText.find('\n', start);
    if (end == std::string::npos) end = fileText.size();
    std::string_view line(fileText.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = line.substr(0, equals);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name != key) continue;
    std::string_view value = line.substr(equals + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return UnescapeDesktopString(std::string(value));
  }
  return std::nullopt;
}

std::string AutostartFileName(const std::string& valueName) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : valueName) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '/' || c == '%') {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out + ".desktop";
}

}  // namespace qvr::platform
