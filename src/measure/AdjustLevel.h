// Trims generator 1's level for the deepest cancellation: a coarse scan of 40 settings 0.05 dB
// apart, then a fine scan of 50 settings 0.001 dB apart around the best coarse one.
#pragma once

#include <string>

#include "instrument/Instruments.h"

namespace korvel {

// Returns why the scan chose nothing (a session failed on the way, or no marker reading carried a
// number), with the level back where it started; empty when it adjusted, or when there is no
// connection (nothing is done; connecting has said why).
std::string AdjustLevel(Instruments& instruments);

}  // namespace korvel
