// Numeric program data with unit suffixes and MIN/MAX/DEF, and the number texts of replies.
// Locale-independent both ways.
#pragma once

#include <string>
#include <string_view>

namespace sim {

enum class Unit { None, Hertz, Dbm, Db, Degree, Second };

struct NumericRule {
    double min = 0.0;
    double max = 0.0;
    double def = 0.0;
    Unit unit = Unit::None;
};

struct NumericResult {
    double value = 0.0;
    int error = 0;  // SCPI error code; 0 when value holds the number in the unit's base
};

// NR1/NR2/NR3 with an optional sign, an optional unit suffix (with or without a blank; SI
// multipliers, MHZ meaning megahertz), or MINimum/MAXimum/DEFault. Range-checked against rule.
NumericResult ParseNumeric(std::string_view token, const NumericRule& rule);

// Fixed notation with exactly decimals decimals, like printf("%.<decimals>f") in the C locale.
std::string FormatFixed(double value, int decimals);

// Fixed notation with at most maxDecimals decimals and no trailing zeros ("1000000000", "-10.5").
std::string FormatNumber(double value, int maxDecimals);

}  // namespace sim
