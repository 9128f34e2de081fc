#include "app/run_mode.h"

namespace qvr {

bool ProgramNow = false;
bool AutoClose = false;
bool CarriesImage = false;

}  // namespace qvr
