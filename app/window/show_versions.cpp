// The version panels: the image that the program holds and the firmware
// that the card runs.
#include <QLabel>

#include "app/window/main_form.h"
#include "card/card_interface.h"
#include "card/interface_header.h"
#include "image/firmware_image.h"

namespace qvr {

void ShowVersions(TTheForm& form) {
  if (TheImage.CurrentRecord) {
    const std::uint32_t record = *TheImage.CurrentRecord;
    const RecordVersion image = RecordVersionAt(record);
    form.Status->setText(QString::fromLatin1(StatusName(image.status)));
    form.Compiled->setText(QString::fromStdString(BuildText(RecordDateText(record), RecordTimeText(record))));
    form.Version->setText(QString::fromStdString(VersionText(image.major, image.minor, image.patch)));
  } else {
    form.Version->setText(QStringLiteral("None"));
    form.Compiled->setText(QStringLiteral("No File Loaded"));
    form.Status->setText(QStringLiteral("None"));
  }
  const std::uint32_t firmware = ReadInterfaceWord(InterfaceHeader::FirmwareVersion);
  form.LoadedStatus->setText(QString::fromLatin1(StatusName(firmware >> 24)));
  form.LoadedVersion->setText(
      QString::fromStdString(VersionText((firmware >> 16) & 0xFF, (firmware >> 8) & 0xFF, firmware & 0xFF)));
}

}  // namespace qvr
