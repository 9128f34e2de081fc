// Linux implementation of named shared memory on POSIX shared-memory objects.
#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvr::platform {

std::string SharedMemoryObjectName(const std::string& name) { return "/" + name; }

SharedMemoryHandle OpenNamedMapping(const std::string& name) {
  // shm_open sets FD_CLOEXEC itself; the object must exist already.
  const int fd = shm_open(SharedMemoryObjectName(name).c_str(), O_RDWR, 0);
  return fd < 0 ? NoSharedMemory : fd;
}

void* MapWholeView(SharedMemoryHandle handle, std::size_t& size) {
  size = 0;
  if (handle < 0) return nullptr;
  struct stat info {};
  if (fstat(static_cast<int>(handle), &info) != 0 || info.st_size <= 0) return nullptr;
  const auto length = static_cast<std::size_t>(info.st_size);
  void* view = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(handle), 0);
  if (view == MAP_FAILED) return nullptr;
  size = length;
  return view;
}

void UnmapView(void* address, std::size_t size) {
  if (address != nullptr && size != 0) munmap(address, size);
}

void CloseMapping(SharedMemoryHandle handle) {
  if (handle >= 0) close(static_cast<int>(handle));
}

}  // namespace qvr::platform
