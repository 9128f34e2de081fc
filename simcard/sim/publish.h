// Where the simulated card's interface memory lives: a named shared-memory
// object, or (PCI route) an anonymous memory file handed out by the device.
// A simulator holds an exclusive lock for as long as it serves, so that a
// second one refuses to start while the first lives and replaces what a
// dead one left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvr::simcard {

struct PublishedMemory {
  std::uint8_t* base = nullptr;
  std::size_t size = 0;
  int fd = -1;               // the memory object
  std::string objectName;    // shm object name on the named route, else empty
  int lockFd = -1;           // lock file on the PCI route, else -1
  std::string lockPath;
};

enum class PublishOutcome { Published, Busy, Failed };

struct PublishResult {
  PublishOutcome outcome = PublishOutcome::Failed;
  std::string message;     // why not, for the user
};

// Creates the named object `mappingName` (zero-filled, `size` bytes) and
// locks it. Busy while a live simulator holds the existing object; an
// unlocked one is unlinked and made anew.
PublishResult PublishNamedMemory(const std::string& mappingName, std::size_t size, PublishedMemory& memory);

// Takes the lock file `lockPath` and makes an anonymous memory file of
// `size` bytes. Busy while a live simulator holds the lock.
PublishResult PublishDeviceMemory(const std::string& lockPath, std::size_t size, PublishedMemory& memory);

// Unmaps and removes everything that Publish made.
void Unpublish(PublishedMemory& memory);

// The lock file of the simulator serving devices in `deviceDirectory`.
std::string DeviceLockPath(const std::string& deviceDirectory);

}  // namespace qvr::simcard
