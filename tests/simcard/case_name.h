// Readable names for the cases of parameterised tests.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace qvr::test {

// Letters and digits of `text`, every other run of characters as one '_'.
inline std::string CaseName(const std::string& text) {
  std::string name;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "none" : name;
}

inline std::string CaseName(const std::vector<std::string>& args) {
  std::string joined;
  for (const auto& arg : args) joined += arg + " ";
  return CaseName(joined);
}

}  // namespace qvr::test
