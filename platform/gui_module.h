// The window module: the part of the loader that needs the GUI libraries,
// kept in a shared library of its own and opened only when a window or a
// message box is needed, so that a run that ends silently never loads them.
//
// The module is looked for, in this order:
//   1. beside the running executable (its real path, links resolved);
//   2. in ../lib from there;
//   3. in the build tree's library folder and the install library folder
//      compiled into this library,
// so that a copy of the executable placed anywhere on a machine where the
// loader is built or installed still finds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvr::platform {

inline constexpr const char* GuiModuleFileName = "libqvr_gui.so";

// Entry points of the module (C linkage, looked up by name).
//
// Runs the window: creates the application object and the main window, runs
// the message loop until the window closes, shows an error that escapes it,
// and returns the exit code. `headless`: there is no display; the window
// runs offscreen and its comment line is written to standard error.
inline constexpr const char* GuiRunSymbol = "qvr_gui_run";
using GuiRunEntry = int (*)(int argc, char** argv, int headless);

// Shows one message box (see message_box.h) and returns 1 for OK, 2 for Cancel.
inline constexpr const char* GuiMessageBoxSymbol = "qvr_gui_message_box";
using GuiMessageBoxEntry = int (*)(const char* text, const char* caption, std::uint32_t flags);

// The places looked at, in order.
std::vector<std::string> GuiModuleCandidates();

// Opens the module on first use (later calls reuse it) and returns the
// address of `symbol`, or nullptr with a reason in `error`. Thread-safe.
void* GuiModuleSymbol(const char* symbol, std::string& error);

// True once the module has been opened in this process.
bool GuiModuleLoaded();

}  // namespace qvr::platform
