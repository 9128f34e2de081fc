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

int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t flags);

// Who answers ShowMessageBox. Tests install a scripted responder; the window
// module installs the Qt one when it loads. With none installed, and no
// display to show a box on, ShowMessageBox writes "caption: text" to standard
// error and answers OK (Cancel when the flags offer it).
using MessageBoxResponder = std::function<int(const std::string& text, const std::string& caption, std::uint32_t flags)>;
void SetMessageBoxResponder(MessageBoxResponder responder);  // empty: back to the default

// True when a display is there to show windows on (DISPLAY or WAYLAND_DISPLAY
// set, and QT_QPA_PLATFORM not "offscreen").
bool HaveDisplay();

}  // namespace qvr::platform
