// The machine's start-up key on Linux: the XDG autostart directory, one
// desktop entry file per value.
#ifndef _WIN32

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/desktop_entry.h"
#include "platform/qt/registry_key.h"
#include "platform/registry.h"

namespace qvr::platform {
namespace {

// Entries are a few hundred bytes; anything far larger is not one of ours.
constexpr qint64 MaxEntrySize = 64 * 1024;

class AutostartKey : public RegistryKey {
 public:
  explicit AutostartKey(QString directory) : directory_(std::move(directory)) {}

  StoredValue Read(const std::string& name) const override {
    QFile file(PathOf(name));
    if (!file.exists()) return {};
    if (file.size() > MaxEntrySize || !file.open(QIODevice::ReadOnly)) return {true, std::nullopt};
    const QByteArray bytes = file.read(MaxEntrySize + 1);
    if (bytes.size() > MaxEntrySize) return {true, std::nullopt};
    return {true, ReadAutostartEntryValue(bytes.toStdString())};
  }

  std::optional<std::string> Write(const std::string& name, const std::string& text) override {
    QSaveFile file(PathOf(name));
    const std::string entry = MakeAutostartEntry(name, text);
    const auto size = static_cast<qint64>(entry.size());
    // Every user's session reads the entry, whatever the writer's umask.
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.data(), size) != size ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                             QFileDevice::ReadOther) ||
        !file.commit()) {
      return file.fileName().toStdString() + ": " + file.errorString().toStdString();
    }
    return std::nullopt;
  }

  bool Delete(const std::string& name) override { return QFile::remove(PathOf(name)); }

 private:
  QString PathOf(const std::string& name) const {
    return directory_ + '/' + QString::fromStdString(AutostartFileName(name));
  }

  QString directory_;
};

}  // namespace

std::string AutostartDirectory() {
  // The first absolute directory of XDG_CONFIG_DIRS; relative ones are ignored.
  const QStringList dirs = qEnvironmentVariable("XDG_CONFIG_DIRS").split(':', Qt::SkipEmptyParts);
  for (const QString& dir : dirs) {
    if (QDir::isAbsolutePath(dir)) return (dir + "/autostart").toStdString();
  }
  return "/etc/xdg/autostart";
}

std::unique_ptr<RegistryKey> OpenAutostartKey(bool canCreate) {
  const QString directory = QString::fromStdString(AutostartDirectory());
  if (!QFileInfo(directory).isDir() && !(canCreate && QDir().mkpath(directory))) return nullptr;
  return std::make_unique<AutostartKey>(directory);
}

}  // namespace qvr::platform

#endif
