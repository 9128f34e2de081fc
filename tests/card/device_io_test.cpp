// Device I/O: device paths, character devices, and user-space drivers served
// over the socket protocol (by ServeDevice, or by a raw server that misbehaves).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_protocol.h"
#include "tests/card/driver_model.h"

namespace qvr::platform {
namespace {

using Buffer = std::array<std::uint8_t, RequestBufferSize>;

Buffer Pattern(std::uint8_t start) {
  Buffer buffer;
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(start + i);
  return buffer;
}

std::uint16_t StatusOf(const Buffer& buffer) { return static_cast<std::uint16_t>(buffer[0] | buffer[1] << 8); }

bool Mapped(std::uint64_t address, std::size_t size) {
  return msync(reinterpret_cast<void*>(address), size, MS_ASYNC) == 0;
}

int OpenDescriptors() {
  int count = 0;
  DIR* folder = opendir("/proc/self/fd");
  while (readdir(folder) != nullptr) ++count;
  closedir(folder);
  return count;
}

int MakeMemory(std::uint64_t size) {
  const int fd = memfd_create("qvr-test-region", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  return fd;
}

// A temporary device folder named by QVR_DEVICE_DIR, and servers in it.
class DeviceFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/qvr-dev-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    directory_ = folder;
    setenv("QVR_DEVICE_DIR", folder, 1);
  }
  void TearDown() override {
    for (auto& server : servers_) {
      server.stop->store(true);
      server.thread.join();
    }
    std::filesystem::remove_all(directory_);
    unsetenv("QVR_DEVICE_DIR");
  }

  std::string PathOf(const std::string& name) const { return directory_ + "/" + name; }

  // Serves `name` with `handler` until the test ends.
  void Serve(const std::string& name, DeviceHandler handler) {
    auto stop = std::make_unique<std::atomic<bool>>(false);
    std::promise<void> ready;
    auto started = ready.get_future();
    std::atomic<bool>* flag = stop.get();
    std::thread thread([path = PathOf(name), handler = std::move(handler), flag, &ready] {
      ServeDevice(path, handler, *flag, [&] { ready.set_value(); });
    });
    started.wait();
    servers_.push_back({std::move(stop), std::move(thread)});
  }

  std::string directory_;
  struct Server {
    std::unique_ptr<std::atomic<bool>> stop;
    std::thread thread;
  };
  std::vector<Server> servers_;
};

// ---- device names and paths ----

struct DirectoryCase {
  const char* environment;  // nullptr: unset
  const char* expected;
};

class DeviceDirectoryChoice : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(DeviceDirectoryChoice, FollowsTheEnvironment) {
  if (GetParam().environment == nullptr) {
    unsetenv("QVR_DEVICE_DIR");
  } else {
    setenv("QVR_DEVICE_DIR", GetParam().environment, 1);
  }
  EXPECT_EQ(DeviceDirectory(), GetParam().expected);
  EXPECT_EQ(DevicePath("QVZORVA-0"), std::string(GetParam().expected) + "/QVZORVA-0");
  unsetenv("QVR_DEVICE_DIR");
}

INSTANTIATE_TEST_SUITE_P(Environments, DeviceDirectoryChoice,
                         ::testing::Values(DirectoryCase{nullptr, "/dev"}, DirectoryCase{"", "/dev"},
                                           DirectoryCase{"/tmp/qvr devices", "/tmp/qvr devices"}));

class DevicePathRefusal : public ::testing::TestWithParam<std::string> {};

TEST_P(DevicePathRefusal, NamesThatLeaveTheFolder) {
  EXPECT_EQ(DevicePath(GetParam()), "");
  EXPECT_EQ(OpenDevice(GetParam()), InvalidDevice);
}

INSTANTIATE_TEST_SUITE_P(Names, DevicePathRefusal,
                         ::testing::Values("", ".", "..", "../null", "a/b", "/null", std::string("nu\0ll", 5)));

// ---- what may be opened ----

TEST_F(DeviceFolder, OnlyDevicesAndDriverSocketsOpen) {
  std::ofstream(PathOf("plain-file")) << "not a device";
  mkdir(PathOf("folder").c_str(), 0700);
  mkfifo(PathOf("fifo").c_str(), 0600);
  for (const char* name : {"missing", "plain-file", "folder", "fifo"}) {
    EXPECT_EQ(OpenDevice(name), InvalidDevice) << name;
  }
  // A socket nobody serves any more.
  const int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, PathOf("stale").c_str());
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  close(stale);
  EXPECT_EQ(OpenDevice("stale"), InvalidDevice);
}

