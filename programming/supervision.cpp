// The window's side of a programming run: the Program button's checks,
// starting a run, and the progress timer that follows the worker and then
// the card's restart.
#include "programming/supervision.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/run_mode.h"
#include "app/window/main_form.h"
#include "card/card_interface.h"
#include "card/interface_header.h"
#include "image/firmware_image.h"
#include "image/validate.h"
#include "platform/message_box.h"

namespace qvr {

InterfaceLibrary RunInterfaceLibrary = LinkedInterfaceLibrary();
std::chrono::milliseconds RunAnswerLimit = DefaultAnswerLimit;

namespace {

constexpr const char* ImageErrorCaption = "Image Error";
constexpr std::uint8_t ProgramAgainBit = 0x02;  // CardState bit 0x200, in the byte at offset 25

void WriteRunWord() {
  WriteInterfaceWord(TheCard.AreaBOffset + InterfaceHeader::AreaBRunWord, 1);
}

// A second run, or a new image, must wait until the worker of this one is gone.
void AllowRunAndLoad(TTheForm& form, bool allowed) {
  form.ProgramButton->setEnabled(allowed);
  form.LoadButton->setEnabled(allowed);
}

}  // namespace

void TTheForm::ProgramButtonClick() {
  if (IsImageEmpty()) {
    platform::ShowMessageBox("No Code is loaded!", ImageErrorCaption, platform::MbOk | platform::MbServiceNotification);
    return;
  }
  if (auto message = ValidateImage()) {
    const int answer =
        platform::ShowMessageBox(*message, ImageErrorCaption, platform::MbOkCancel | platform::MbServiceNotification);
    if (answer != platform::IdOk) return;
  }
  StartProgramming();
}

void TTheForm::StartProgramming() {
  Comment->setText("Programming");
  WriteRunWord();
  Worker = std::make_unique<ProgramCard>(RunInterfaceLibrary, RunAnswerLimit);
  AllowRunAndLoad(*this, false);
  ProgressBar->setVisible(true);
  ProgressBar->setMinimum(0);
  ProgressBar->setMaximum(Worker->TotalBlocks);
  ProgressBar->setValue(0);
  ProgressTimer->start();
  WriteInterfaceWord(InterfaceHeader::Magic, InterfaceHeader::MagicWhileProgramming);
}

void TTheForm::ProgressTimerTimer() {
  if (!Worker) return;

  if (Worker->Running) {
    const std::int32_t done = Worker->BlocksDone;
    ExitButton->setVisible(done == 0);
    ProgressBar->setValue(done);
    Comment->setText(QString::asprintf("%d blocks out of %d programmed", done, Worker->TotalBlocks.load()));
    return;
  }

  if (ReadInterfaceWord(InterfaceHeader::Magic) != ImageMagic) {
    ProgressBar->setVisible(false);
    ConfigButton->setVisible(false);
    ExitButton->setVisible(true);
    ExitButton->move(ExitButton->x(), ConfigButton->y());
    Comment->setText("Card Resetting");
    return;
  }

  if ((ReadInterfaceByte(InterfaceHeader::CardStateByte) & ProgramAgainBit) != 0) {
    Worker.reset();
    StartProgramming();
    Comment->setText("Re-programming");
    ProgressBar->setVisible(true);
    return;
  }

  Comment->setText("Card Programmed");
  WriteRunWord();
  ShowVersions(*this);
  ProgressTimer->stop();
  ExitButton->setVisible(true);
  Worker.reset();
  AllowRunAndLoad(*this, true);
  if (AutoClose) close();
}

}  // namespace qvr
