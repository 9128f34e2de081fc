// Presses the startup check's buttons as a person would, in a window that is
// made offscreen and never shown. Each argument is one action:
//   show        ShowStartupCheck (as at window creation)
//   set, clear  the Set and Clear buttons
//   load=FILE   type FILE into the file name box and press Load
// After each action one line on standard output describes the display:
//   display: <panel caption>|<font height>|set=<0 or 1>|clear=<0 or 1>
// Before the first, the image that this executable carries is read as the
// start-up reads it, so that a copy that carries an image behaves like a
// loader that carries one. Message boxes go to standard error.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run_mode.h"
#include "app/window/application.h"
#include "app/window/main_form.h"
#include "image/carried_image.h"
#include "image/firmware_image.h"
#include "platform/executable_path.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qvr::EnsureApplication(argc, argv);
  qvr::ResetImage();
  qvr::CarriesImage =
      qvr::ReadCarriedImage(qvr::platform::OwnExecutablePath()).outcome == qvr::CarriedImageOutcome::Loaded;

  qvr::TTheForm form;
  for (int i = 1; i < argc; ++i) {
    const std::string action = argv[i];
    if (action == "show") {
      qvr::ShowStartupCheck(form);
    } else if (action == "set") {
      form.StartSetButtonClick();
    } else if (action == "clear") {
      form.StartClearButtonClick();
    } else if (action.starts_with("load=")) {
      form.FileName->setText(QString::fromStdString(action.substr(5)));
      form.LoadButtonClick();
    } else {
      std::fprintf(stderr, "unknown action: %s\n", action.c_str());
      return 2;
    }
    std::printf("display: %s|%d|set=%d|clear=%d\n", form.StartCheckVersion->text().toStdString().c_str(),
                form.StartCheckVersion->font().pixelSize(), !form.StartSetButton->isHidden(),
                !form.StartClearButton->isHidden());
    std::fflush(stdout);
  }
  return 0;
}
