// How a user-space driver stands in for the card's kernel driver.
//
// A device "NAME" lives at DeviceDirectory()/NAME. A character device there
// is driven with ioctl(fd, code, buffer) on the 36-byte request buffer. A
// Unix-domain socket there (SOCK_SEQPACKET) is a user-space driver:
//
//   client -> server   DeviceRequestMessage  (code and the 36-byte buffer)
//   server -> client   DeviceReplyMessage    (the 36-byte buffer as the driver
//                                             left it, and a region size)
//
// For request 0x22201C (map region), a server that maps the region sends one
// file descriptor with the reply (SCM_RIGHTS) and sets regionSize. The client
// maps regionSize bytes of it shared, read-write, and puts the address into
// the reply buffer; no descriptor means address 0.
//
// Addresses are 64-bit: wherever a request or reply carries an address (the
// value of 0x22201C's reply, the address given to 0x222020), its low 32 bits
// stand at offset 8 and its high 32 bits at offset 12 (the locator field,
// which these two requests do not otherwise use). BarSlot addresses are held
// as 64-bit values accordingly. For 0x222020 the client unmaps its view
// before it passes the request on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qvr::platform {

inline constexpr std::size_t RequestBufferSize = 36;

inline constexpr std::uint32_t RequestOpen = 0x222000;
inline constexpr std::uint32_t RequestVersion = 0x222004;
inline constexpr std::uint32_t RequestSearch = 0x222010;
inline constexpr std::uint32_t RequestMapRegion = 0x22201C;
inline constexpr std::uint32_t RequestUnmapRegion = 0x222020;
inline constexpr std::uint32_t RequestUnmapBuffer = 0x222030;
inline constexpr std::uint32_t RequestWriteBridge = 0x22204C;

struct DeviceRequestMessage {
  std::uint32_t code;
  std::uint8_t buffer[RequestBufferSize];
};

struct DeviceReplyMessage {
  std::uint8_t buffer[RequestBufferSize];
  std::uint64_t regionSize;  // bytes behind the descriptor sent with a map reply
};

// What a user-space driver answers for one request. It edits `buffer` in
// place; to map a region it sets regionFd (kept open by the server; the
// layer sends a duplicate) and regionSize.
struct DeviceAnswer {
  int regionFd = -1;
  std::uint64_t regionSize = 0;
};
using DeviceHandler = std::function<DeviceAnswer(std::uint32_t code, std::uint8_t* buffer)>;

// Serves one device path until `stop` reads true (checked at least every
// 100 ms). Creates the socket at `path`, replacing a stale one, and removes
// it on return. Each client connection is served in turn as its requests
// arrive; the handler runs on the calling thread. False when the socket
// cannot be created.
bool ServeDevice(const std::string& path, const DeviceHandler& handler, const std::atomic<bool>& stop);

}  // namespace qvr::platform
