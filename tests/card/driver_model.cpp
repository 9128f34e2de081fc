#include "tests/card/driver_model.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <stdexcept>

#include "image/firmware_image.h"
#include "platform/device_io.h"
#include "platform/device_protocol.h"

namespace qvr::test {

namespace {

RequestBuffer Copy(const std::uint8_t* buffer) {
  RequestBuffer copy;
  std::memcpy(copy.data(), buffer, copy.size());
  return copy;
}

}  // namespace

std::string UniqueName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return stem + " " + std::to_string(getpid()) + " " + std::to_string(counter++);
}

std::uint32_t PeekWord(const std::uint8_t* view, std::size_t offset) {
  return static_cast<std::uint32_t>(view[offset]) | static_cast<std::uint32_t>(view[offset + 1]) << 8 |
         static_cast<std::uint32_t>(view[offset + 2]) << 16 | static_cast<std::uint32_t>(view[offset + 3]) << 24;
}

void PokeWord(std::uint8_t* view, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) view[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

BoardLocator ModelLocator(const std::string& name) {
  BoardLocator locator = MakeLocator(name);
  locator.Bus = 3;
  locator.Slot = 7;
  locator.FirstIdentifier = 0x10B5;
  locator.SecondIdentifier = 0x5406;
  return locator;
}

DriverModel::DriverModel() {
  char folder[] = "/tmp/qvr-card-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("no temporary folder");
  directory_ = folder;
  if (const char* previous = std::getenv("QVR_DEVICE_DIR")) previousDirectory_ = previous;
  setenv("QVR_DEVICE_DIR", directory_.c_str(), 1);
}

DriverModel::~DriverModel() {
  for (auto& [name, device] : devices_) {
    StopServer(*device);
    for (auto& [index, region] : device->regions) {
      munmap(region.view, region.size);
      close(region.fd);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
  if (previousDirectory_) {
    setenv("QVR_DEVICE_DIR", previousDirectory_->c_str(), 1);
  } else {
    unsetenv("QVR_DEVICE_DIR");
  }
}

void DriverModel::Add(const std::string& name, DeviceSetup setup) {
  auto device = std::make_unique<Device>();
  device->setup = std::move(setup);
  Device& served = *device;
  {
    std::lock_guard guard(lock_);
    devices_[name] = std::move(device);
  }
  std::promise<bool> ready;
  auto started = ready.get_future();
  served.server = std::thread([this, name, &served, &ready] {
    bool signalled = false;
    const bool ok = platform::ServeDevice(
        directory_ + "/" + name,
        [&](std::uint32_t code, std::uint8_t* buffer) {
          platform::DeviceAnswer answer;
          Answer(name, served, code, buffer, answer.regionFd, answer.regionSize);
          return answer;
        },
        served.stop,
        [&] {
          signalled = true;
          ready.set_value(true);
        });
    if (!signalled) ready.set_value(ok);
  });
  if (!started.get()) throw std::runtime_error("device " + name + " cannot be served");
}

void DriverModel::StopServer(Device& device) {
  device.stop = true;
  if (device.server.joinable()) device.server.join();
}

void DriverModel::Stop(const std::string& name) {
  Device* device = nullptr;
  {
    std::lock_guard guard(lock_);
    device = devices_.at(name).get();
  }
  StopServer(*device);
}

std::vector<RecordedRequest> DriverModel::Requests() const {
  std::lock_guard guard(lock_);
  return requests_;
}

std::vector<Step> DriverModel::Steps() const {
  std::vector<Step> steps;
  for (const RecordedRequest& request : Requests()) steps.push_back({request.Device, request.Code});
  return steps;
}

void DriverModel::ClearRequests() {
  std::lock_guard guard(lock_);
  requests_.clear();
}

std::uint8_t* DriverModel::Region(const std::string& name, std::uint8_t index) {
  std::lock_guard guard(lock_);
  auto& regions = devices_.at(name)->regions;
  const auto found = regions.find(index);
  return found == regions.end() ? nullptr : found->second.view;
}

void DriverModel::Answer(const std::string& name, Device& device, std::uint32_t code, std::uint8_t* buffer,
                         int& regionFd, std::uint64_t& regionSize) {
  RequestBuffer request = Copy(buffer);
  RecordedRequest record;
  record.Device = name;
  record.Code = code;
  record.Index = LoadU16(request, RequestField::Index);
  record.Value = LoadU32(request, RequestField::Value);
  record.Address = platform::ReadRequestAddress(buffer);
  record.Locator = LoadLocator(request);
  for (std::size_t i = 0; i < 3; ++i) record.Descriptor[i] = LoadU32(request, RequestField::Descriptor + 4 * i);

  std::lock_guard guard(lock_);
  requests_.push_back(record);
  const DeviceSetup& setup = device.setup;
  RequestBuffer reply = request;
  switch (code) {
    case platform::RequestOpen:
      StoreLocator(reply, setup.OpenLocator.value_or(ModelLocator(name)));
      break;
    case platform::RequestVersion:
      StoreU32(reply, RequestField::Value, setup.Version);
      break;
    case platform::RequestSearch:
      StoreU32(reply, RequestField::Value, static_cast<std::uint32_t>(setup.Matches.size()));
      if (record.Value < setup.Matches.size()) StoreLocator(reply, setup.Matches[record.Value]);
      break;
    case platform::RequestMapRegion: {
      StoreU16(reply, RequestField::Status, setup.MapStatus);
      if (!setup.MapsRegions) break;
      MappedRegion& region = device.regions[static_cast<std::uint8_t>(record.Index)];
      if (region.fd < 0) {
        region.fd = memfd_create("qvr-model-region", MFD_CLOEXEC);
        region.size = setup.RegionSize;
        if (region.fd < 0 || ftruncate(region.fd, static_cast<off_t>(region.size)) != 0) {
          throw std::runtime_error("no region memory");
        }
        region.view = static_cast<std::uint8_t*>(
            mmap(nullptr, region.size, PROT_READ | PROT_WRITE, MAP_SHARED, region.fd, 0));
        if (region.view == MAP_FAILED) throw std::runtime_error("region not viewable");
        if (record.Index == 2 && region.size >= 24) {
          PokeWord(region.view, 0, setup.Magic ? ImageMagic : 0);
          PokeWord(region.view, 20, setup.AreaBOffset);
        }
      }
      regionFd = region.fd;
      regionSize = region.size;
      break;
    }
    case platform::RequestUnmapRegion:
    case platform::RequestWriteBridge:
    case platform::RequestUnmapBuffer:
      StoreU16(reply, RequestField::Status, setup.ReplyStatus);
      break;
    default:
      break;
  }
  std::memcpy(buffer, reply.data(), reply.size());
}

ScopedSharedMemory::ScopedSharedMemory(std::size_t size) : name_(UniqueName("qvr card test")), size_(size) {
  const std::string object = "/" + name_;
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + object);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    shm_unlink(object.c_str());
    throw std::runtime_error("cannot size " + object);
  }
  if (size != 0) {
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) view_ = static_cast<std::uint8_t*>(view);
  }
  close(fd);
}

ScopedSharedMemory::~ScopedSharedMemory() {
  if (view_ != nullptr) munmap(view_, size_);
  shm_unlink(("/" + name_).c_str());
}

RawServer::RawServer(const std::string& path, std::vector<std::uint8_t> reply) : reply_(std::move(reply)) {
  listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener_, 4) != 0) {
    close(listener_);
    throw std::runtime_error("raw server cannot listen at " + path);
  }
  thread_ = std::thread([this] { Run(); });
}

RawServer::~RawServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

void RawServer::Run() {
  int client = -1;
  while (!stop_) {
    pollfd watched{client < 0 ? listener_ : client, POLLIN, 0};
    if (poll(&watched, 1, 20) <= 0) continue;
    if (client < 0) {
      client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      continue;
    }
    std::uint8_t request[64];
    if (recv(client, request, sizeof(request), 0) <= 0) break;
    ++requests_;
    send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL);
  }
  if (client >= 0) close(client);
}

}  // namespace qvr::test
