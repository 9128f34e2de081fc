// The registry object: the loader's two stored settings, kept where users of
// the platform expect them.
//
//   HKEY_CURRENT_USER  Software\Marrowfield\Tallyburn
//       Linux:   the settings file of QSettings("Marrowfield", "Tallyburn"),
//                $XDG_CONFIG_HOME/Marrowfield/Tallyburn.conf (default
//                ~/.config/...). The key exists when the file exists. A value
//                is a string when QSettings reads it back as text; raw bytes
//                (@ByteArray(...)), lists and other typed values
//                (@Variant(...)) are values of another type. The file format
//                has no numbers of its own: a number written there reads as
//                text.
//       Windows: that registry key itself.
//
//   HKEY_LOCAL_MACHINE SOFTWARE\Microsoft\Windows\CurrentVersion\Run
//       Linux:   the machine's autostart directory, autostart/ under the first
//                directory of $XDG_CONFIG_DIRS (default /etc/xdg/autostart),
//                which every desktop session runs at log-on. The key exists
//                when the directory exists (it is created only by an open that
//                may create). Each value is one desktop entry file named after
//                the value ("QVR Load Check.desktop"; '/', '%' and characters
//                other than printable ASCII are %-encoded), whose Exec line
//                runs the value's command line and whose X-QVR-Value key keeps
//                the text verbatim. An entry without that key, or one that is
//                not text, is a value of another type.
//       Windows: that registry key itself.
//
// Other keys do not open. Each object holds at most one open key, closed by
// CloseKey, by the next OpenKey, or when the object is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace qvr::platform {

enum class RootKey { CurrentUser, LocalMachine };  // HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE

// Access masks. Reading needs KEY_QUERY_VALUE (in KeyRead), writing and
// deleting need KEY_SET_VALUE (in KeyWrite).
inline constexpr std::uint32_t KeyQueryValue = 0x0001;
inline constexpr std::uint32_t KeySetValue = 0x0002;
inline constexpr std::uint32_t KeyRead = 0x20019;
inline constexpr std::uint32_t KeyWrite = 0x20006;

// What the registry object raises: a failed write, and a read of a value
// that is not a string (or that cannot be read).
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#ifndef _WIN32
// Where the Linux back ends keep the two keys, as the environment names them
// at the moment of the call.
std::string SettingsFilePath();    // .../Marrowfield/Tallyburn.conf
std::string AutostartDirectory();  // .../autostart
#endif

class RegistryKey;  // one open key of a back end

class TRegistry {
 public:
  TRegistry(std::uint32_t access, RootKey root);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Opens `path` under the root key (case does not matter; '\' separates),
  // creating it when missing and `canCreate` is set. False when it did not
  // open; no key is open then.
  bool OpenKey(const std::string& path, bool canCreate);
  void CloseKey();

  // False when no key is open.
  bool ValueExists(const std::string& name) const;

  // The string value `name`; an empty text when the value is missing or no
  // key is open. Raises ERegistryException for a value of another type.
  std::string ReadString(const std::string& name) const;

  // Writes (or overwrites) the string value `name`. Raises
  // ERegistryException when it fails, also when no key is open.
  void WriteString(const std::string& name, const std::string& value);

  // Deletes the value `name`; false when it could not (no open key, no such
  // value, or the back end refused). Raises nothing.
  bool DeleteValue(const std::string& name);

 private:
  std::uint32_t access_;
  RootKey root_;
  std::string path_;  // of the last key opened or tried, for messages
  std::unique_ptr<RegistryKey> key_;
};

}  // namespace qvr::platform
