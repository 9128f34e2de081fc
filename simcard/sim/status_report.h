// "qvr-card-sim status": the live card's header and the simulator's record
// in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvr::simcard {

// The report for `size` bytes of interface memory at `base` (read with
// checked offsets; a memory that no simulator laid out gets the header only).
std::string StatusReport(std::uint8_t* base, std::size_t size);

// Finds the card memory (named mapping, else PCI route), prints its report
// and returns 0; prints why not and returns 1 when there is none.
int RunStatusCommand();

}  // namespace qvr::simcard
