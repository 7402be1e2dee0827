// (Re)connects the three instruments after the user has confirmed them in the connect dialog.
#pragma once

#include <string_view>

#include "Instruments.h"
#include "Window.h"

namespace korvel {

// True when "VRT" occurs in the identification reply after its first character.
bool IsVrtFamily(std::string_view identification);

// Closes every session, runs the connect dialog (values taken back on OK only), opens,
// identifies and clears generator 1, generator 2 (unless RF B) and the analyzer, then sets the
// connection text, the model-family flags and the connected flag, which it returns: the caller
// decides what the window offers next.
bool ConnectInstruments(Instruments& instruments, ConnectValues& values, Window& window);

}  // namespace korvel
