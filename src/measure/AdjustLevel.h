// Trims generator 1's level for the deepest cancellation: a coarse scan of 40 settings 0.05 dB
// apart, then a fine scan of 50 settings 0.001 dB apart around the best coarse one.
#pragma once

#include "Instruments.h"

void AdjustLevel(Instruments& instruments);
