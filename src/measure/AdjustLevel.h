// Trims generator 1's level for the deepest cancellation: a coarse scan of 40 settings 0.05 dB
// apart, then a fine scan of 50 settings 0.001 dB apart around the best coarse one.
#pragma once

#include "Instruments.h"

// Returns false when no marker reading carried a number: the level is then back where it started.
// Without a connection it does nothing and returns true (connecting has said why).
bool AdjustLevel(Instruments& instruments);