TEST(CharacterDevice, IoctlThatTheDeviceRefusesIsNotAnswered) {
  setenv("QVR_DEVICE_DIR", "/dev", 1);
  const DeviceHandle device = OpenDevice("null");
  unsetenv("QVR_DEVICE_DIR");
  ASSERT_NE(device, InvalidDevice);
  EXPECT_NE(fcntl(static_cast<int>(device), F_GETFD) & FD_CLOEXEC, 0);
  Buffer buffer = Pattern(1);
  OverlappedRecord overlapped;
  EXPECT_FALSE(DeviceControl(device, RequestVersion, buffer.data(), overlapped));
  EXPECT_EQ(buffer, Pattern(1));
  EXPECT_FALSE(RequestStillIncomplete(overlapped));
  CloseDevice(device);
}

TEST(DeviceHandles, UnknownHandleIsNotAsked) {
  Buffer buffer = Pattern(1);
  OverlappedRecord overlapped;
  EXPECT_FALSE(DeviceControl(12345, RequestVersion, buffer.data(), overlapped));
  EXPECT_EQ(buffer, Pattern(1));
}

// ---- the socket protocol ----

TEST_F(DeviceFolder, RequestReachesTheDriverAndTheReplyComesBack) {
  OverlappedRecord overlapped;
  std::vector<std::pair<std::uint32_t, Buffer>> seen;
  bool incompleteWhileServed = false;
  Serve("QVZORVA-0", [&](std::uint32_t code, std::uint8_t* buffer) {
    Buffer copy;
    std::memcpy(copy.data(), buffer, copy.size());
    seen.emplace_back(code, copy);
    incompleteWhileServed = RequestStillIncomplete(overlapped);
    for (std::size_t i = 0; i < RequestBufferSize; ++i) buffer[i] = static_cast<std::uint8_t>(0xF0 - i);
    return DeviceAnswer{};
  });

  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  Buffer buffer = Pattern(7);
  ASSERT_TRUE(DeviceControl(device, RequestWriteBridge, buffer.data(), overlapped));
  CloseDevice(device);

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, RequestWriteBridge);
  EXPECT_EQ(seen[0].second, Pattern(7));
  for (std::size_t i = 0; i < RequestBufferSize; ++i) EXPECT_EQ(buffer[i], static_cast<std::uint8_t>(0xF0 - i));
  EXPECT_TRUE(incompleteWhileServed);
  EXPECT_FALSE(RequestStillIncomplete(overlapped));
}

TEST_F(DeviceFolder, EveryOpenIsItsOwnConnection) {
  Serve("QVZORVA-0", [](std::uint32_t, std::uint8_t* buffer) {
    buffer[8] = static_cast<std::uint8_t>(buffer[8] + 1);
    return DeviceAnswer{};
  });
  const DeviceHandle first = OpenDevice("QVZORVA-0");
  const DeviceHandle second = OpenDevice("QVZORVA-0");
  ASSERT_NE(first, InvalidDevice);
  ASSERT_NE(second, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer a{}, b{};
  a[8] = 10;
  b[8] = 20;
  ASSERT_TRUE(DeviceControl(first, RequestVersion, a.data(), overlapped));
  ASSERT_TRUE(DeviceControl(second, RequestVersion, b.data(), overlapped));
  ASSERT_TRUE(DeviceControl(first, RequestVersion, a.data(), overlapped));
  EXPECT_EQ(a[8], 12);
  EXPECT_EQ(b[8], 21);
  CloseDevice(first);
  CloseDevice(second);
}

TEST_F(DeviceFolder, MappedRegionIsSharedAndUnmappedBeforeTheUnmapRequest) {
  const int memory = MakeMemory(8192);
  auto* serverView = static_cast<std::uint8_t*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0));
  std::uint64_t unmapAddress = 0;
  bool mappedWhenUnmapArrived = true;
  Serve("QVZORVA-0", [&](std::uint32_t code, std::uint8_t* buffer) {
    DeviceAnswer answer;
    if (code == RequestMapRegion) {
      std::memset(buffer + 8, 0xEE, 12);  // the client's own address and length replace these
      buffer[0] = 0x00;
      buffer[1] = 0x02;
      answer.regionFd = memory;
      answer.regionSize = 8192;
    } else if (code == RequestUnmapRegion) {
      unmapAddress = ReadRequestAddress(buffer);
      mappedWhenUnmapArrived = Mapped(unmapAddress, 8192);
    }
    return answer;
  });

  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer buffer{};
  ASSERT_TRUE(DeviceControl(device, RequestMapRegion, buffer.data(), overlapped));
  const std::uint64_t address = ReadRequestAddress(buffer.data());
  ASSERT_NE(address, 0u);
  EXPECT_EQ(ReadRegionSize(buffer.data()), 8192u);
  EXPECT_EQ(StatusOf(buffer), 0x200);

  auto* clientView = reinterpret_cast<std::uint8_t*>(address);
  clientView[8191] = 0x3C;
  EXPECT_EQ(serverView[8191], 0x3C);
  serverView[0] = 0xC3;
  EXPECT_EQ(clientView[0], 0xC3);

  Buffer unmap{};
  WriteRequestAddress(unmap.data(), address);
  ASSERT_TRUE(DeviceControl(device, RequestUnmapRegion, unmap.data(), overlapped));
  EXPECT_EQ(unmapAddress, address);
  EXPECT_FALSE(mappedWhenUnmapArrived);
  CloseDevice(device);
  munmap(serverView, 8192);
  close(memory);
}

