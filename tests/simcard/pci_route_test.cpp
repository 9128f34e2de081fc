// The simulated card on the PCI route: the loader's connection, the board
// search and the interface library reach it with no named mapping.
#include <cstring>

#include "card/card_interface.h"
#include "card/interface_header.h"
#include "card/pci_access.h"
#include "simcard/interface_library/qvrzorva.h"
#include "simcard/memory_layout.h"
#include "simcard/sim/pci_devices.h"
#include "tests/simcard/case_name.h"
#include "tests/simcard/sim_harness.h"

namespace qvr::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PciRoute : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    UseDeviceFolder();
    Start({"--pci"});
  }
};

TEST_F(PciRoute, ConnectInterfaceReachesTheCardAndWritesTheBridgeRegister) {
  TheCard.MappingName = Name();  // no such mapping: the PCI route is taken
  ASSERT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(TheCard.MappingHandle, platform::NoSharedMemory);
  ASSERT_NE(TheCard.Base, nullptr);
  EXPECT_EQ(ReadInterfaceWord(InterfaceHeader::Magic), ImageMagic);
  EXPECT_EQ(TheCard.AreaBOffset, simcard::AreaBStart);

  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::Bridge28Value), 0x50508000u);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::BridgeWrites), 1u);
  const auto status = Run({"status"});
  EXPECT_TRUE(Contains(status.output, "card memory: QVZORVA-0")) << status.output;
  EXPECT_TRUE(Contains(status.output, "register 0x28: 0x50508000")) << status.output;

  // The connection and the simulator's memory are one.
  WriteInterfaceWord(InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
  EXPECT_EQ(Word(Memory(), InterfaceHeader::Magic), InterfaceHeader::MagicWhileProgramming);
  DisconnectInterface();
}

TEST_F(PciRoute, LibraryRunsAProgrammingRun) {
  const std::vector<std::uint8_t> data(128, 0x42);
  EXPECT_EQ(ExchangeBlock(StartBlock()), 1);
  EXPECT_EQ(ExchangeBlock(DataBlock(0x8000, data.data())), 1);
  EXPECT_EQ(ExchangeBlock(EndBlock()), 1);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::LastRunBlocks), 1u);
  EXPECT_TRUE(Contains(Run({"status"}).output, "PCI route"));
}

struct Search {
  const char* what;
  BoardLocator criteria;
  std::uint32_t index;
  DriverStatus status;
};

BoardLocator Any() {
  BoardLocator locator{0xFF, 0xFF, 0xFFFF, 0xFFFF, {}};
  return locator;
}
BoardLocator Named(const char* name) {
  BoardLocator locator = Any();
  std::strncpy(locator.Name, name, sizeof locator.Name - 1);
  return locator;
}
BoardLocator With(std::uint8_t bus, std::uint8_t slot, std::uint16_t first, std::uint16_t second) {
  return BoardLocator{bus, slot, first, second, {}};
}

class BoardSearch : public PciRoute, public ::testing::WithParamInterface<Search> {};

TEST_P(BoardSearch, FindsTheCardByItsFields) {
  ASSERT_TRUE(PciAccessEntry(PciAccessInitialise));
  BoardLocator locator = GetParam().criteria;
  EXPECT_EQ(SearchBoard(&locator, GetParam().index), GetParam().status) << GetParam().what;
  if (GetParam().status == StatusOk) {
    EXPECT_STREQ(locator.Name, "QVZORVA-0");
    EXPECT_EQ(locator.Bus, simcard::CardBus);
    EXPECT_EQ(locator.Slot, simcard::CardSlot);
    EXPECT_EQ(locator.FirstIdentifier, simcard::CardFirstId);
    EXPECT_EQ(locator.SecondIdentifier, simcard::CardSecondId);
  }
  PciAccessEntry(PciAccessShutDown);
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, BoardSearch,
    ::testing::Values(Search{"anything", Any(), 0, StatusOk}, Search{"second match", Any(), 1, StatusFailed},
                      Search{"by name", Named("QVZORVA-0"), 0, StatusOk},
                      Search{"other name", Named("QVZORVA-1"), 0, StatusFailed},
                      Search{"by bus and slot", With(simcard::CardBus, simcard::CardSlot, 0xFFFF, 0xFFFF), 0, StatusOk},
                      Search{"other bus", With(simcard::CardBus + 1, 0xFF, 0xFFFF, 0xFFFF), 0, StatusFailed},
                      Search{"other slot", With(0xFF, simcard::CardSlot + 1, 0xFFFF, 0xFFFF), 0, StatusFailed},
                      Search{"by identifiers", With(0xFF, 0xFF, simcard::CardFirstId, simcard::CardSecondId), 0,
                             StatusOk},
                      Search{"other identifier", With(0xFF, 0xFF, simcard::CardFirstId, 0x1234), 0, StatusFailed}),
    [](const auto& info) { return CaseName(info.param.what); });

TEST_F(PciRoute, OpenBoardBySearchAndItsRegions) {
  ASSERT_TRUE(PciAccessEntry(PciAccessInitialise));
  BoardLocator locator = Any();
  platform::DeviceHandle handle = platform::InvalidDevice;
  ASSERT_EQ(OpenBoard(&locator, &handle), StatusOk);
  EXPECT_STREQ(locator.Name, "QVZORVA-0");
  std::uint8_t major = 0, minor = 0, revision = 0;
  EXPECT_EQ(QueryDriverVersion(handle, &major, &minor, &revision), StatusOk);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 2);

  // Only region 2 exists; it is the interface memory.
  for (std::uint8_t region = 0; region < 7; ++region) {
    std::uint64_t address = 0;
    std::uint32_t size = 0;
    const DriverStatus status = MapBarWindow(handle, region, &address, &size);
    if (region == simcard::InterfaceRegion) {
      EXPECT_EQ(status, StatusOk);
      ASSERT_NE(address, 0u);
      EXPECT_EQ(size, simcard::MemorySize);
      EXPECT_EQ(*reinterpret_cast<const std::uint32_t*>(address), ImageMagic);
    } else {
      EXPECT_EQ(status, StatusFailed) << int{region};
      EXPECT_EQ(address, 0u);
    }
  }
  EXPECT_EQ(WriteBridgeRegister(handle, 0x6C, 0x1234), StatusOk);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::BridgeLastOffset), 0x6Cu);
  EXPECT_EQ(Word(Memory(), simcard::RecordStart + simcard::Record::Bridge28Value), 0u);
  PciAccessEntry(PciAccessShutDown);
}

}  // namespace
}  // namespace qvr::test
