// Device I/O to the card's driver: open a device by name, send device-control
// requests with the 36-byte request buffer, events, and the "still
// incomplete" question. Linux: devices live in DeviceDirectory() (/dev, or the
// folder named by QVR_DEVICE_DIR); a character device there is driven with
// ioctl, a socket there is a user-space driver (device_protocol.h).
#pragma once

#include <cstdint>
#include <string>

namespace qvr::platform {

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle InvalidDevice = -1;
using EventHandle = std::intptr_t;
inline constexpr EventHandle NoEvent = -1;

// The overlapped-I/O record that travels with each request block: two status
// words, two offset words and an event.
struct OverlappedRecord {
  std::uintptr_t internal = 0;
  std::uintptr_t internalHigh = 0;
  std::uint32_t offset = 0;
  std::uint32_t offsetHigh = 0;
  EventHandle event = NoEvent;
};

// QVR_DEVICE_DIR when set and not empty, else /dev.
std::string DeviceDirectory();
// The device path for a device name ("\\.\NAME" on Windows): DeviceDirectory()
// + "/" + name. Empty for a name that is not a plain file name (empty, ".",
// "..", or containing '/').
std::string DevicePath(const std::string& name);

// Opens an existing device (a character device or a user-space driver's
// socket) for reading and writing; not inherited by child processes.
// InvalidDevice on failure.
DeviceHandle OpenDevice(const std::string& name);
// Closes a device opened by OpenDevice and releases the regions it mapped.
void CloseDevice(DeviceHandle device);

// Sends one request with `buffer36` as input and output and waits for the
// reply: the driver's reply is in the buffer when this returns true. False
// when the request could not be delivered or answered (the buffer is then as
// it was); a user-space driver that fails once is not asked again.
bool DeviceControl(DeviceHandle device, std::uint32_t code, std::uint8_t* buffer36, OverlappedRecord& overlapped);

// An unnamed event, manual reset, not signalled. NoEvent on failure.
EventHandle CreateManualResetEvent();
void CloseEvent(EventHandle event);

// True while the request last made with `overlapped` has not completed.
bool RequestStillIncomplete(const OverlappedRecord& overlapped);

}  // namespace qvr::platform