TEST_F(DeviceFolder, ClosingTheDeviceReleasesItsViews) {
  const int memory = MakeMemory(4096);
  Serve("QVZORVA-0", [&](std::uint32_t, std::uint8_t*) { return DeviceAnswer{memory, 4096}; });
  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer buffer{};
  ASSERT_TRUE(DeviceControl(device, RequestMapRegion, buffer.data(), overlapped));
  const std::uint64_t address = ReadRequestAddress(buffer.data());
  ASSERT_TRUE(Mapped(address, 4096));
  CloseDevice(device);
  EXPECT_FALSE(Mapped(address, 4096));
  close(memory);
}

TEST_F(DeviceFolder, DescriptorWithAnotherRequestIsNotKept) {
  const int memory = MakeMemory(4096);
  Serve("QVZORVA-0", [&](std::uint32_t code, std::uint8_t*) {
    return code == RequestWriteBridge ? DeviceAnswer{memory, 4096} : DeviceAnswer{};
  });
  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer buffer = Pattern(3);
  ASSERT_TRUE(DeviceControl(device, RequestVersion, buffer.data(), overlapped));  // the server has accepted
  const int before = OpenDescriptors();
  ASSERT_TRUE(DeviceControl(device, RequestWriteBridge, buffer.data(), overlapped));
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(buffer, Pattern(3));  // not a map request: the buffer is the driver's as it was
  CloseDevice(device);
  close(memory);
}

// Map replies that do not bring a usable region: no address, no length.
struct MapReplyCase {
  const char* name;
  enum { NoDescriptor, Memory, Pipe } descriptor;
  std::uint64_t objectSize;
  std::uint64_t claimedSize;
  std::uint16_t expectedStatus;
};

class DeviceFolderMapReply : public DeviceFolder, public ::testing::WithParamInterface<MapReplyCase> {};

