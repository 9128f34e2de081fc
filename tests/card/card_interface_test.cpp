// The connection to the interface memory: the named-mapping route against
// real POSIX shared memory, the PCI route against the driver model, and the
// word accesses.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstring>
#include <vector>

#include "card/board_list.h"
#include "card/card_interface.h"
#include "card/interface_header.h"
#include "card/pci_access.h"
#include "card/request_pool.h"
#include "image/firmware_image.h"
#include "tests/card/driver_model.h"

namespace qvr {
namespace {

using test::Step;

constexpr std::uint32_t Open = platform::RequestOpen;
constexpr std::uint32_t Version = platform::RequestVersion;
constexpr std::uint32_t Map = platform::RequestMapRegion;
constexpr std::uint32_t Unmap = platform::RequestUnmapRegion;
constexpr std::uint32_t Bridge = platform::RequestWriteBridge;

constexpr std::uint32_t PresetAreaB = 0xABC0;  // what AreaBOffset holds before a connection

std::vector<std::string> OpenBoardNames() {
  std::vector<std::string> names;
  for (BoardRecord* record = OpenBoards; record != nullptr; record = record->Next) {
    names.push_back(LocatorName(record->Locator));
  }
  return names;
}

std::vector<Step> OpenedAndMapped(const std::string& name) {
  return {{name, Version}, {name, Open}, {name, Map}};
}

std::vector<Step> Join(std::vector<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    TheCard = CardInterface{};
    TheCard.MappingName = test::UniqueName("qvr card absent");
    TheCard.AreaBOffset = PresetAreaB;
  }
  void TearDown() override {
    DisconnectInterface();
    TheCard = CardInterface{};
  }

  // Makes the named mapping that the connection finds first.
  test::ScopedSharedMemory& Publish(std::size_t size, bool magic, std::uint32_t areaB) {
    published_ = std::make_unique<test::ScopedSharedMemory>(size);
    if (size >= 24) {
      test::PokeWord(published_->View(), 0, magic ? ImageMagic : 0x11111111);
      test::PokeWord(published_->View(), 20, areaB);
    }
    TheCard.MappingName = published_->Name();
    return *published_;
  }

  test::DriverModel model;
  std::unique_ptr<test::ScopedSharedMemory> published_;
};

// ---- the named mapping ----

struct MappingCase {
  const char* name;
  std::size_t size;
  bool magic;
  std::int32_t expected;
  std::uint32_t areaB;  // AreaBOffset afterwards
};

class ConnectionByMapping : public Connection, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(ConnectionByMapping, NeverTriesThePciRoute) {
  const MappingCase& c = GetParam();
  model.Add("QVZORVA-0");  // a card with the magic, which must not be asked
  test::ScopedSharedMemory& object = Publish(c.size, c.magic, 0x200);

  EXPECT_EQ(ConnectInterface(), c.expected);
  EXPECT_NE(TheCard.MappingHandle, platform::NoSharedMemory);
  ASSERT_NE(TheCard.Base, nullptr);  // the mapping stays, magic or not
  EXPECT_EQ(TheCard.MappedSize, c.size);
  EXPECT_EQ(TheCard.AreaBOffset, c.areaB);
  EXPECT_TRUE(model.Steps().empty());
  EXPECT_EQ(OpenBoards, nullptr);

