// Reads a Motorola S-record file (S0, S1, S2, S8, S9) into TheImage.Data.
#pragma once

#include <optional>
#include <string>

namespace qvr {

// Value of one hex digit character; never fails (see the .cpp for the rule
// that other characters follow).
int HexDigitValue(char c);

// Sets LoadedLength to 0, then stores every data byte of the file at its
// address in Data, raising LoadedLength to the highest address + 1. Does not
// clear Data first (callers run ClearImage). No message on success; otherwise
// the message of the first bad line. Bytes stored before the bad line stay.
std::optional<std::string> LoadSRecordFile(const std::string& path);

}  // namespace qvr
