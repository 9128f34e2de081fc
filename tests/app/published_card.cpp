#include "tests/app/published_card.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "card/interface_header.h"
#include "image/firmware_image.h"

namespace qvr::test {
namespace {

int counter = 0;

std::atomic_ref<std::uint32_t> WordAt(std::uint8_t* base, std::uint32_t offset) {
  return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(base + offset));
}

}  // namespace

PublishedCard::PublishedCard(std::size_t size)
    : name_("qvr-app-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter)), size_(size) {
  const std::string object = "/" + name_;
  int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) throw std::runtime_error("shm_open " + object);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    shm_unlink(object.c_str());
    throw std::runtime_error("ftruncate " + object);
  }
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (view == MAP_FAILED) {
    shm_unlink(object.c_str());
    throw std::runtime_error("mmap " + object);
  }
  base_ = static_cast<std::uint8_t*>(view);
}

PublishedCard::~PublishedCard() {
  munmap(base_, size_);
  shm_unlink(("/" + name_).c_str());
}

void PublishedCard::Run(std::uint32_t version, std::uint32_t cardState) {
  SetWord(InterfaceHeader::FirmwareVersion, version);
  SetWord(InterfaceHeader::AreaAOffset, 0x100);
  SetWord(InterfaceHeader::AreaBOffset, 0x800);
  SetWord(InterfaceHeader::CardState, cardState);
  SetWord(InterfaceHeader::Magic, ImageMagic);
}

void PublishedCard::SetWord(std::uint32_t offset, std::uint32_t value) { WordAt(base_, offset).store(value); }

std::uint32_t PublishedCard::Word(std::uint32_t offset) const { return WordAt(base_, offset).load(); }

}  // namespace qvr::test