TEST_P(DeviceFolderMapReply, GivesAddressZero) {
  const MapReplyCase& c = GetParam();
  int fds[2] = {-1, -1};
  int descriptor = -1;
  if (c.descriptor == MapReplyCase::Memory) descriptor = MakeMemory(c.objectSize);
  if (c.descriptor == MapReplyCase::Pipe) {
    ASSERT_EQ(pipe(fds), 0);
    descriptor = fds[0];
  }
  Serve("QVZORVA-0", [&](std::uint32_t, std::uint8_t* buffer) {
    std::memset(buffer, 0xAB, RequestBufferSize);
    buffer[0] = 0x63;
    buffer[1] = 0x02;
    return DeviceAnswer{descriptor, c.claimedSize};
  });
  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer buffer{};
  ASSERT_TRUE(DeviceControl(device, RequestMapRegion, buffer.data(), overlapped));
  EXPECT_EQ(ReadRequestAddress(buffer.data()), 0u);
  EXPECT_EQ(ReadRegionSize(buffer.data()), 0u);
  EXPECT_EQ(StatusOf(buffer), c.expectedStatus);
  EXPECT_EQ(buffer[4], 0xAB);  // the rest of the reply is the driver's
  CloseDevice(device);
  if (descriptor >= 0) close(descriptor);
  if (fds[1] >= 0) close(fds[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DeviceFolderMapReply,
    ::testing::Values(MapReplyCase{"NoDescriptor", MapReplyCase::NoDescriptor, 0, 4096, 0x263},
                      MapReplyCase{"ZeroLength", MapReplyCase::Memory, 4096, 0, MapFailedStatus},
                      MapReplyCase{"LongerThanTheObject", MapReplyCase::Memory, 4096, 8192, MapFailedStatus},
                      MapReplyCase{"OverFourGiB", MapReplyCase::Memory, (1ull << 32) + 4096, (1ull << 32) + 4096,
                                   MapFailedStatus},
                      MapReplyCase{"NotAMemoryObject", MapReplyCase::Pipe, 0, 4096, MapFailedStatus}),
    [](const auto& info) { return std::string(info.param.name); });

class DeviceFolderBadReply : public DeviceFolder, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(DeviceFolderBadReply, EndsTheConversation) {
  test::RawServer server(PathOf("QVZORVA-0"), std::vector<std::uint8_t>(GetParam(), 0x11));
  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer buffer = Pattern(5);
  EXPECT_FALSE(DeviceControl(device, RequestVersion, buffer.data(), overlapped));
  EXPECT_EQ(buffer, Pattern(5));
  EXPECT_FALSE(DeviceControl(device, RequestVersion, buffer.data(), overlapped));
  EXPECT_EQ(server.Requests(), 1);
  CloseDevice(device);
}

INSTANTIATE_TEST_SUITE_P(Lengths, DeviceFolderBadReply,
                         ::testing::Values(1, RequestBufferSize, sizeof(DeviceReplyMessage) - 1,
                                           sizeof(DeviceReplyMessage) + 1, 64));

TEST_F(DeviceFolder, DriverThatWentAwayIsNotAnswered) {
  auto stop = std::make_unique<std::atomic<bool>>(false);
  std::promise<void> ready;
  std::thread server([&] {
    ServeDevice(PathOf("QVZORVA-0"), [](std::uint32_t, std::uint8_t*) { return DeviceAnswer{}; }, *stop,
                [&] { ready.set_value(); });
  });
  ready.get_future().wait();
  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  *stop = true;
  server.join();

  OverlappedRecord overlapped;
  Buffer buffer = Pattern(9);
  EXPECT_FALSE(DeviceControl(device, RequestVersion, buffer.data(), overlapped));
  EXPECT_EQ(buffer, Pattern(9));
  CloseDevice(device);
  struct stat info {};
  EXPECT_NE(stat(PathOf("QVZORVA-0").c_str(), &info), 0);  // the socket went with the server
}

// ---- serving ----

TEST_F(DeviceFolder, ServingReplacesOnlyAStaleSocket) {
  const std::string path = PathOf("QVZORVA-0");
  const int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  close(stale);

  Serve("QVZORVA-0", [](std::uint32_t, std::uint8_t* buffer) {
    buffer[8] = 0x42;
    return DeviceAnswer{};
  });
  // A second server for the same path finds the first one live.
  std::atomic<bool> stop{false};
  EXPECT_FALSE(ServeDevice(path, [](std::uint32_t, std::uint8_t*) { return DeviceAnswer{}; }, stop));

  const DeviceHandle device = OpenDevice("QVZORVA-0");
  ASSERT_NE(device, InvalidDevice);
  OverlappedRecord overlapped;
  Buffer buffer{};
  ASSERT_TRUE(DeviceControl(device, RequestVersion, buffer.data(), overlapped));
  EXPECT_EQ(buffer[8], 0x42);
  CloseDevice(device);
}

TEST_F(DeviceFolder, ServingRefusesWhatIsNotASocket) {
  const std::string path = PathOf("QVZORVA-0");
  std::ofstream(path) << "keep me";
  std::atomic<bool> stop{false};
  EXPECT_FALSE(ServeDevice(path, [](std::uint32_t, std::uint8_t*) { return DeviceAnswer{}; }, stop));
  std::ifstream kept(path);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_FALSE(ServeDevice(directory_ + "/" + std::string(120, 'x'),
                           [](std::uint32_t, std::uint8_t*) { return DeviceAnswer{}; }, stop));
}

}  // namespace
}  // namespace qvr::platform
