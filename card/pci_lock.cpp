#include "card/pci_lock.h"

namespace qvr {

std::mutex PciLock;

}  // namespace qvr
