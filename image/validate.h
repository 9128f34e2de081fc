// Checks that TheImage holds a consistent firmware image: records present,
// checksums matching, optional kernel copy equal to the kernel, and lengths
// agreeing with LoadedLength.
#pragma once

#include <optional>
#include <string>

namespace qvr {

// No message for a valid image, otherwise the message text (ending in a line
// feed). Writes the diagnostic lines ("Kernel Present\n" ...) to standard
// output. Never reads outside Data, whatever the stored lengths say.
std::optional<std::string> ValidateImage();

}  // namespace qvr
