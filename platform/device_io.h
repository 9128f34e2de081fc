// Device I/O to the card's driver: open a device by name, send device-control
// requests with the 36-byte request buffer, events and the "still incomplete"
// question. Linux: devices live in DeviceDirectory() (/dev, or the folder
// named by QVR_DEVICE_DIR); see device_protocol.h for user-space drivers.
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

std::string DeviceDirectory();
// The device path for a device name ("\\.\NAME" on Windows).
std::string DevicePath(const std::string& name);

// Opens an existing device for reading and writing. InvalidDevice on failure.
DeviceHandle OpenDevice(const std::string& name);
void CloseDevice(DeviceHandle device);

// Sends one request; the driver's reply is in `buffer` when this returns.
// False when the request could not be delivered (the buffer is then as it was).
bool DeviceControl(DeviceHandle device, std::uint32_t code, std::uint8_t* buffer36,
                   OverlappedRecord& overlapped);

EventHandle CreateManualResetEvent();
void CloseEvent(EventHandle event);

// True when the last request made with `overlapped` is still incomplete.
bool RequestStillIncomplete(const OverlappedRecord& overlapped);

}  // namespace qvr::platform
