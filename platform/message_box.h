// Message boxes without an owner window: (text, caption, flags) -> 1 for OK,
// 2 for Cancel. Works before any window exists and from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qvr::platform {

inline constexpr std::uint32_t MbOk = 0x00000000;
inline constexpr std::uint32_t MbOkCancel = 0x00000001;
inline constexpr std::uint32_t MbServiceNotification = 0x00200000;
inline constexpr int IdOk = 1;
inline constexpr int IdCancel = 2;

// Who answers, in this order:
//   1. the responder installed with SetMessageBoxResponder (tests);
//   2. with no display (see HaveDisplay), standard error: "caption: text" on
//      its own line, answered OK, or Cancel when the flags offer Cancel, so
//      that an unattended run never waits for a person;
//   3. otherwise a real box shown by the window module, which is loaded for
//      it when it is not loaded yet (gui_module.h). A call from another
//      thread than the window's is shown on the window's thread while the
//      caller waits. When the module cannot be loaded the box falls back to
//      standard error as in 2.
int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t flags);

// True when the flags offer a Cancel button.
bool OffersCancel(std::uint32_t flags);

using MessageBoxResponder = std::function<int(const std::string& text, const std::string& caption, std::uint32_t flags)>;
void SetMessageBoxResponder(MessageBoxResponder responder);  // empty: back to the default

// True when a display is there to show windows on (DISPLAY or WAYLAND_DISPLAY
// set and not empty, and QT_QPA_PLATFORM not "offscreen" or "minimal").
bool HaveDisplay();

}  // namespace qvr::platform
