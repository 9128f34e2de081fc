#include "platform/registry.h"

#include <algorithm>
#include <cctype>

#include "platform/qt/registry_key.h"

namespace qvr::platform {
namespace {

// Key paths compare as the registry compares them: without regard to case,
// and without leading or trailing separators.
std::string NormalKeyPath(const std::string& path) {
  std::string out = path;
  const auto notSeparator = [](char c) { return c != '\\'; };
  out.erase(out.begin(), std::find_if(out.begin(), out.end(), notSeparator));
  out.erase(std::find_if(out.rbegin(), out.rend(), notSeparator).base(), out.end());
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::unique_ptr<RegistryKey> OpenBackEndKey(RootKey root, const std::string& path, bool canCreate) {
#ifdef _WIN32
  const char* rootName = root == RootKey::CurrentUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\";
  return OpenNativeKey(rootName + path, canCreate);
#else
  const std::string normal = NormalKeyPath(path);
  if (root == RootKey::CurrentUser && normal == NormalKeyPath("Software\\Marrowfield\\Tallyburn")) {
    return OpenSettingsFileKey(canCreate);
  }
  if (root == RootKey::LocalMachine &&
      normal == NormalKeyPath("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run")) {
    return OpenAutostartKey(canCreate);
  }
  return nullptr;
#endif
}

}  // namespace

TRegistry::TRegistry(std::uint32_t access, RootKey root) : access_(access), root_(root) {}

TRegistry::~TRegistry() = default;

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
  CloseKey();
  key_ = OpenBackEndKey(root_, path, canCreate);
  path_ = path;
  return key_ != nullptr;
}

void TRegistry::CloseKey() {
  key_.reset();
  path_.clear();
}

bool TRegistry::ValueExists(const std::string& name) const {
  return key_ && (access_ & KeyQueryValue) && key_->Read(name).exists;
}

std::string TRegistry::ReadString(const std::string& name) const {
  if (!key_ || !(access_ & KeyQueryValue)) return {};
  const StoredValue value = key_->Read(name);
  if (!value.exists) return {};
  if (!value.text) throw ERegistryException("Invalid data type for \"" + name + "\" (not a string)");
  return *value.text;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (!key_) {
    throw ERegistryException(
        "Cannot write \"" + name +
        "\": " + (path_.empty() ? "no key is open" : "the key " + path_ + " could not be opened"));
  }
  if (!(access_ & KeySetValue)) {
    throw ERegistryException("Cannot write \"" + name + "\": the key " + path_ + " is open for reading only");
  }
  if (auto problem = key_->Write(name, value)) {
    throw ERegistryException("Cannot write \"" + name + "\" under " + path_ + ": " + *problem);
  }
}

bool TRegistry::DeleteValue(const std::string& name) {
  return key_ && (access_ & KeySetValue) && key_->Delete(name);
}

}  // namespace qvr::platform
