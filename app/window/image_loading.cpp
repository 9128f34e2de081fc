// Scaffolding until image file loading arrives.
#include "app/window/main_form.h"

namespace qvr {
void FetchRememberedFileName(TTheForm&) {}
void TTheForm::BrowseButtonClick() {}
void TTheForm::LoadButtonClick() {}
}  // namespace qvr
