// A stand-in for the card's PCI driver, for tests: each device it provides is
// a user-space driver served on its own thread in a temporary device folder
// (QVR_DEVICE_DIR points there while the model lives). It answers the
// requests the access library sends, per device as configured, and records
// every request with the fields as they arrived.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "card/driver_status.h"
#include "card/request_buffer.h"

namespace qvr::test {

struct DeviceSetup {
  // Map requests: with MapsRegions a region is handed over (a memory object of
  // RegionSize bytes, one per region index); otherwise no address comes back.
  bool MapsRegions = true;
  DriverStatus MapStatus = StatusOk;
  std::uint32_t RegionSize = 4096;
  // Region 2 starts with the interface header: the magic when Magic is set,
  // and AreaBOffset at offset 20.
  bool Magic = true;
  std::uint32_t AreaBOffset = 0x100;

  std::uint32_t Version = 0x00030201;  // reply to the version request
  DriverStatus ReplyStatus = StatusOk;  // unmap, bridge and buffer requests
  std::optional<BoardLocator> OpenLocator = std::nullopt;  // reply to the open request; default: ModelLocator(name)
  std::vector<BoardLocator> Matches = {};      // what a board search at this device finds
};

struct RecordedRequest {
  std::string Device;
  std::uint32_t Code = 0;
  std::uint16_t Index = 0;
  std::uint32_t Value = 0;
  std::uint64_t Address = 0;  // low word at 8, high word at 12
  BoardLocator Locator{};
  std::array<std::uint32_t, 3> Descriptor{};
};

// What a request sequence is compared by: device and code.
struct Step {
  std::string Device;
  std::uint32_t Code;
  bool operator==(const Step&) const = default;
};

// The locator the model reports for an opened device by default.
BoardLocator ModelLocator(const std::string& name);

class DriverModel {
 public:
  DriverModel();
  ~DriverModel();
  DriverModel(const DriverModel&) = delete;
  DriverModel& operator=(const DriverModel&) = delete;

  // Starts serving device `name`; returns when it accepts connections.
  void Add(const std::string& name, DeviceSetup setup = {});
  // The device's driver goes away: its socket and connections are closed.
  void Stop(const std::string& name);

  std::vector<RecordedRequest> Requests() const;
  std::vector<Step> Steps() const;
  void ClearRequests();

  // The model's own view of region `index` of device `name`; nullptr until
  // the region was handed over.
  std::uint8_t* Region(const std::string& name, std::uint8_t index);

  const std::string& Directory() const { return directory_; }

 private:
  struct MappedRegion {
    int fd = -1;
    std::uint8_t* view = nullptr;
    std::size_t size = 0;
  };
  struct Device {
    DeviceSetup setup;
    std::atomic<bool> stop{false};
    std::thread server;
    std::map<std::uint8_t, MappedRegion> regions;
  };

  void Answer(const std::string& name, Device& device, std::uint32_t code, std::uint8_t* buffer, int& regionFd,
              std::uint64_t& regionSize);
  void StopServer(Device& device);

  std::string directory_;
  std::optional<std::string> previousDirectory_;
  mutable std::mutex lock_;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, std::unique_ptr<Device>> devices_;
};

// A POSIX shared-memory object made for one test under a unique name (spaces
// included, like the real one), removed again when the test ends.
class ScopedSharedMemory {
 public:
  explicit ScopedSharedMemory(std::size_t size);
  ~ScopedSharedMemory();
  ScopedSharedMemory(const ScopedSharedMemory&) = delete;
  ScopedSharedMemory& operator=(const ScopedSharedMemory&) = delete;

  const std::string& Name() const { return name_; }
  std::uint8_t* View() const { return view_; }
  std::size_t Size() const { return size_; }

 private:
  std::string name_;
  std::uint8_t* view_ = nullptr;
  std::size_t size_ = 0;
};

// A driver that answers every request with the same bytes, of whatever
// length, to its first client; for replies the protocol does not allow.
class RawServer {
 public:
  RawServer(const std::string& path, std::vector<std::uint8_t> reply);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  int Requests() const { return requests_; }

 private:
  void Run();

  std::vector<std::uint8_t> reply_;
  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
};

// A name no other test run uses.
std::string UniqueName(const std::string& stem);

// Little-endian word access to a view, for setting up and checking memory.
std::uint32_t PeekWord(const std::uint8_t* view, std::size_t offset);
void PokeWord(std::uint8_t* view, std::size_t offset, std::uint32_t value);

}  // namespace qvr::test
