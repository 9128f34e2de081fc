// The window module's entry points, opened by name by the start-up and the
// message box (platform/gui_module.h).
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>

#include "app/window/application.h"
#include "platform/gui_module.h"
#include "platform/qt/message_box_qt.h"

extern "C" {

int qvr_gui_run(int argc, char** argv, int headless) { return qvr::RunApplication(argc, argv, headless != 0); }

// 0 when no box can be shown: the application object does not exist yet and
// the caller is not the process's main thread, which alone may create it, or
// the display cannot be reached.
int qvr_gui_message_box(const char* text, const char* caption, std::uint32_t flags) {
  if (QCoreApplication::instance() == nullptr) {
    if (gettid() != getpid()) return 0;
    qvr::EnsureApplication();
    if (qvr::Offscreen()) return 0;
  }
  return qvr::platform::ShowQtMessageBox(text != nullptr ? text : "", caption != nullptr ? caption : "", flags);
}

}  // extern "C"

// The entry points' types as the loader declares them.
static_assert(std::is_same_v<decltype(&qvr_gui_run), qvr::platform::GuiRunEntry>);
static_assert(std::is_same_v<decltype(&qvr_gui_message_box), qvr::platform::GuiMessageBoxEntry>);
