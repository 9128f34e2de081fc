// Loading an image from an S-record file: choosing the file, loading it in
// place of the held image, remembering its name for the current user, and
// putting that name back when the window is created.
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <memory>

#include "app/window/main_form.h"
#include "image/firmware_image.h"
#include "image/srecord.h"
#include "image/validate.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "programming/program_card.h"

namespace qvr {
namespace {

constexpr const char* SettingsKey = "Software\\Marrowfield\\Tallyburn";
constexpr const char* FileValue = "File";
constexpr std::uint32_t LoadBoxFlags = platform::MbServiceNotification;

// Remembers `fileName` for the next window; what went wrong, or nothing.
std::optional<std::string> RememberFileName(const std::string& fileName) {
  try {
    platform::TRegistry reg(platform::KeyWrite, platform::RootKey::CurrentUser);
    reg.OpenKey(SettingsKey, true);
    reg.WriteString(FileValue, fileName);
  } catch (const platform::ERegistryException& error) {
    return error.what();
  }
  return std::nullopt;
}

}  // namespace

void FetchRememberedFileName(TTheForm& form) {
  platform::TRegistry reg(platform::KeyRead, platform::RootKey::CurrentUser);
  if (reg.OpenKey(SettingsKey, false))
    form.FileName->setText(QString::fromStdString(reg.ReadString(FileValue)));
}

void TTheForm::BrowseButtonClick() {
  OpenDialog->selectFile(FileName->text());
  if (OpenDialog->exec() != QDialog::Accepted) return;
  const QStringList chosen = OpenDialog->selectedFiles();
  if (!chosen.isEmpty()) FileName->setText(chosen.first());
}

void TTheForm::LoadButtonClick() {
  // A programming run reads Data until its worker is gone.
  if (Worker) return;
  const std::string fileName = FileName->text().toStdString();

  // The file is loaded over the held image, which is put back whole when the
  // load fails, so that the Program button never sends a half-loaded buffer
  // and the panels keep describing what is held.
  const auto held = std::make_unique<FirmwareImage>(TheImage);
  TheImage.LoadedLength = 0;
  ClearImage();
  if (auto message = LoadSRecordFile(fileName)) {
    TheImage = *held;
    platform::ShowMessageBox(*message, "Load Error", LoadBoxFlags);
    return;
  }

  // The new image is held from here on; a name that cannot be remembered is
  // reported, and the panels still follow the new image.
  if (auto problem = RememberFileName(fileName)) platform::ShowMessageBox(*problem, "Error", platform::MbOk);

  TheImage.CurrentRecord = ApplicationRecordOffset;
  if (auto message = ValidateImage()) {
    platform::ShowMessageBox(*message, "Image Error", LoadBoxFlags);
    Compiled->setText(QStringLiteral("No Image Information"));
    return;
  }
  ShowVersions(*this);
}

}  // namespace qvr