  // Base is the published object.
  if (c.size >= 64) {
    test::PokeWord(object.View(), 60, 0x600D600D);
    EXPECT_EQ(ReadInterfaceWord(60), 0x600D600Du);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConnectionByMapping,
                         ::testing::Values(MappingCase{"WithMagic", 4096, true, StatusOk, 0x200},
                                           MappingCase{"WithoutMagic", 4096, false, StatusFailed, PresetAreaB},
                                           MappingCase{"TooSmallForTheMagic", 2, false, StatusFailed, PresetAreaB}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connection, EmptyMappingIsLetGoAndThePciRouteTried) {
  test::ScopedSharedMemory empty(0);
  TheCard.MappingName = empty.Name();
  model.Add("QVZORVA-0");
  EXPECT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(TheCard.MappingHandle, platform::NoSharedMemory);
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-0"});
}

// ---- the PCI route ----

TEST_F(Connection, ThirdInstanceFoundAfterTwoThatDoNotOpen) {
  model.Add("QVZORVA-2", {.AreaBOffset = 0x340});
  EXPECT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(TheCard.MappingHandle, platform::NoSharedMemory);
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-2"});
  EXPECT_EQ(TheCard.AreaBOffset, 0x340u);
  EXPECT_EQ(model.Steps(), Join({OpenedAndMapped("QVZORVA-2"), {{"QVZORVA-2", Bridge}}}));
  const auto requests = model.Requests();
  EXPECT_EQ(requests[2].Index, 2);
  EXPECT_EQ(requests[3].Index, 0x28);
  EXPECT_EQ(requests[3].Value, 0x50508000u);

  // Base is region 2 of the card, both ways.
  std::uint8_t* region = model.Region("QVZORVA-2", 2);
  test::PokeWord(region, 0x40, 0x0A0B0C0D);
  EXPECT_EQ(ReadInterfaceWord(0x40), 0x0A0B0C0Du);
  WriteInterfaceWord(TheCard.AreaBOffset + InterfaceHeader::AreaBRunWord, 1);
  EXPECT_EQ(test::PeekWord(region, 0x348), 1u);
}

TEST_F(Connection, LaterInstanceWithTheMagicReplacesOneWithout) {
  model.Add("QVZORVA-0", {.Magic = false});
  model.Add("QVZORVA-1");
  EXPECT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-1"});
  EXPECT_EQ(model.Steps(), Join({OpenedAndMapped("QVZORVA-0"),
                                 {{"QVZORVA-1", Version}, {"QVZORVA-1", Open}, {"QVZORVA-0", Unmap}},
                                 {{"QVZORVA-1", Map}, {"QVZORVA-1", Bridge}}}));
  const auto requests = model.Requests();
  EXPECT_EQ(requests[5].Index, 2);
  EXPECT_NE(requests[5].Address, 0u);
  EXPECT_EQ(TheCard.AreaBOffset, 0x100u);
}

TEST_F(Connection, OnlyInstanceWithoutTheMagicStaysHeld) {
  model.Add("QVZORVA-0", {.Magic = false});
  EXPECT_EQ(ConnectInterface(), StatusFailed);
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-0"});
  ASSERT_NE(TheCard.Base, nullptr);
  test::PokeWord(model.Region("QVZORVA-0", 2), 8, 0x5EE);
  EXPECT_EQ(ReadInterfaceWord(8), 0x5EEu);
  EXPECT_EQ(TheCard.AreaBOffset, PresetAreaB);
  EXPECT_EQ(model.Steps(), OpenedAndMapped("QVZORVA-0"));
}

TEST_F(Connection, FailedMappingOfTheLastOpenedInstanceGivesItsStatus) {
  model.Add("QVZORVA-0", {.Magic = false});
  model.Add("QVZORVA-1", {.MapsRegions = false, .MapStatus = 0x8263});
  EXPECT_EQ(ConnectInterface(), static_cast<std::int16_t>(0x8263));  // sign-extended
  EXPECT_EQ(TheCard.Base, nullptr);
  EXPECT_EQ(OpenBoards, nullptr);
  EXPECT_EQ(RequestPool, nullptr);  // the library was shut down
  EXPECT_EQ(TheCard.AreaBOffset, PresetAreaB);
  EXPECT_EQ(model.Steps(), Join({OpenedAndMapped("QVZORVA-0"),
                                 {{"QVZORVA-1", Version}, {"QVZORVA-1", Open}, {"QVZORVA-0", Unmap}},
                                 {{"QVZORVA-1", Map}}}));
}

TEST_F(Connection, RegionWithoutAnAddressIsNoConnection) {
  model.Add("QVZORVA-0", {.MapsRegions = false});
  EXPECT_EQ(ConnectInterface(), StatusFailed);
  EXPECT_EQ(TheCard.Base, nullptr);
  EXPECT_EQ(OpenBoards, nullptr);
}

struct InstanceCase {
  const char* name;
  std::vector<int> present;  // instances that exist, each with the magic
  std::int32_t expected;
  std::vector<std::string> asked;
};

class ConnectionInstances : public Connection, public ::testing::WithParamInterface<InstanceCase> {};

TEST_P(ConnectionInstances, WalksZeroTo127) {
  for (const int n : GetParam().present) model.Add("QVZORVA-" + std::to_string(n));
  EXPECT_EQ(ConnectInterface(), GetParam().expected);
  std::vector<std::string> asked;
  for (const auto& request : model.Requests()) {
    if (asked.empty() || asked.back() != request.Device) asked.push_back(request.Device);
  }
  EXPECT_EQ(asked, GetParam().asked);
  if (GetParam().expected != StatusOk) {
    EXPECT_EQ(TheCard.Base, nullptr);
    EXPECT_EQ(OpenBoards, nullptr);
    EXPECT_EQ(RequestPool, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionInstances,
    ::testing::Values(InstanceCase{"NoneOpens", {}, StatusFailed, {}},
                      InstanceCase{"Only128Exists", {128}, StatusFailed, {}},
                      InstanceCase{"Only127Exists", {127, 128}, StatusOk, {"QVZORVA-127"}},
                      InstanceCase{"FirstWithTheMagicEndsTheWalk", {10, 11}, StatusOk, {"QVZORVA-10"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Connection, ConnectingAgainReleasesTheEarlierConnection) {
  model.Add("QVZORVA-0");
  ASSERT_EQ(ConnectInterface(), StatusOk);
  std::uint8_t* first = TheCard.Base;
  model.ClearRequests();
  ASSERT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(model.Steps(), Join({{{"QVZORVA-0", Unmap}}, OpenedAndMapped("QVZORVA-0"), {{"QVZORVA-0", Bridge}}}));
  EXPECT_EQ(model.Requests()[0].Address, reinterpret_cast<std::uintptr_t>(first));
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-0"});

  test::ScopedSharedMemory& object = Publish(4096, true, 0x80);
  ASSERT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(OpenBoards, nullptr);  // the PCI route was let go for the mapping
  EXPECT_EQ(TheCard.AreaBOffset, 0x80u);
  ASSERT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(ReadInterfaceWord(0), ImageMagic);
  (void)object;
}

TEST_F(Connection, DisconnectReleasesAndKeepsAreaB) {
  Publish(4096, true, 0x120);
  ASSERT_EQ(ConnectInterface(), StatusOk);
  DisconnectInterface();
  EXPECT_EQ(TheCard.Base, nullptr);
  EXPECT_EQ(TheCard.MappingHandle, platform::NoSharedMemory);
  EXPECT_EQ(TheCard.AreaBOffset, 0x120u);
  EXPECT_EQ(ReadInterfaceWord(0), 0u);
}

// ---- word access ----

class Words : public Connection {
 protected:
  void SetUp() override {
    Connection::SetUp();
    Publish(4096, true, 0x100);
    ASSERT_EQ(ConnectInterface(), StatusOk);
  }
  std::uint8_t* View() { return published_->View(); }
};

TEST_F(Words, WriteReachesTheMemoryAndLeavesTheFailureWordAlone) {
  test::PokeWord(View(), 0x100 + 0x150, 0x77777777);
  WriteInterfaceWord(0x108, 1);
  WriteInterfaceWord(InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
  EXPECT_EQ(test::PeekWord(View(), 0x108), 1u);
  EXPECT_EQ(test::PeekWord(View(), 0), 0x12345678u);
  EXPECT_EQ(test::PeekWord(View(), 0x250), 0x77777777u);
}

TEST_F(Words, EveryReadIsFresh) {
  for (const std::uint32_t value : {0x00000001u, 0xAA8D4A8Cu, 0x12345678u}) {
    test::PokeWord(View(), InterfaceHeader::Magic, value);
    EXPECT_EQ(ReadInterfaceWord(InterfaceHeader::Magic), value);
  }
  for (const std::uint8_t value : {0x00, 0x02, 0xFF}) {
    View()[InterfaceHeader::CardStateByte] = value;
    EXPECT_EQ(ReadInterfaceByte(InterfaceHeader::CardStateByte), value);
  }
}

struct ReachCase {
  std::uint32_t offset;
  bool word;  // word or byte access
  bool reached;
};

class WordReach : public Words, public ::testing::WithParamInterface<ReachCase> {};

TEST_P(WordReach, StaysInsideTheMemory) {
  const ReachCase& c = GetParam();
  std::vector<std::uint8_t> before(View(), View() + 4096);
  if (c.word) {
    if (c.reached) test::PokeWord(View(), c.offset, 0x31415926);
    EXPECT_EQ(ReadInterfaceWord(c.offset), c.reached ? 0x31415926u : 0u);
    before.assign(View(), View() + 4096);
    WriteInterfaceWord(c.offset, 0x27182818);
    if (c.reached) {
      EXPECT_EQ(test::PeekWord(View(), c.offset), 0x27182818u);
    } else {
      EXPECT_EQ(std::vector<std::uint8_t>(View(), View() + 4096), before);
    }
  } else {
    if (c.reached) View()[c.offset] = 0x5D;
    EXPECT_EQ(ReadInterfaceByte(c.offset), c.reached ? 0x5D : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Offsets, WordReach,
                         ::testing::Values(ReachCase{0, true, true}, ReachCase{4092, true, true},
                                           ReachCase{4094, true, false}, ReachCase{4096, true, false},
                                           ReachCase{0xFFFFFFFC, true, false}, ReachCase{0x101, true, false},
                                           ReachCase{25, false, true}, ReachCase{4095, false, true},
                                           ReachCase{4096, false, false}, ReachCase{0xFFFFFFFF, false, false}));

// An area B offset from the card that points past the memory: the run word
// and the failure word lie outside it and are never touched.
TEST_F(Connection, AreaBOutsideTheMemoryIsNotWritten) {
  test::ScopedSharedMemory& object = Publish(4096, true, 0xFFFFFF00);
  ASSERT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(TheCard.AreaBOffset, 0xFFFFFF00u);
  const std::vector<std::uint8_t> before(object.View(), object.View() + 4096);
  WriteInterfaceWord(TheCard.AreaBOffset + InterfaceHeader::AreaBRunWord, 1);
  EXPECT_EQ(std::vector<std::uint8_t>(object.View(), object.View() + 4096), before);
}

}  // namespace
}  // namespace qvr
