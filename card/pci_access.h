// PCI driver access: opens the card's driver devices by name, keeps the list
// of open boards, maps their PCI memory regions into the process and writes
// bridge registers. Every request goes to the driver as one 36-byte request
// buffer (request_buffer.h) taken from the request pool.
//
// Call PciAccessEntry(PciAccessInitialise) before anything else and
// PciAccessEntry(PciAccessShutDown) last. When no request block can be
// allocated an operation sends nothing and returns StatusNoMemory. When the
// driver cannot be reached at all, the operation reads no reply: its status
// is StatusFailed, and addresses and values are 0.
#pragma once

#include <cstdint>

#include "card/driver_status.h"
#include "card/request_buffer.h"
#include "platform/device_io.h"

namespace qvr {

inline constexpr std::uint32_t PciAccessShutDown = 0;
inline constexpr std::uint32_t PciAccessInitialise = 1;

// Initialise: empties both lists without releasing what they held.
// Shut down: closes every open board, first opened first, then releases the
// request pool. Other reasons do nothing. The further arguments are ignored.
// Always true.
bool PciAccessEntry(std::uint32_t reason, std::uintptr_t unused1 = 0, std::uintptr_t unused2 = 0);

// Opens the device named by `locator` (found by SearchBoard with index 0 when
// the name is empty), registers it and copies the driver's locator of it over
// `locator`. `handle` receives the device, or InvalidDevice on failure.
// StatusMissingArgument, a search's failure, StatusFailed when the device
// cannot be opened or does not answer, StatusNoMemory.
DriverStatus OpenBoard(BoardLocator* locator, platform::DeviceHandle* handle);

// Unmaps the board's regions, unregisters it and closes the device.
// StatusFailed, leaving the handle alone, when it is not an open board.
DriverStatus CloseBoard(platform::DeviceHandle handle);

// Asks the bridge drivers of DriverNames in turn for boards matching
// `locator`; the `wantedIndex`th match (counted over all drivers) is copied
// over `locator`. StatusFailed when there are not enough matches,
// StatusNoDriver when no bridge driver could be opened.
DriverStatus SearchBoard(BoardLocator* locator, std::uint32_t wantedIndex);

// The driver's version. StatusOk whatever the driver reports.
DriverStatus QueryDriverVersion(platform::DeviceHandle handle, std::uint8_t* major, std::uint8_t* minor,
                                std::uint8_t* revision);

// Maps region `index` (0..6) of the board once; later calls return the
// recorded address without asking the driver. A request that brought no
// address leaves the region unmappable (StatusMapRequested) until the board
// is closed. `address` is 0 unless mapped; `size`, when given, receives the
// mapping's length as the driver reported it (0 when unknown). Returns the
// driver's status.
DriverStatus MapBarWindow(platform::DeviceHandle handle, std::uint8_t index, std::uint64_t* address,
                          std::uint32_t* size = nullptr);

// Unmaps the region mapped at `*address` and sets `*address` to 0. Returns
// the driver's status; StatusNoSuchMapping when no region of the board is
// mapped there.
DriverStatus UnmapBarWindow(platform::DeviceHandle handle, std::uint64_t* address);

// Writes a bridge register. Returns the driver's status.
DriverStatus WriteBridgeRegister(platform::DeviceHandle handle, std::uint16_t offset, std::uint32_t value);

// Unmaps the driver buffer whose user address is `*address`; on StatusOk
// sets it to 0. Returns the driver's status.
DriverStatus UnmapDriverBuffer(platform::DeviceHandle handle, std::uint32_t* address);

}  // namespace qvr
