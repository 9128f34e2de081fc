// The back ends behind TRegistry: one object per open key.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace qvr::platform {

struct StoredValue {
  bool exists = false;
  std::optional<std::string> text;  // none for a value that is not a string
};

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual StoredValue Read(const std::string& name) const = 0;
  // No message on success; otherwise what went wrong.
  virtual std::optional<std::string> Write(const std::string& name, const std::string& text) = 0;
  virtual bool Delete(const std::string& name) = 0;
};

// Each gives none when the key does not open.
#ifdef _WIN32
// `path` begins with the root key's name ("HKEY_CURRENT_USER\...").
std::unique_ptr<RegistryKey> OpenNativeKey(const std::string& path, bool canCreate);
#else
std::unique_ptr<RegistryKey> OpenSettingsFileKey(bool canCreate);
std::unique_ptr<RegistryKey> OpenAutostartKey(bool canCreate);
#endif

}  // namespace qvr::platform
