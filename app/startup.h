// The loader's start-up: reaches the card, reads and validates the image that
// the own executable carries, compares it with the card's firmware, and
// either ends (with a message box or silently) or chooses the run mode and
// hands over to the window.
#pragma once

#include <string>

namespace qvr {

// Environment variable that names the card's interface memory instead of the
// default name; empty or unset means the default.
inline constexpr const char* MappingNameVariable = "QVR_MAPPING_NAME";
std::string StartupMappingName();

// Written to standard error when the full window is asked for with no display.
inline constexpr const char* NoDisplayText = "qvrload: no display: the full window needs a person\n";

enum class StartupOutcome {
  NoCard,         // "No PCI Card present" shown; exit code 0
  CannotOpenOwnFile,  // "Can't re-open own file" shown; exit code 1
  InvalidImage,   // the validation message shown; exit code 1
  UpToDate,       // started with a parameter on an up-to-date card; exit code 0
  Window,         // ProgramNow and AutoClose are set; the window comes next
};

struct StartupDecision {
  StartupOutcome outcome = StartupOutcome::Window;
  int exitCode = 0;
};

// Everything before the window: connects TheCard (by StartupMappingName()),
// fills TheImage from `executablePath`, validates, sets CarriesImage,
// ProgramNow and AutoClose, and shows the message box of an outcome that
// ends the program. `parameterCount` counts the parameters after the
// program name.
StartupDecision DecideStartup(const std::string& executablePath, int parameterCount);

// The program: DecideStartup on the own executable, then the window from the
// window module (opened only now). Returns the exit code.
int RunStartup(int argc, char** argv);

}  // namespace qvr
