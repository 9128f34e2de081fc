// Scaffolding until the programming run arrives.
#include "app/window/main_form.h"

namespace qvr {
void TTheForm::ProgramButtonClick() {}
void TTheForm::StartProgramming() {}
void TTheForm::ProgressTimerTimer() {}
}  // namespace qvr
