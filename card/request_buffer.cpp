#include "card/request_buffer.h"

namespace qvr {

BoardLocator MakeLocator(const std::string& name) {
  BoardLocator locator{0xFF, 0xFF, 0xFFFF, 0xFFFF, {}};
  name.copy(locator.Name, LocatorNameSize - 1);
  return locator;
}

std::string LocatorName(const BoardLocator& locator) {
  std::size_t length = 0;
  while (length < LocatorNameSize && locator.Name[length] != '\0') ++length;
  return std::string(locator.Name, length);
}

}  // namespace qvr
