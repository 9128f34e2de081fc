// Named shared memory: open an existing named object and map it whole.
// Linux: POSIX shared memory, object "/" + name (so "/QVRZORVA mapped file"),
// size from fstat, descriptor closed on exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvr::platform {

using SharedMemoryHandle = std::intptr_t;
inline constexpr SharedMemoryHandle NoSharedMemory = -1;

// Opens an existing named object for reading and writing (not inherited by
// child processes). NoSharedMemory when it does not exist or cannot be opened.
SharedMemoryHandle OpenNamedMapping(const std::string& name);

// Maps the whole object for reading and writing. nullptr on failure (also for
// an empty object); `size` receives the mapped length, 0 on failure.
void* MapWholeView(SharedMemoryHandle handle, std::size_t& size);

// Releases a view made by MapWholeView; `size` is the length it reported.
void UnmapView(void* address, std::size_t size);

// Releases the object opened by OpenNamedMapping. NoSharedMemory is ignored.
void CloseMapping(SharedMemoryHandle handle);

// The platform's object name for a mapping name ("/" + name on Linux).
std::string SharedMemoryObjectName(const std::string& name);

}  // namespace qvr::platform
