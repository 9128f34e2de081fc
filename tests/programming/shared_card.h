// A card interface memory that the test plays the card in: a POSIX
// shared-memory object of its own, mapped once for the loader's connection
// (TheCard) and once for the test's side, as a card would see it.
#pragma once

#include <cstdint>
#include <string>

namespace qvr::test {

class SharedCard {
 public:
  static constexpr std::uint32_t Size = 0x1000;
  static constexpr std::uint32_t AreaB = 0x800;

  // A live card: magic, the given version word, area B at 0x800, CardState 1.
  // Connects TheCard to it.
  explicit SharedCard(std::uint32_t firmwareVersion = 0x04010000);
  // Disconnects TheCard and removes the object.
  ~SharedCard();
  SharedCard(const SharedCard&) = delete;
  SharedCard& operator=(const SharedCard&) = delete;

  std::uint32_t Word(std::uint32_t offset) const;
  void SetWord(std::uint32_t offset, std::uint32_t value);
  std::uint8_t Byte(std::uint32_t offset) const;
  void SetByte(std::uint32_t offset, std::uint8_t value);

  // The word the loader writes 1 to around each run.
  std::uint32_t RunWord() const { return Word(AreaB + 8); }
  void SetRunWord(std::uint32_t value) { SetWord(AreaB + 8, value); }

 private:
  std::string name_;
  std::uint8_t* cardSide_ = nullptr;
  std::uint8_t* loaderSide_ = nullptr;
};

}  // namespace qvr::test
