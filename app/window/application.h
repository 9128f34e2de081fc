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
void EnsureApplication(int argc = 0, char** argv = nullptr);

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
// `headless`: no display; the window runs offscreen and each text its comment
// line shows is written to standard error. Returns the exit code, 0.
int RunApplication(int argc, char** argv, bool headless);

}  // namespace qvr
