// Keys kept by QSettings: on Linux the per-user settings file, on Windows the
// registry itself (QSettings' native format there).
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include "platform/qt/registry_key.h"
#include "platform/registry.h"

namespace qvr::platform {
namespace {

class SettingsKey : public RegistryKey {
 public:
  SettingsKey(QString location, QSettings::Format format) : location_(std::move(location)), format_(format) {}

  StoredValue Read(const std::string& name) const override {
    const QSettings settings(location_, format_);
    const QString key = QString::fromStdString(name);
    if (!settings.contains(key)) return {};
    const QVariant value = settings.value(key);
    if (value.typeId() != QMetaType::QString) return {true, std::nullopt};
    return {true, value.toString().toStdString()};
  }

  std::optional<std::string> Write(const std::string& name, const std::string& text) override {
    QSettings settings(location_, format_);
    settings.setValue(QString::fromStdString(name), QString::fromStdString(text));
    settings.sync();
    if (settings.status() != QSettings::NoError) return "cannot save " + location_.toStdString();
    return std::nullopt;
  }

  bool Delete(const std::string& name) override {
    QSettings settings(location_, format_);
    const QString key = QString::fromStdString(name);
    if (!settings.contains(key)) return false;
    settings.remove(key);
    settings.sync();
    return settings.status() == QSettings::NoError;
  }

 private:
  QString location_;
  QSettings::Format format_;
};

}  // namespace

#ifdef _WIN32

std::unique_ptr<RegistryKey> OpenNativeKey(const std::string& path, bool canCreate) {
  const QString location = QString::fromStdString(path);
  const qsizetype split = location.lastIndexOf('\\');
  const QSettings parent(location.left(split), QSettings::NativeFormat);
  const bool exists = parent.childGroups().contains(location.mid(split + 1), Qt::CaseInsensitive);
  if (!exists && !canCreate) return nullptr;
  return std::make_unique<SettingsKey>(location, QSettings::NativeFormat);
}

#else

std::string SettingsFilePath() {
  return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
          "/Marrowfield/Tallyburn.conf")
      .toStdString();
}

std::unique_ptr<RegistryKey> OpenSettingsFileKey(bool canCreate) {
  const QString file = QString::fromStdString(SettingsFilePath());
  if (!QFileInfo(file).isFile()) {
    if (!canCreate) return nullptr;
    QFile created(file);
    if (!QDir().mkpath(QFileInfo(file).path()) || !created.open(QIODevice::WriteOnly | QIODevice::Append)) {
      return nullptr;
    }
  }
  // The same file and format as QSettings("Marrowfield", "Tallyburn"), named
  // afresh at each open so that a change of XDG_CONFIG_HOME is followed.
  return std::make_unique<SettingsKey>(file, QSettings::IniFormat);
}

#endif

}  // namespace qvr::platform
