// An interface memory published by a test under a name of its own, laid out
// as the card lays it out, and removed when the object goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvr::test {

class PublishedCard {
 public:
  // Creates the named object (a fresh name per object and process) and maps it.
  explicit PublishedCard(std::size_t size = 0x1000);
  ~PublishedCard();
  PublishedCard(const PublishedCard&) = delete;
  PublishedCard& operator=(const PublishedCard&) = delete;

  const std::string& Name() const { return name_; }

  // A card running firmware `version` (status, major, minor, patch from the
  // high byte down) with `cardState`; the magic present.
  void Run(std::uint32_t version, std::uint32_t cardState = 1);

  void SetWord(std::uint32_t offset, std::uint32_t value);
  std::uint32_t Word(std::uint32_t offset) const;

 private:
  std::string name_;
  std::uint8_t* base_ = nullptr;
  std::size_t size_ = 0;
};

// Version word from its four bytes.
constexpr std::uint32_t VersionWord(std::uint32_t status, std::uint32_t major, std::uint32_t minor,
                                    std::uint32_t patch) {
  return status << 24 | major << 16 | minor << 8 | patch;
}

}  // namespace qvr::test
