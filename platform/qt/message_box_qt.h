// The message box shown with Qt: no owner window, the caption as its title,
// no icon, an OK button, and Cancel too when the flags offer it.
#pragma once

#include <cstdint>
#include <string>

namespace qvr::platform {

// Needs the application object. Called on the application's thread it shows
// the box at once; called from any other thread it has the box shown on the
// application's thread and waits for the answer. 1 for OK, 2 for Cancel
// (closing the box counts as Cancel when there is one, otherwise as OK).
int ShowQtMessageBox(const std::string& text, const std::string& caption, std::uint32_t flags);

}  // namespace qvr::platform
