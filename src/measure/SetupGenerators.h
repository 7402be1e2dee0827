// One-time generator initialisation: reset, local-oscillator coupling, "dc.wv" in the ARB,
// I/Q on, 0 dBm, outputs on.
#pragma once

#include <string_view>

#include "instrument/Instruments.h"

namespace korvel {

constexpr const char* kWaveformFile = "dc.wv";
constexpr const char* kDefaultListDirectory = "C:\\Program Files\\Maltoven\\VRQFirmware\\Lists";
constexpr const char* kVrtkListDirectory = "/var/vrtk/Lists";

// The list directory for a generator by its identification ("VRTK" after the first character).
const char* ListDirectory(std::string_view identification);

// Throws CFileError when "dc.wv" cannot be read; what was sent until then stays sent.
void SetupGenerators(Instruments& instruments, bool useRfB);

}  // namespace korvel
