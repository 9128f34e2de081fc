// The application object of the window module: creating it, its title, its
// hint pause, its exception display, and the run of the main window.
#pragma once

#include <exception>

namespace qvr {

class TTheForm;

inline constexpr const char* ApplicationTitle = "QVR Firmware";

// The family of the window's design font.
inline constexpr const char* FormFontFamily = "MS Sans Serif";

// Registers the faces that stand in for the design font where it is not
// installed: metric-compatible ones first.
void UseDesignFontFaces();

// Creates the application object when there is none yet. `argc` and `argv`
// must live as long as the process; with none, the program's name is used.
// Unless QT_QPA_PLATFORM names a platform, the display named by DISPLAY or
// WAYLAND_DISPLAY is used, and offscreen when it cannot be reached; then
// QT_QPA_PLATFORM is set to "offscreen", so that message boxes from then on
// answer on standard error (platform/message_box.h).
void EnsureApplication(int argc = 0, char** argv = nullptr);

// True when the application object shows its windows on no display.
bool Offscreen();

// How long the mouse must rest on a control before its hint shows.
void SetHintPause(int milliseconds);
int HintPause();

// The application's exception display: a box with the error's text (empty
// for an error that is not a std::exception) and the application title.
void ShowException(std::exception_ptr error);

// Creates the main window TheForm and runs its FormCreate.
TTheForm& CreateTheForm();

// The window's part of the program: the application object with its title,
// the main window centred on the screen, the message loop until the main
// window closes. An error that escapes is shown by the exception display.
// `headless` (or a display that cannot be reached): the window runs
// offscreen and each text its comment line shows is written to standard
// error; the full presentation, which needs a person, is not run at all
// (NoDisplayText). Returns the exit code, 0.
int RunApplication(int argc, char** argv, bool headless);

}  // namespace qvr
