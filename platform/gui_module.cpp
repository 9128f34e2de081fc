#include "platform/gui_module.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "platform/executable_path.h"

#ifndef QVR_BUILD_LIB_DIR
#define QVR_BUILD_LIB_DIR ""
#endif
#ifndef QVR_INSTALL_LIB_DIR
#define QVR_INSTALL_LIB_DIR ""
#endif

namespace qvr::platform {
namespace {

std::mutex moduleMutex;
void* moduleHandle = nullptr;
std::string moduleError;

void OpenModule() {
  std::string reasons;
  for (const std::string& candidate : GuiModuleCandidates()) {
    std::error_code ec;
    if (!std::filesystem::exists(candidate, ec)) continue;
    dlerror();
    moduleHandle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (moduleHandle != nullptr) return;
    const char* why = dlerror();
    reasons += (reasons.empty() ? "" : "; ") + std::string(why != nullptr ? why : candidate);
  }
  moduleError = reasons.empty() ? std::string(GuiModuleFileName) + " not found" : reasons;
}

}  // namespace

std::vector<std::string> GuiModuleCandidates() {
  namespace fs = std::filesystem;
  std::vector<std::string> candidates;
  auto add = [&candidates](const fs::path& dir) {
    if (dir.empty()) return;
    std::string path = (dir / GuiModuleFileName).lexically_normal().string();
    for (const std::string& known : candidates)
      if (known == path) return;
    candidates.push_back(std::move(path));
  };
  const std::string executable = OwnExecutablePath();
  if (!executable.empty()) {
    std::error_code ec;
    fs::path real = fs::canonical(executable, ec);
    if (ec) real = executable;
    add(real.parent_path());
    add(real.parent_path() / ".." / "lib");
  }
  add(QVR_BUILD_LIB_DIR);
  add(QVR_INSTALL_LIB_DIR);
  return candidates;
}

void* GuiModuleSymbol(const char* symbol, std::string& error) {
  std::lock_guard lock(moduleMutex);
  if (moduleHandle == nullptr && moduleError.empty()) OpenModule();
  if (moduleHandle == nullptr) {
    error = moduleError;
    return nullptr;
  }
  dlerror();
  void* address = dlsym(moduleHandle, symbol);
  if (address == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : std::string(symbol) + " not found";
  }
  return address;
}

bool GuiModuleLoaded() {
  std::lock_guard lock(moduleMutex);
  return moduleHandle != nullptr;
}

}  // namespace qvr::platform
