// How a user-space driver stands in for the card's kernel driver.
//
// A device "NAME" lives at DeviceDirectory()/NAME (device_io.h). A character
// device there is driven with ioctl(fd, code, buffer) on the 36-byte request
// buffer. A Unix-domain socket there (SOCK_SEQPACKET) is a user-space driver;
// one connection is one open device:
//
//   client -> server   DeviceRequestMessage  (the code and the 36-byte buffer
//                                             as the client left it)
//   server -> client   DeviceReplyMessage    (the buffer as the driver left
//                                             it, and a region size)
//
// Every request gets exactly one reply, in order. Messages of any other
// length end the connection.
//
// Addresses are 64-bit. Wherever a request or reply carries an address (the
// reply of RequestMapRegion, the argument of RequestUnmapRegion) its low 32
// bits stand at offset 8 and its high 32 bits at offset 12, the locator field,
// which these two requests do not otherwise use. The reply of
// RequestMapRegion also carries the region's length in bytes at offset 16
// (u32; 0 when not mapped). All little-endian.
//
// Mapping a region over a socket: the server answers RequestMapRegion with one
// file descriptor (SCM_RIGHTS) of a memory object (POSIX shared memory or
// memfd) and its length in regionSize. The client maps that many bytes of it
// shared and read-write, then writes the address and length into the reply
// buffer itself; whatever the server wrote at 8, 12 and 16 is replaced. No
// descriptor means address 0 and length 0 with the server's status. A
// descriptor that cannot be mapped (length 0, longer than the object, over
// 4 GiB) gives address 0, length 0 and status MapFailedStatus. For
// RequestUnmapRegion the client unmaps its view of that address (when it
// mapped one for this device) before it passes the request on. Closing the
// device unmaps whatever views it still has.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qvr::platform {

inline constexpr std::size_t RequestBufferSize = 36;

// Request codes 0x222000 + 4*n.
inline constexpr std::uint32_t RequestOpen = 0x222000;
inline constexpr std::uint32_t RequestVersion = 0x222004;
inline constexpr std::uint32_t RequestSearch = 0x222010;
inline constexpr std::uint32_t RequestMapRegion = 0x22201C;
inline constexpr std::uint32_t RequestUnmapRegion = 0x222020;
inline constexpr std::uint32_t RequestUnmapBuffer = 0x222030;
inline constexpr std::uint32_t RequestWriteBridge = 0x22204C;

// Offsets in the request buffer used by the address convention above.
inline constexpr std::size_t StatusOffset = 0;        // u16
inline constexpr std::size_t AddressLowOffset = 8;    // u32
inline constexpr std::size_t AddressHighOffset = 12;  // u32
inline constexpr std::size_t RegionSizeOffset = 16;   // u32

// Status the client puts into a map reply whose descriptor it cannot map.
inline constexpr std::uint16_t MapFailedStatus = 551;

struct DeviceRequestMessage {
  std::uint32_t code;
  std::uint8_t buffer[RequestBufferSize];
};
static_assert(sizeof(DeviceRequestMessage) == 40);

struct DeviceReplyMessage {
  std::uint8_t buffer[RequestBufferSize];
  std::uint32_t reserved;    // 0
  std::uint64_t regionSize;  // bytes behind the descriptor sent with a map reply
};
static_assert(sizeof(DeviceReplyMessage) == 48);

// The 64-bit address of the convention above.
std::uint64_t ReadRequestAddress(const std::uint8_t* buffer);
void WriteRequestAddress(std::uint8_t* buffer, std::uint64_t address);
std::uint32_t ReadRegionSize(const std::uint8_t* buffer);
void WriteRegionSize(std::uint8_t* buffer, std::uint32_t size);

// What a user-space driver answers for one request. The handler edits
// `buffer` in place; to map a region it sets regionFd (still owned by the
// server, which keeps it open; the socket carries a duplicate) and regionSize.
struct DeviceAnswer {
  int regionFd = -1;
  std::uint64_t regionSize = 0;
};
using DeviceHandler = std::function<DeviceAnswer(std::uint32_t code, std::uint8_t* buffer)>;

// Serves one device path until `stop` reads true (checked at least every
// 100 ms). Creates the socket at `path`, replacing a stale socket that nobody
// serves (anything else at the path, or a live server, makes it fail), calls
// `ready` once the socket accepts connections, and removes the socket on
// return. All client connections are served as their requests arrive; the
// handler runs on the calling thread. False when the socket cannot be made.
bool ServeDevice(const std::string& path, const DeviceHandler& handler, const std::atomic<bool>& stop,
                 const std::function<void()>& ready = {});

}  // namespace qvr::platform
