// The PCI driver access library against the driver model: statuses, the
// exact requests each operation sends, and the lists it keeps.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "card/board_list.h"
#include "card/pci_access.h"
#include "card/request_pool.h"
#include "tests/card/driver_model.h"

namespace qvr {
namespace {

using platform::DeviceHandle;
using platform::InvalidDevice;
using test::Step;

constexpr std::uint32_t Open = platform::RequestOpen;
constexpr std::uint32_t Version = platform::RequestVersion;
constexpr std::uint32_t Search = platform::RequestSearch;
constexpr std::uint32_t Map = platform::RequestMapRegion;
constexpr std::uint32_t Unmap = platform::RequestUnmapRegion;
constexpr std::uint32_t Bridge = platform::RequestWriteBridge;
constexpr std::uint32_t UnmapBuffer = platform::RequestUnmapBuffer;

bool SameLocator(const BoardLocator& a, const BoardLocator& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

std::vector<std::string> OpenBoardNames() {
  std::vector<std::string> names;
  for (BoardRecord* record = OpenBoards; record != nullptr; record = record->Next) {
    names.push_back(LocatorName(record->Locator));
  }
  return names;
}

std::size_t PoolBlocks() {
  std::size_t count = 0;
  for (RequestBlock* block = RequestPool; block != nullptr; block = block->Next) ++count;
  return count;
}

bool Mapped(std::uint64_t address) { return msync(reinterpret_cast<void*>(address), 1, MS_ASYNC) == 0; }

class PciAccess : public ::testing::Test {
 protected:
  void SetUp() override { PciAccessEntry(PciAccessInitialise); }
  void TearDown() override { PciAccessEntry(PciAccessShutDown); }

  DeviceHandle OpenNamed(const std::string& name) {
    BoardLocator locator = MakeLocator(name);
    DeviceHandle handle = InvalidDevice;
    EXPECT_EQ(OpenBoard(&locator, &handle), StatusOk) << name;
    return handle;
  }

  test::DriverModel model;
};

// ---- OpenBoard ----

TEST_F(PciAccess, OpenBoardAsksVersionThenLocatorAndReturnsTheDriversLocator) {
  model.Add("QVZORVA-0");
  BoardLocator locator = MakeLocator("QVZORVA-0");
  const BoardLocator asked = locator;
  DeviceHandle handle = InvalidDevice;
  ASSERT_EQ(OpenBoard(&locator, &handle), StatusOk);
  EXPECT_NE(handle, InvalidDevice);
  EXPECT_TRUE(SameLocator(locator, test::ModelLocator("QVZORVA-0")));
  ASSERT_NE(FindBoard(handle), nullptr);
  EXPECT_TRUE(SameLocator(FindBoard(handle)->Locator, asked));  // the record keeps the caller's copy
  EXPECT_EQ(model.Steps(), (std::vector<Step>{{"QVZORVA-0", Version}, {"QVZORVA-0", Open}}));
}

TEST_F(PciAccess, OpenBoardWithoutItsArguments) {
  BoardLocator locator = MakeLocator("QVZORVA-0");
  DeviceHandle handle = 77;
  EXPECT_EQ(OpenBoard(nullptr, &handle), StatusMissingArgument);
  EXPECT_EQ(OpenBoard(&locator, nullptr), StatusMissingArgument);
}

TEST_F(PciAccess, OpenBoardOfAnUnknownNameLeavesTheListAlone) {
  model.Add("QVZORVA-0");
  const DeviceHandle first = OpenNamed("QVZORVA-0");
  model.ClearRequests();
  BoardLocator locator = MakeLocator("QVZORVA-9");
  DeviceHandle handle = 77;
  EXPECT_EQ(OpenBoard(&locator, &handle), StatusFailed);
  EXPECT_EQ(handle, InvalidDevice);
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-0"});
  EXPECT_EQ(OpenBoards->Handle, first);
  EXPECT_TRUE(model.Steps().empty());
}

TEST_F(PciAccess, OpenBoardOfADriverThatDoesNotAnswerLeavesNothing) {
  test::RawServer mute(model.Directory() + "/QVZORVA-0", {0x00});
  BoardLocator locator = MakeLocator("QVZORVA-0");
  const BoardLocator asked = locator;
  DeviceHandle handle = 77;
  EXPECT_EQ(OpenBoard(&locator, &handle), StatusFailed);
  EXPECT_EQ(handle, InvalidDevice);
  EXPECT_TRUE(SameLocator(locator, asked));
  EXPECT_EQ(OpenBoards, nullptr);
}

TEST_F(PciAccess, OpenBoardWithoutANameOpensTheFirstBoardASearchFinds) {
  model.Add("Pci9054-0", {.Matches = {test::ModelLocator("QVZORVA-3")}});
  model.Add("QVZORVA-3", {.OpenLocator = test::ModelLocator("QVZORVA-3b")});
  BoardLocator locator = MakeLocator("");
  DeviceHandle handle = InvalidDevice;
  ASSERT_EQ(OpenBoard(&locator, &handle), StatusOk);
  EXPECT_TRUE(SameLocator(locator, test::ModelLocator("QVZORVA-3b")));
  EXPECT_EQ(OpenBoardNames(), std::vector<std::string>{"QVZORVA-3"});
  EXPECT_EQ(model.Steps(), (std::vector<Step>{{"Pci9054-0", Version},
                                              {"Pci9054-0", Open},
                                              {"Pci9054-0", Search},
                                              {"QVZORVA-3", Version},
                                              {"QVZORVA-3", Open}}));
}

TEST_F(PciAccess, OpenBoardWithoutANameAndNoBridgeDriver) {
  BoardLocator locator = MakeLocator("");
  DeviceHandle handle = 77;
  EXPECT_EQ(OpenBoard(&locator, &handle), StatusNoDriver);
  EXPECT_EQ(handle, InvalidDevice);
}

// ---- CloseBoard ----

TEST_F(PciAccess, CloseBoardOfAForeignHandleLeavesItOpen) {
  const int foreign = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(foreign, 0);
  EXPECT_EQ(CloseBoard(foreign), StatusFailed);
  EXPECT_NE(fcntl(foreign, F_GETFD), -1);
  close(foreign);
}

TEST_F(PciAccess, CloseBoardUnmapsEveryMappedRegionInIndexOrder) {
  model.Add("QVZORVA-0");
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  std::uint64_t four = 0, two = 0;
  ASSERT_EQ(MapBarWindow(handle, 4, &four), StatusOk);
  ASSERT_EQ(MapBarWindow(handle, 2, &two), StatusOk);
  model.ClearRequests();

  EXPECT_EQ(CloseBoard(handle), StatusOk);
  const auto requests = model.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Code, Unmap);
  EXPECT_EQ(requests[0].Index, 2);
  EXPECT_EQ(requests[0].Address, two);
  EXPECT_EQ(requests[1].Code, Unmap);
  EXPECT_EQ(requests[1].Index, 4);
  EXPECT_EQ(requests[1].Address, four);
  EXPECT_FALSE(Mapped(two));
  EXPECT_FALSE(Mapped(four));
  EXPECT_EQ(OpenBoards, nullptr);
  EXPECT_EQ(CloseBoard(handle), StatusFailed);
}

// ---- MapBarWindow ----

struct MapArgumentCase {
  const char* name;
  bool withPlace;
  std::uint8_t index;
  bool openHandle;
  DriverStatus expected;
};

class PciAccessMapArguments : public PciAccess, public ::testing::WithParamInterface<MapArgumentCase> {};

TEST_P(PciAccessMapArguments, AreCheckedBeforeAnyRequest) {
  const MapArgumentCase& c = GetParam();
  model.Add("QVZORVA-0");
  const DeviceHandle open = OpenNamed("QVZORVA-0");
  model.ClearRequests();
  std::uint64_t address = 0x1234;
  std::uint32_t size = 99;
  EXPECT_EQ(MapBarWindow(c.openHandle ? open : open + 100, c.index, c.withPlace ? &address : nullptr, &size),
            c.expected);
  if (c.withPlace) {
    EXPECT_EQ(address, 0u);
  }
  EXPECT_TRUE(model.Steps().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, PciAccessMapArguments,
                         ::testing::Values(MapArgumentCase{"NoPlace", false, 2, true, StatusMissingArgument},
                                           MapArgumentCase{"NoPlaceBeatsBadIndex", false, 7, false,
                                                           StatusMissingArgument},
                                           MapArgumentCase{"IndexSeven", true, 7, true, StatusBadBarIndex},
                                           MapArgumentCase{"Index255", true, 255, true, StatusBadBarIndex},
                                           MapArgumentCase{"BadIndexBeatsHandle", true, 7, false, StatusBadBarIndex},
                                           MapArgumentCase{"HandleNotOpen", true, 2, false, StatusNotOpen}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PciAccess, MapBarWindowTwiceSendsOneRequest) {
  model.Add("QVZORVA-0", {.RegionSize = 8192});
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  model.ClearRequests();
  std::uint64_t first = 0, second = 0;
  std::uint32_t firstSize = 0, secondSize = 0;
  ASSERT_EQ(MapBarWindow(handle, 2, &first, &firstSize), StatusOk);
  ASSERT_EQ(MapBarWindow(handle, 2, &second, &secondSize), StatusOk);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(second, first);
  EXPECT_EQ(firstSize, 8192u);
  EXPECT_EQ(secondSize, 8192u);
  const auto requests = model.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Code, Map);
  EXPECT_EQ(requests[0].Index, 2);

  // The address is the driver's region, in this process.
  test::PokeWord(model.Region("QVZORVA-0", 2), 64, 0xCAFEF00D);
  EXPECT_EQ(test::PeekWord(reinterpret_cast<std::uint8_t*>(first), 64), 0xCAFEF00Du);
}

class PciAccessMapWithoutAddress : public PciAccess, public ::testing::WithParamInterface<DriverStatus> {};

TEST_P(PciAccessMapWithoutAddress, LeavesTheRegionRequestedUntilTheBoardIsClosed) {
  model.Add("QVZORVA-0", {.MapsRegions = false, .MapStatus = GetParam()});
  DeviceHandle handle = OpenNamed("QVZORVA-0");
  std::uint64_t address = 5;
  EXPECT_EQ(MapBarWindow(handle, 2, &address), GetParam());
  EXPECT_EQ(address, 0u);
  EXPECT_EQ(FindBoard(handle)->Regions[2].Address, 0u);
  EXPECT_TRUE(FindBoard(handle)->Regions[2].MapRequested);
  model.ClearRequests();
  EXPECT_EQ(MapBarWindow(handle, 2, &address), StatusMapRequested);
  EXPECT_EQ(MapBarWindow(handle, 2, &address), StatusMapRequested);
  EXPECT_EQ(address, 0u);
  EXPECT_TRUE(model.Steps().empty());

  ASSERT_EQ(CloseBoard(handle), StatusOk);
  EXPECT_TRUE(model.Steps().empty());  // nothing was mapped, so nothing is unmapped
  handle = OpenNamed("QVZORVA-0");
  model.ClearRequests();
  EXPECT_EQ(MapBarWindow(handle, 2, &address), GetParam());
  EXPECT_EQ(model.Steps(), (std::vector<Step>{{"QVZORVA-0", Map}}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, PciAccessMapWithoutAddress, ::testing::Values(StatusOk, DriverStatus{0x263}));

TEST_F(PciAccess, DriverThatWentAwayAnswersNothingStale) {
  model.Add("QVZORVA-0");
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  model.Stop("QVZORVA-0");
  // The last reply left the version at 8 and a locator from 12 on; none of
  // it may come back as an address.
  std::uint64_t address = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(MapBarWindow(handle, 2, &address, &size), StatusFailed);
  EXPECT_EQ(address, 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(WriteBridgeRegister(handle, 0x28, 1), StatusFailed);
  std::uint8_t major = 9, minor = 9, revision = 9;
  EXPECT_EQ(QueryDriverVersion(handle, &major, &minor, &revision), StatusFailed);
  EXPECT_EQ(major + minor + revision, 0);
  EXPECT_EQ(CloseBoard(handle), StatusOk);
}

// ---- UnmapBarWindow ----

TEST_F(PciAccess, UnmapBarWindowRefusals) {
  model.Add("QVZORVA-0");
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  std::uint64_t mapped = 0;
  ASSERT_EQ(MapBarWindow(handle, 2, &mapped), StatusOk);
  model.ClearRequests();

  std::uint64_t zero = 0, stranger = mapped + 4096, known = mapped;
  EXPECT_EQ(UnmapBarWindow(handle, nullptr), StatusMissingArgument);
  EXPECT_EQ(UnmapBarWindow(handle, &zero), StatusNoSuchMapping);
  EXPECT_EQ(UnmapBarWindow(handle + 100, &known), StatusNotOpen);
  EXPECT_EQ(UnmapBarWindow(handle, &stranger), StatusNoSuchMapping);
  EXPECT_EQ(stranger, mapped + 4096);
  EXPECT_EQ(known, mapped);
  EXPECT_TRUE(model.Steps().empty());
}

TEST_F(PciAccess, UnmapBarWindowReleasesOnlyThatRegion) {
  model.Add("QVZORVA-0", {.ReplyStatus = 0x250});
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  std::uint64_t two = 0, five = 0;
  ASSERT_EQ(MapBarWindow(handle, 2, &two), StatusOk);
  ASSERT_EQ(MapBarWindow(handle, 5, &five), StatusOk);
  model.ClearRequests();

  std::uint64_t address = five;
  EXPECT_EQ(UnmapBarWindow(handle, &address), 0x250);  // the driver's status, whatever it is
  EXPECT_EQ(address, 0u);
  const auto requests = model.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Code, Unmap);
  EXPECT_EQ(requests[0].Index, 5);
  EXPECT_EQ(requests[0].Address, five);
  EXPECT_FALSE(Mapped(five));
  EXPECT_FALSE(FindBoard(handle)->Regions[5].MapRequested);

  model.ClearRequests();
  std::uint64_t again = 0;
  EXPECT_EQ(MapBarWindow(handle, 2, &again), StatusOk);
  EXPECT_EQ(again, two);
  EXPECT_EQ(MapBarWindow(handle, 5, &again), StatusOk);
  EXPECT_NE(again, 0u);
  EXPECT_EQ(model.Steps(), (std::vector<Step>{{"QVZORVA-0", Map}}));
}

// ---- WriteBridgeRegister, QueryDriverVersion ----

TEST_F(PciAccess, WriteBridgeRegisterPassesOffsetAndValue) {
  model.Add("QVZORVA-0", {.ReplyStatus = 0x299});
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  model.ClearRequests();
  EXPECT_EQ(WriteBridgeRegister(handle, 0x28, 0x50508000), 0x299);
  EXPECT_EQ(WriteBridgeRegister(handle + 100, 0x28, 0x50508000), StatusNotOpen);
  const auto requests = model.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Code, Bridge);
  EXPECT_EQ(requests[0].Index, 0x28);
  EXPECT_EQ(requests[0].Value, 0x50508000u);
}

TEST_F(PciAccess, QueryDriverVersionSplitsTheValue) {
  model.Add("QVZORVA-0", {.Version = 0xFF030201});
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  std::uint8_t major = 0, minor = 0, revision = 0;
  EXPECT_EQ(QueryDriverVersion(handle, &major, &minor, &revision), StatusOk);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 2);
  EXPECT_EQ(revision, 1);
  EXPECT_EQ(QueryDriverVersion(handle, nullptr, &minor, &revision), StatusMissingArgument);
  EXPECT_EQ(QueryDriverVersion(handle, &major, &minor, nullptr), StatusMissingArgument);
  EXPECT_EQ(QueryDriverVersion(handle + 100, &major, &minor, &revision), StatusNotOpen);
}

// ---- UnmapDriverBuffer ----

struct BufferCase {
  const char* name;
  bool withPlace;
  std::uint32_t address;
  bool openHandle;
  BufferDescriptor recorded;
  DriverStatus driverStatus;
  DriverStatus expected;
  bool sent;
};

class PciAccessDriverBuffer : public PciAccess, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(PciAccessDriverBuffer, Unmap) {
  const BufferCase& c = GetParam();
  model.Add("QVZORVA-0", {.ReplyStatus = c.driverStatus});
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  FindBoard(handle)->Buffer = c.recorded;
  model.ClearRequests();

  std::uint32_t address = c.address;
  EXPECT_EQ(UnmapDriverBuffer(c.openHandle ? handle : handle + 100, c.withPlace ? &address : nullptr), c.expected);
  const bool cleared = c.expected == StatusOk;
  EXPECT_EQ(address, cleared ? 0u : c.address);
  EXPECT_EQ(FindBoard(handle)->Buffer.UserAddress, cleared ? 0u : c.recorded.UserAddress);
  const auto requests = model.Requests();
  ASSERT_EQ(requests.size(), c.sent ? 1u : 0u);
  if (c.sent) {
    EXPECT_EQ(requests[0].Code, UnmapBuffer);
    EXPECT_EQ(requests[0].Descriptor, (std::array<std::uint32_t, 3>{c.recorded.UserAddress, c.recorded.Second,
                                                                    c.recorded.Third}));
  }
  FindBoard(handle)->Buffer = {};  // nothing for the shut-down to release
}

constexpr BufferDescriptor Described{0x7000, 0x10, 0x20};

INSTANTIATE_TEST_SUITE_P(
    Cases, PciAccessDriverBuffer,
    ::testing::Values(
        BufferCase{"NoPlace", false, 0x7000, true, Described, StatusOk, StatusMissingArgument, false},
        BufferCase{"AddressZero", true, 0, true, Described, StatusOk, StatusNoSuchMapping, false},
        BufferCase{"HandleNotOpen", true, 0x7000, false, Described, StatusOk, StatusNotOpen, false},
        BufferCase{"OtherAddress", true, 0x7004, true, Described, StatusOk, StatusNoSuchMapping, false},
        BufferCase{"NoSecondWord", true, 0x7000, true, {0x7000, 0, 0x20}, StatusOk, StatusBadDescriptor, false},
        BufferCase{"NoThirdWord", true, 0x7000, true, {0x7000, 0x10, 0}, StatusOk, StatusBadDescriptor, false},
        BufferCase{"Unmapped", true, 0x7000, true, Described, StatusOk, StatusOk, true},
        BufferCase{"DriverRefuses", true, 0x7000, true, Described, 0x260, 0x260, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PciAccess, CloseBoardUnmapsTheDriverBuffer) {
  model.Add("QVZORVA-0");
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  FindBoard(handle)->Buffer = Described;
  model.ClearRequests();
  EXPECT_EQ(CloseBoard(handle), StatusOk);
  EXPECT_EQ(model.Steps(), (std::vector<Step>{{"QVZORVA-0", UnmapBuffer}}));
}

// ---- shut-down and the pool ----

TEST_F(PciAccess, ShutDownClosesBoardsInOpeningOrderThenReleasesThePool) {
  model.Add("QVZORVA-1");
  model.Add("QVZORVA-0");
  const DeviceHandle first = OpenNamed("QVZORVA-1");
  const DeviceHandle second = OpenNamed("QVZORVA-0");
  std::uint64_t a2 = 0, a4 = 0, b2 = 0;
  ASSERT_EQ(MapBarWindow(second, 2, &b2), StatusOk);
  ASSERT_EQ(MapBarWindow(first, 4, &a4), StatusOk);
  ASSERT_EQ(MapBarWindow(first, 2, &a2), StatusOk);
  model.ClearRequests();

  PciAccessEntry(PciAccessShutDown);
  const auto requests = model.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Device, "QVZORVA-1");
  EXPECT_EQ(requests[0].Index, 2);
  EXPECT_EQ(requests[0].Address, a2);
  EXPECT_EQ(requests[1].Device, "QVZORVA-1");
  EXPECT_EQ(requests[1].Index, 4);
  EXPECT_EQ(requests[1].Address, a4);
  EXPECT_EQ(requests[2].Device, "QVZORVA-0");
  EXPECT_EQ(requests[2].Index, 2);
  EXPECT_EQ(requests[2].Address, b2);
  for (const auto& request : requests) EXPECT_EQ(request.Code, Unmap);
  EXPECT_EQ(OpenBoards, nullptr);
  EXPECT_EQ(RequestPool, nullptr);
  EXPECT_EQ(fcntl(static_cast<int>(first), F_GETFD), -1);
  EXPECT_EQ(fcntl(static_cast<int>(second), F_GETFD), -1);
}

TEST_F(PciAccess, PoolHoldsOnlyWhatWasInUseAtOnce) {
  model.Add("QVZORVA-0");
  const DeviceHandle handle = OpenNamed("QVZORVA-0");
  std::uint64_t address = 0;
  MapBarWindow(handle, 2, &address);
  WriteBridgeRegister(handle, 0x28, 1);
  EXPECT_EQ(PoolBlocks(), 1u);

  model.Add("Pci9054-0", {.Matches = {test::ModelLocator("QVZORVA-0")}});
  BoardLocator criteria = MakeLocator("");
  ASSERT_EQ(SearchBoard(&criteria, 0), StatusOk);
  EXPECT_EQ(PoolBlocks(), 2u);  // the search's own block and one for each request of the bridge driver
  for (RequestBlock* block = RequestPool; block != nullptr; block = block->Next) {
    EXPECT_FALSE(block->InUse.load());
    EXPECT_NE(block->Overlapped.event, platform::NoEvent);
  }
}

// ---- SearchBoard ----

struct SearchCase {
  const char* name;
  std::vector<std::pair<std::string, std::size_t>> bridges;  // driver name and how many boards it finds
  std::uint32_t wanted;
  DriverStatus expected;
  std::string found;                 // name of the board whose locator the caller gets
  std::vector<std::string> asked;    // bridge devices that receive a search request
  std::vector<std::uint32_t> sent;   // the index each of them is sent
};

class PciAccessSearch : public PciAccess, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(PciAccessSearch, AsksTheBridgeDriversInOrder) {
  const SearchCase& c = GetParam();
  for (const auto& [bridge, count] : c.bridges) {
    test::DeviceSetup setup;
    for (std::size_t i = 0; i < count; ++i) setup.Matches.push_back(test::ModelLocator(bridge + "-b" + std::to_string(i)));
    model.Add(bridge + "-0", setup);
  }
  BoardLocator criteria = MakeLocator("");
  criteria.FirstIdentifier = 0x1234;
  const BoardLocator asked = criteria;

  EXPECT_EQ(SearchBoard(&criteria, c.wanted), c.expected);
  if (c.found.empty()) {
    EXPECT_TRUE(SameLocator(criteria, asked));
  } else {
    EXPECT_TRUE(SameLocator(criteria, test::ModelLocator(c.found)));
  }

  std::vector<std::string> searched;
  std::vector<std::uint32_t> sent;
  for (const auto& request : model.Requests()) {
    if (request.Code != Search) continue;
    searched.push_back(request.Device);
    sent.push_back(request.Value);
    EXPECT_TRUE(SameLocator(request.Locator, asked));
  }
  EXPECT_EQ(searched, c.asked);
  EXPECT_EQ(sent, c.sent);
  EXPECT_EQ(OpenBoards, nullptr);  // every bridge device is closed again
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciAccessSearch,
    ::testing::Values(
        SearchCase{"SecondDriverFindsOne", {{"Pci9054", 1}, {"Pci9030", 3}}, 0, StatusOk, "Pci9054-b0",
                   {"Pci9054-0"}, {0}},
        SearchCase{"MatchesCountAcrossDrivers", {{"Pci9054", 1}, {"Pci9030", 2}, {"Pci9656", 5}}, 2, StatusOk,
                   "Pci9030-b1", {"Pci9054-0", "Pci9030-0"}, {2, 1}},
        SearchCase{"LastDriverInTheTable", {{"Pci9656", 1}}, 0, StatusOk, "Pci9656-b0", {"Pci9656-0"}, {0}},
        SearchCase{"NotEnoughMatches", {{"Pci9080", 1}, {"Pci9056", 1}}, 2, StatusFailed, "",
                   {"Pci9080-0", "Pci9056-0"}, {2, 1}},
        SearchCase{"DriversWithoutMatches", {{"Pci480", 0}}, 0, StatusFailed, "", {"Pci480-0"}, {0}},
        SearchCase{"NoDriverOpens", {}, 0, StatusNoDriver, "", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PciAccess, SearchWithoutALocator) { EXPECT_EQ(SearchBoard(nullptr, 0), StatusMissingArgument); }

}  // namespace
}  // namespace qvr
