// TTheForm's own behaviour: creation with the run mode, the two
// presentations, the automatic-exit countdown, Configure, Exit and the guard
// against closing during a programming run.
#include "app/window/main_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "app/run_mode.h"
#include "app/window/application.h"
#include "platform/message_box.h"

namespace qvr {

TTheForm* TheForm = nullptr;
std::int32_t FullHeight = 0;
std::int32_t ExitCountdown = 10;

void TTheForm::FormCreate() {
  try {
    SetHintPause(0);
    FetchRememberedFileName(*this);
    ShowVersions(*this);
    ShowStartupCheck(*this);
    FullHeight = OuterHeight();
    // Compact: everything down to the Configure button; the tab pages and
    // the Exit button lie below the lower edge.
    SetOuterHeight(ConfigButton->y() + ConfigButton->height() + 30);
    if (ProgramNow) {
      ProgramButtonClick();
    } else if (!AutoClose) {
      ConfigButtonClick();
    } else {
      ExitTimer->start();
      Comment->setText(QStringLiteral("Automatic exit in 10 seconds"));
    }
  } catch (...) {
    ShowException(std::current_exception());
  }
}

bool TTheForm::FormCloseQuery() {
  if (!ExitButton->isHidden()) return true;
  platform::ShowMessageBox("Can't exit while programming in progress", "Close Error", platform::MbOk);
  return false;
}

void TTheForm::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  event->accept();
  // The main window's close ends the program's message loop.
  if (this == TheForm) QCoreApplication::quit();
}

void TTheForm::ExitButtonClick() { close(); }

void TTheForm::ConfigButtonClick() {
  // FullHeight is recorded by FormCreate; when an error stopped creation
  // before that, the window still has its design height and keeps it.
  if (FullHeight > FrameAllowance) SetOuterHeight(FullHeight);
  ExitTimer->stop();
  ConfigButton->hide();
  Comment->setText(QString());
  AutoClose = false;
}

void TTheForm::ExitTimerTimer() {
  if (ExitCountdown == 0) close();
  Comment->setText(QStringLiteral("Automatic exit in %1 seconds").arg(ExitCountdown));
  --ExitCountdown;
}

int TTheForm::OuterHeight() const { return height() + FrameAllowance; }

void TTheForm::SetOuterHeight(int height) {
  setFixedSize(width(), std::max(height - FrameAllowance, 0));
}

}  // namespace qvr
