// "Adjust to 0°": generator 1's baseband phase offset set to the phase the last sweep file gives
// at generator 1's present frequency and level, so that the two paths are in phase there.
#pragma once

#include <filesystem>
#include <string>

#include "instrument/Instruments.h"

namespace korvel {

// Reads sweepFile, asks generator 1 (which must be connected) for its frequency and level, and
// sends the interpolated offset, which also becomes phaseResult. Returns the failure text, or
// an empty one when the offset was sent.
std::string AdjustToZero(Instruments& instruments, const std::filesystem::path& sweepFile,
                         double& phaseResult);

}  // namespace korvel
