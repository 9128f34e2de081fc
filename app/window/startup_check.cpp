// Scaffolding until the startup check arrives.
#include "app/window/main_form.h"

namespace qvr {
void ShowStartupCheck(TTheForm&) {}
void TTheForm::StartSetButtonClick() {}
void TTheForm::StartClearButtonClick() {}
}  // namespace qvr
