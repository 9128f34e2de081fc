// What the window's programming runs talk to. The loader keeps the linked
// interface library and the standard answer limit; tests point a run at a
// scripted library and a short limit.
#pragma once

#include <chrono>

#include "programming/program_card.h"

namespace qvr {

extern InterfaceLibrary RunInterfaceLibrary;
extern std::chrono::milliseconds RunAnswerLimit;

}  // namespace qvr
