// Prepares the analyzer for phase readings at generator 1's present frequency and level.
#pragma once

#include "instrument/Instruments.h"

namespace korvel {

// Resolution bandwidth for a generator level: 1000 Hz above -50 dBm, 100 Hz above -70 dBm,
// else 10 Hz.
const char* ResolutionBandwidthCommand(double levelDbm);

void SetupAnalyzer(Instruments& instruments, bool useRfB);

}  // namespace korvel
