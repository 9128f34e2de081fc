// Linux implementation of device I/O: character devices through ioctl, and
// user-space drivers through the socket protocol of device_protocol.h.
#include "platform/device_io.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

#include "platform/device_protocol.h"

namespace qvr::platform {

namespace {

// Marks a request in flight in OverlappedRecord::internal.
constexpr std::uintptr_t RequestPending = 0x103;

// How long a user-space driver may take to answer one request.
constexpr int ReplyTimeoutSeconds = 10;

// Most descriptors a reply may carry; extra ones are closed unused.
constexpr std::size_t MaxReplyDescriptors = 4;

struct OpenDeviceRecord {
  bool isSocket = false;
  bool broken = false;                      // a socket driver that failed once
  std::map<std::uintptr_t, std::size_t> regions;  // views mapped for this device: address -> length
  std::mutex exchange;                      // one request at a time per device
};

std::mutex devicesLock;
std::map<int, std::shared_ptr<OpenDeviceRecord>> devices;

std::shared_ptr<OpenDeviceRecord> FindDevice(DeviceHandle device) {
  std::lock_guard guard(devicesLock);
  const auto found = devices.find(static_cast<int>(device));
  return found == devices.end() ? nullptr : found->second;
}

int ConnectSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const timeval timeout{ReplyTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Maps `size` bytes of a memory object received with a map reply. nullptr
// when the object is not one or is shorter than claimed.
void* MapRegion(int fd, std::uint64_t size) {
  struct stat info {};
  if (size == 0 || size > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < size) {
    return nullptr;
  }
  void* view = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

// One request and its reply over a user-space driver's socket.
bool SocketExchange(int fd, OpenDeviceRecord& record, std::uint32_t code, std::uint8_t* buffer) {
  if (record.broken) return false;

  if (code == RequestUnmapRegion) {
    const auto found = record.regions.find(static_cast<std::uintptr_t>(ReadRequestAddress(buffer)));
    if (found != record.regions.end()) {
      munmap(reinterpret_cast<void*>(found->first), found->second);
      record.regions.erase(found);
    }
  }

  DeviceRequestMessage request{};
  request.code = code;
  std::memcpy(request.buffer, buffer, RequestBufferSize);
  if (send(fd, &request, sizeof(request), MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof(request))) {
    record.broken = true;
    return false;
  }

  DeviceReplyMessage reply{};
  iovec part{&reply, sizeof(reply)};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * MaxReplyDescriptors)] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const ssize_t got = recvmsg(fd, &message, MSG_CMSG_CLOEXEC);

  int regionFd = -1;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); got >= 0 && header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int received = -1;
      std::memcpy(&received, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
      if (regionFd < 0) {
        regionFd = received;
      } else {
        close(received);
      }
    }
  }

  const bool whole = got == static_cast<ssize_t>(sizeof(reply)) && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
  if (!whole) {
    if (regionFd >= 0) close(regionFd);
    record.broken = true;
    return false;
  }

  std::memcpy(buffer, reply.buffer, RequestBufferSize);
  if (code == RequestMapRegion) {
    std::uint64_t address = 0;
    std::uint32_t size = 0;
    if (regionFd >= 0) {
      if (void* view = MapRegion(regionFd, reply.regionSize)) {
        address = reinterpret_cast<std::uintptr_t>(view);
        size = static_cast<std::uint32_t>(reply.regionSize);
        record.regions[address] = size;
      } else {
        buffer[StatusOffset] = static_cast<std::uint8_t>(MapFailedStatus);
        buffer[StatusOffset + 1] = static_cast<std::uint8_t>(MapFailedStatus >> 8);
      }
    }
    WriteRequestAddress(buffer, address);
    WriteRegionSize(buffer, size);
  }
  if (regionFd >= 0) close(regionFd);
  return true;
}

}  // namespace

std::string DeviceDirectory() {
  const char* folder = std::getenv("QVR_DEVICE_DIR");
  return folder != nullptr && *folder != '\0' ? folder : "/dev";
}

std::string DevicePath(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return {};
  }
  return DeviceDirectory() + "/" + name;
}

DeviceHandle OpenDevice(const std::string& name) {
  const std::string path = DevicePath(name);
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0) return InvalidDevice;

  auto record = std::make_shared<OpenDeviceRecord>();
  int fd = -1;
  if (S_ISSOCK(info.st_mode)) {
    fd = ConnectSocket(path);
    record->isSocket = true;
  } else if (S_ISCHR(info.st_mode)) {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return InvalidDevice;

  std::lock_guard guard(devicesLock);
  devices[fd] = std::move(record);
  return fd;
}

void CloseDevice(DeviceHandle device) {
  std::shared_ptr<OpenDeviceRecord> record;
  {
    std::lock_guard guard(devicesLock);
    const auto found = devices.find(static_cast<int>(device));
    if (found == devices.end()) return;
    record = std::move(found->second);
    devices.erase(found);
  }
  std::lock_guard exchange(record->exchange);
  for (const auto& [address, size] : record->regions) munmap(reinterpret_cast<void*>(address), size);
  record->regions.clear();
  close(static_cast<int>(device));
}

bool DeviceControl(DeviceHandle device, std::uint32_t code, std::uint8_t* buffer36, OverlappedRecord& overlapped) {
  const auto record = FindDevice(device);
  if (!record || buffer36 == nullptr) return false;
  std::lock_guard exchange(record->exchange);
  overlapped.internal = RequestPending;
  const bool answered = record->isSocket
                            ? SocketExchange(static_cast<int>(device), *record, code, buffer36)
                            : ioctl(static_cast<int>(device), static_cast<unsigned long>(code), buffer36) >= 0;
  overlapped.internal = 0;
  return answered;
}

EventHandle CreateManualResetEvent() {
  const int fd = eventfd(0, EFD_CLOEXEC);
  return fd < 0 ? NoEvent : fd;
}

void CloseEvent(EventHandle event) {
  if (event >= 0) close(static_cast<int>(event));
}

bool RequestStillIncomplete(const OverlappedRecord& overlapped) { return overlapped.internal == RequestPending; }

}  // namespace qvr::platform
