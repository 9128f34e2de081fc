// The startup check: the log-on entry that runs this executable with a
// parameter, the Set and Clear buttons that write and delete it, and the
// display of the image that the present entry would check.
#include <QLabel>
#include <QPushButton>
#include <optional>

#include "app/run_mode.h"
#include "app/window/main_form.h"
#include "image/carried_image.h"
#include "image/firmware_image.h"
#include "platform/executable_path.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/startup_path.h"

namespace qvr {
namespace {

constexpr const char* RunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* EntryName = "QVR Load Check";
constexpr const char* EntryParameter = "  StartupCheck";

constexpr int SmallFontHeight = 11;  // 8 point
constexpr int LargeFontHeight = 13;  // 10 point

// What the entry's executable carries, as the display shows it.
struct RegisteredImage {
  QString text;
  int fontHeight = SmallFontHeight;
  std::optional<RecordVersion> version;
};

RegisteredImage DescribeRegisteredImage(const std::string& path) {
  const QString quotedPath = QString::fromStdString(path);
  const CarriedRecord carried = ReadCarriedRecord(path);
  if (!carried.opened) return {QStringLiteral("Cannot open <%1>").arg(quotedPath), SmallFontHeight, {}};
  // A trailer whose record cannot be read whole shows as a file without an
  // image: nothing is shown that was not read from the file.
  if (!carried.hasTrailer || !carried.version) {
    return {QStringLiteral("Invalid file - <%1>").arg(quotedPath), SmallFontHeight, {}};
  }
  return {QString::fromStdString(RegisteredImageText(*carried.version)), LargeFontHeight, carried.version};
}

}  // namespace

void ShowStartupCheck(TTheForm& form) {
  std::optional<platform::TRegistry> reg(std::in_place, platform::KeyRead, platform::RootKey::LocalMachine);
  form.StartSetButton->setVisible(CarriesImage);
  if (!reg->OpenKey(RunKey, false) || !reg->ValueExists(EntryName)) {
    form.StartCheckVersion->setText(QStringLiteral("None"));
    form.StartClearButton->hide();
    return;
  }
  const std::string entry = reg->ReadString(EntryName);
  form.StartClearButton->show();
  reg.reset();  // the key is closed before any file is touched

  const RegisteredImage image = DescribeRegisteredImage(platform::RegisteredExecutablePath(entry));
  if (image.version && TheImage.CurrentRecord && CarriesImage) {
    form.StartSetButton->setVisible(*image.version != RecordVersionAt(*TheImage.CurrentRecord));
  }
  QFont font = form.StartCheckVersion->font();
  font.setPixelSize(image.fontHeight);
  form.StartCheckVersion->setFont(font);
  form.StartCheckVersion->setText(image.text);
}

void TTheForm::StartSetButtonClick() {
  platform::TRegistry reg(platform::KeyWrite, platform::RootKey::LocalMachine);
  try {
    reg.OpenKey(RunKey, false);
    reg.WriteString(EntryName, platform::OwnExecutablePath() + EntryParameter);
    ShowStartupCheck(*this);
  } catch (const platform::ERegistryException&) {
    platform::ShowMessageBox("Cannot set registry key", "Error", platform::MbOk);
  }
}

void TTheForm::StartClearButtonClick() {
  platform::TRegistry reg(platform::KeyWrite, platform::RootKey::LocalMachine);
  try {
    reg.OpenKey(RunKey, false);
    reg.DeleteValue(EntryName);
    StartClearButton->hide();
    ShowStartupCheck(*this);
  } catch (const platform::ERegistryException&) {
    platform::ShowMessageBox("Cannot clear registry key", "Error", platform::MbOk);
  }
}

}  // namespace qvr
