#include "simcard/sim/publish.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/shared_memory.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"

namespace qvr::simcard {

namespace {

constexpr int Attempts = 5;

std::string Describe(const std::string& what) { return what + ": " + std::strerror(errno); }

bool SameFile(int fd, const struct stat& other) {
  struct stat mine {};
  return fstat(fd, &mine) == 0 && mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
}

// The pid that a live simulator left in its record, when the object is big enough to hold one.
std::string OwnerOf(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(RecordStart + Record::Size)) return {};
  void* view = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return {};
  auto* base = static_cast<std::uint8_t*>(view);
  std::string owner;
  if (LoadWord(base, RecordStart + Record::Magic) == Record::RecordMagic)
    owner = " (pid " + std::to_string(LoadWord(base, RecordStart + Record::OwnerPid)) + ")";
  munmap(view, static_cast<std::size_t>(info.st_size));
  return owner;
}

bool MapMemory(PublishedMemory& memory, std::size_t size, PublishResult& result) {
  if (ftruncate(memory.fd, static_cast<off_t>(size)) != 0) {
    result.message = Describe("cannot size the card memory");
    return false;
  }
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memory.fd, 0);
  if (view == MAP_FAILED) {
    result.message = Describe("cannot map the card memory");
    return false;
  }
  memory.base = static_cast<std::uint8_t*>(view);
  memory.size = size;
  return true;
}

}  // namespace

std::string DeviceLockPath(const std::string& deviceDirectory) { return deviceDirectory + "/.qvr-card-sim.lock"; }

PublishResult PublishNamedMemory(const std::string& mappingName, std::size_t size, PublishedMemory& memory) {
  PublishResult result;
  const std::string object = platform::SharedMemoryObjectName(mappingName);
  for (int attempt = 0; attempt < Attempts; ++attempt) {
    int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    const bool created = fd >= 0;
    if (!created) {
      if (errno != EEXIST) {
        result.message = Describe("cannot create \"" + mappingName + "\"");
        return result;
      }
      fd = shm_open(object.c_str(), O_RDWR, 0);
      if (fd < 0) continue;  // gone meanwhile
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      result.outcome = PublishOutcome::Busy;
      result.message = "another simulator" + OwnerOf(fd) + " serves \"" + mappingName + "\"";
      close(fd);
      return result;
    }
    // Locked; make sure the name still means this object.
    const int again = shm_open(object.c_str(), O_RDONLY, 0);
    struct stat named {};
    const bool current = again >= 0 && fstat(again, &named) == 0 && SameFile(fd, named);
    if (again >= 0) close(again);
    if (!current) {
      close(fd);
      continue;
    }
    if (!created) {
      // Left behind by a simulator that is gone: start afresh.
      shm_unlink(object.c_str());
      close(fd);
      continue;
    }
    memory.fd = fd;
    memory.objectName = object;
    if (!MapMemory(memory, size, result)) {
      Unpublish(memory);
      return result;
    }
    result.outcome = PublishOutcome::Published;
    return result;
  }
  result.message = "\"" + mappingName + "\" keeps changing under the simulator";
  return result;
}

PublishResult PublishDeviceMemory(const std::string& lockPath, std::size_t size, PublishedMemory& memory) {
  PublishResult result;
  for (int attempt = 0; attempt < Attempts && memory.lockFd < 0; ++attempt) {
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      result.message = Describe("cannot create " + lockPath);
      return result;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      char pid[32] = {};
      const ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
      result.outcome = PublishOutcome::Busy;
      result.message = "another simulator" + (n > 0 ? " (pid " + std::string(pid, static_cast<std::size_t>(n)) + ")" : std::string()) +
                       " serves the devices of " + lockPath.substr(0, lockPath.rfind('/'));
      close(fd);
      return result;
    }
    struct stat named {};
    if (stat(lockPath.c_str(), &named) != 0 || !SameFile(fd, named)) {
      close(fd);
      continue;
    }
    // The pid only names the owner in another simulator's refusal.
    const std::string pid = std::to_string(getpid());
    [[maybe_unused]] const bool noted =
        ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    memory.lockFd = fd;
    memory.lockPath = lockPath;
  }
  if (memory.lockFd < 0) {
    result.message = lockPath + " keeps changing under the simulator";
    return result;
  }
  memory.fd = memfd_create("qvr-card-memory", MFD_CLOEXEC);
  if (memory.fd < 0) {
    result.message = Describe("cannot make the card memory");
    Unpublish(memory);
    return result;
  }
  if (!MapMemory(memory, size, result)) {
    Unpublish(memory);
    return result;
  }
  result.outcome = PublishOutcome::Published;
  return result;
}

void Unpublish(PublishedMemory& memory) {
  if (memory.base != nullptr) munmap(memory.base, memory.size);
  if (!memory.objectName.empty()) shm_unlink(memory.objectName.c_str());
  if (memory.fd >= 0) close(memory.fd);
  if (memory.lockFd >= 0) {
    unlink(memory.lockPath.c_str());
    close(memory.lockFd);
  }
  memory = PublishedMemory{};
}

}  // namespace qvr::simcard

