// The one lock of the PCI driver access library. It guards the walk of the
// request pool and the setting of a block's in-use flag, appending a block,
// registering, finding and unlinking board records, and storing or clearing
// a region slot or a record's buffer address. It is never held while a
// request is with the driver. It lives as long as the process, so
// initialising and shutting the library down need not create or delete it.
#pragma once

#include <mutex>

namespace qvr {

extern std::mutex PciLock;

}  // namespace qvr
