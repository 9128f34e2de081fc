#include "tests/settings/xdg_sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qvr::test {
namespace {

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void Restore(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

XdgSandbox::XdgSandbox() : oldHome_(Env("XDG_CONFIG_HOME")), oldDirs_(Env("XDG_CONFIG_DIRS")) {
  std::string pattern = (std::filesystem::temp_directory_path() / "qvr-settings-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  root_ = pattern;
  setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (SystemConfig() + ":/etc/xdg").c_str(), 1);
}

XdgSandbox::~XdgSandbox() {
  Restore("XDG_CONFIG_HOME", oldHome_);
  Restore("XDG_CONFIG_DIRS", oldDirs_);
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void XdgSandbox::MakeAutostartDir() const { std::filesystem::create_directories(AutostartDir()); }

void XdgSandbox::BlockConfigHome() const {
  WriteWholeFile(root_ + "/plain-file", "");
  setenv("XDG_CONFIG_HOME", (root_ + "/plain-file/config").c_str(), 1);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace qvr::test
