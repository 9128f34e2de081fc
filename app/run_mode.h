// Run-mode flags chosen by the start-up sequence and applied by the window.
#pragma once

namespace qvr {

extern bool ProgramNow;    // start a programming run as soon as the window exists
extern bool AutoClose;     // close by itself (after the countdown, or after a run)
extern bool CarriesImage;  // the own executable ends with an image trailer

}  // namespace qvr
