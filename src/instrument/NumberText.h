// Numbers in SCPI commands, replies, result files and the settings store always use a point as
// decimal mark, whatever locale the user or the toolkit has set.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

// Like printf("%.<decimals>lf", value) in the C locale ("%lf" is decimals = 6).
std::string FormatFixed(double value, int decimals);
// Like atof in the C locale: leading white space skipped, then the longest prefix that forms a
// number; 0.0 when there is none (then *found, when given, is false). Out-of-range magnitudes give
// +-HUGE_VAL or 0.
double ParseLeadingDouble(std::string_view text, bool* found = nullptr);

}  // namespace korvel
