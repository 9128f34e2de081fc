// A temporary home for the two settings keys: XDG_CONFIG_HOME and
// XDG_CONFIG_DIRS point into a fresh temporary folder for the sandbox's life,
// and are put back afterwards.
#pragma once

#include <optional>
#include <string>

namespace qvr::test {

class XdgSandbox {
 public:
  XdgSandbox();
  ~XdgSandbox();
  XdgSandbox(const XdgSandbox&) = delete;
  XdgSandbox& operator=(const XdgSandbox&) = delete;

  const std::string& Root() const { return root_; }
  std::string ConfigHome() const { return root_ + "/home-config"; }      // not created
  std::string SystemConfig() const { return root_ + "/system-config"; }  // not created
  std::string AutostartDir() const { return SystemConfig() + "/autostart"; }
  std::string SettingsFile() const { return ConfigHome() + "/Marrowfield/Tallyburn.conf"; }
  std::string EntryFile() const { return AutostartDir() + "/QVR Load Check.desktop"; }

  void MakeAutostartDir() const;
  // Points XDG_CONFIG_HOME below a regular file, where nothing can be created.
  void BlockConfigHome() const;

 private:
  std::string root_;
  std::optional<std::string> oldHome_, oldDirs_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace qvr::test
