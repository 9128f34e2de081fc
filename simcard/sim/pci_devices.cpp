#include "simcard/sim/pci_devices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "card/driver_status.h"
#include "simcard/card_memory.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"

namespace qvr::simcard {

namespace {

constexpr std::size_t IndexOffset = 4;   // u16
constexpr std::size_t ValueOffset = 8;   // u32
constexpr std::uint32_t BridgeRegister28 = 0x28;
constexpr std::uint32_t RegionCount = 7;

std::uint16_t Load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Load32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
void Store16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Store32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void SetStatus(std::uint8_t* buffer, DriverStatus status) { Store16(buffer + platform::StatusOffset, status); }

void PutLocator(std::uint8_t* buffer, const std::string& name) {
  const auto locator = CardLocator(name);
  std::copy(locator.begin(), locator.end(), buffer + LocatorOffset);
}

// True when the card meets the search criteria (0xFF / 0xFFFF / an empty
// name match anything).
bool CardMatches(const std::uint8_t* criteria) {
  const auto card = CardLocator(CardDeviceName(0));
  if (criteria[0] != 0xFF && criteria[0] != card[0]) return false;
  if (criteria[1] != 0xFF && criteria[1] != card[1]) return false;
  for (const std::size_t id : {std::size_t{2}, std::size_t{4}}) {
    const std::uint16_t wanted = Load16(criteria + id);
    if (wanted != 0xFFFF && wanted != Load16(card.data() + id)) return false;
  }
  const auto* name = criteria + 6;
  if (name[0] == 0) return true;
  const std::size_t length = static_cast<std::size_t>(std::find(name, name + LocatorNameSize, 0) - name);
  return std::string(reinterpret_cast<const char*>(name), length) == CardDeviceName(0);
}

// Both devices answer these two alike.
bool AnswerCommon(std::uint32_t code, std::uint8_t* buffer, const std::string& name) {
  switch (code) {
    case platform::RequestOpen:
      PutLocator(buffer, name);
      SetStatus(buffer, StatusOk);
      return true;
    case platform::RequestVersion:
      Store32(buffer + ValueOffset, DriverVersion);
      SetStatus(buffer, StatusOk);
      return true;
    default:
      return false;
  }
}

}  // namespace

std::array<std::uint8_t, LocatorSize> CardLocator(const std::string& name) {
  std::array<std::uint8_t, LocatorSize> locator{};
  locator[0] = CardBus;
  locator[1] = CardSlot;
  Store16(locator.data() + 2, CardFirstId);
  Store16(locator.data() + 4, CardSecondId);
  std::copy_n(name.begin(), std::min(name.size(), LocatorNameSize - 1), locator.begin() + 6);
  return locator;
}

platform::DeviceAnswer AnswerCardRequest(const CardDevice& device, std::uint32_t code, std::uint8_t* buffer) {
  platform::DeviceAnswer answer;
  if (AnswerCommon(code, buffer, CardDeviceName(0))) return answer;
  switch (code) {
    case platform::RequestMapRegion: {
      const std::uint16_t region = Load16(buffer + IndexOffset);
      if (region >= RegionCount) {
        SetStatus(buffer, StatusBadBarIndex);
      } else if (region != InterfaceRegion) {
        SetStatus(buffer, StatusFailed);  // the card has no other memory regions
      } else {
        answer.regionFd = device.regionFd;
        answer.regionSize = device.regionSize;
        SetStatus(buffer, StatusOk);
      }
      break;
    }
    case platform::RequestUnmapRegion:
      SetStatus(buffer, StatusOk);
      break;
    case platform::RequestWriteBridge: {
      const std::uint32_t offset = Load16(buffer + IndexOffset);
      const std::uint32_t value = Load32(buffer + ValueOffset);
      std::uint8_t* m = device.memory;
      AddWord(m, RecordStart + Record::BridgeWrites, 1);
      StoreWord(m, RecordStart + Record::BridgeLastOffset, offset);
      StoreWord(m, RecordStart + Record::BridgeLastValue, value);
      if (offset == BridgeRegister28) StoreWord(m, RecordStart + Record::Bridge28Value, value);
      std::fprintf(stderr, "qvr-card-sim: bridge register 0x%x written with 0x%08x\n", offset, value);
      SetStatus(buffer, StatusOk);
      break;
    }
    default:
      SetStatus(buffer, StatusFailed);
      break;
  }
  return answer;
}

platform::DeviceAnswer AnswerBridgeRequest(std::uint32_t code, std::uint8_t* buffer) {
  if (AnswerCommon(code, buffer, BridgeDeviceName)) return {};
  if (code == platform::RequestSearch) {
    // One card behind this bridge; the wanted index counts from this driver's first match.
    const std::uint32_t wanted = Load32(buffer + ValueOffset);
    const std::uint32_t matches = CardMatches(buffer + LocatorOffset) ? 1 : 0;
    Store32(buffer + ValueOffset, matches);
    if (wanted < matches) PutLocator(buffer, CardDeviceName(0));
    SetStatus(buffer, matches > 0 ? StatusOk : StatusFailed);
  } else {
    SetStatus(buffer, StatusFailed);
  }
  return {};
}

}  // namespace qvr::simcard
