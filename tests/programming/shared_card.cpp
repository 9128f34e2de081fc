#include "tests/programming/shared_card.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "card/card_interface.h"
#include "card/interface_header.h"
#include "image/firmware_image.h"

namespace qvr::test {

namespace {
void CheckOffset(std::uint32_t offset, std::uint32_t width) {
  if (offset > SharedCard::Size - width) throw std::out_of_range("offset outside the card memory");
}

std::uint8_t* MapObject(int fd) {
  void* address = mmap(nullptr, SharedCard::Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) throw std::runtime_error("cannot map the card memory");
  return static_cast<std::uint8_t*>(address);
}
}  // namespace

SharedCard::SharedCard(std::uint32_t firmwareVersion) {
  static std::atomic<int> serial{0};
  name_ = "/qvr-programming-test-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  const int fd = shm_open(name_.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + name_);
  if (ftruncate(fd, Size) != 0) {
    close(fd);
    shm_unlink(name_.c_str());
    throw std::runtime_error("cannot size " + name_);
  }
  cardSide_ = MapObject(fd);
  loaderSide_ = MapObject(fd);
  close(fd);

  SetWord(InterfaceHeader::FirmwareVersion, firmwareVersion);
  SetWord(InterfaceHeader::AreaAOffset, 0x100);
  SetWord(InterfaceHeader::AreaBOffset, AreaB);
  SetWord(InterfaceHeader::CardState, 1);
  SetWord(InterfaceHeader::Magic, ImageMagic);

  TheCard.Base = loaderSide_;
  TheCard.MappedSize = Size;
  TheCard.AreaBOffset = AreaB;
}

SharedCard::~SharedCard() {
  TheCard.Base = nullptr;
  TheCard.MappedSize = 0;
  TheCard.AreaBOffset = 0;
  munmap(cardSide_, Size);
  munmap(loaderSide_, Size);
  shm_unlink(name_.c_str());
}

std::uint32_t SharedCard::Word(std::uint32_t offset) const {
  CheckOffset(offset, 4);
  return std::atomic_ref(*reinterpret_cast<std::uint32_t*>(cardSide_ + offset)).load();
}

void SharedCard::SetWord(std::uint32_t offset, std::uint32_t value) {
  CheckOffset(offset, 4);
  std::atomic_ref(*reinterpret_cast<std::uint32_t*>(cardSide_ + offset)).store(value);
}

std::uint8_t SharedCard::Byte(std::uint32_t offset) const {
  CheckOffset(offset, 1);
  return std::atomic_ref(cardSide_[offset]).load();
}

void SharedCard::SetByte(std::uint32_t offset, std::uint8_t value) {
  CheckOffset(offset, 1);
  std::atomic_ref(cardSide_[offset]).store(value);
}

}  // namespace qvr::test
