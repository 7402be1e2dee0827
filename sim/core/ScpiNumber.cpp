#include "ScpiNumber.h"

#include <charconv>
#include <cmath>
#include <string>

namespace sim {

namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view BaseUnit(Unit unit) {
    switch (unit) {
        case Unit::Hertz:
            return "HZ";
        case Unit::Dbm:
            return "DBM";
        case Unit::Db:
            return "DB";
        case Unit::Degree:
            return "DEG";
        case Unit::Second:
            return "S";
        case Unit::None:
            break;
    }
    return "";
}

// Factor of suffix for unit, or 0 when the suffix is not valid there.
double SuffixFactor(const std::string& suffix, Unit unit) {
    const std::string_view base = BaseUnit(unit);
    if (suffix == base)
        return 1.0;
    // Logarithmic units take no multiplier.
    if (unit != Unit::Hertz && unit != Unit::Second)
        return 0.0;
    // M is milli by the SI rule, but MHZ is megahertz by universal habit.
    if (unit == Unit::Hertz && suffix == "MHZ")
        return 1e6;
    if (suffix.size() <= base.size() ||
        suffix.compare(suffix.size() - base.size(), base.size(), base) != 0) {
        return 0.0;
    }
    const std::string prefix = suffix.substr(0, suffix.size() - base.size());
    static const struct {
        const char* prefix;
        double factor;
    } kMultipliers[] = {{"EX", 1e18}, {"PE", 1e15}, {"T", 1e12},  {"G", 1e9},
                        {"MA", 1e6},  {"K", 1e3},   {"M", 1e-3},  {"U", 1e-6},
                        {"N", 1e-9},  {"P", 1e-12}, {"F", 1e-15}, {"A", 1e-18}};
    for (const auto& multiplier : kMultipliers) {
        if (prefix == multiplier.prefix)
            return multiplier.factor;
    }
    return 0.0;
}

}  // namespace

NumericResult ParseNumeric(std::string_view token, const NumericRule& rule) {
    const std::string upper = Upper(token);
    if (upper == "MIN" || upper == "MINIMUM")
        return {rule.min, 0};
    if (upper == "MAX" || upper == "MAXIMUM")
        return {rule.max, 0};
    if (upper == "DEF" || upper == "DEFAULT")
        return {rule.def, 0};

    size_t pos = 0;
    bool negative = false;
    if (pos < upper.size() && (upper[pos] == '+' || upper[pos] == '-'))
        negative = upper[pos++] == '-';
    const size_t mantissaBegin = pos;
    size_t digits = 0;
    while (pos < upper.size() && IsDigit(upper[pos]))
        ++pos, ++digits;
    if (pos < upper.size() && upper[pos] == '.') {
        ++pos;
        while (pos < upper.size() && IsDigit(upper[pos]))
            ++pos, ++digits;
    }
    if (digits == 0) {
        // Character data where a number belongs.
        return {0.0, mantissaBegin == 0 && pos == 0 ? -104 : -120};
    }
    // An exponent needs digits; otherwise the E starts a suffix (as in "1EX").
    if (pos < upper.size() && upper[pos] == 'E') {
        size_t e = pos + 1;
        if (e < upper.size() && (upper[e] == '+' || upper[e] == '-'))
            ++e;
        if (e < upper.size() && IsDigit(upper[e])) {
            while (e < upper.size() && IsDigit(upper[e]))
                ++e;
            pos = e;
        }
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(upper.data() + mantissaBegin, upper.data() + pos, value);
    if (ec != std::errc() || end != upper.data() + pos || !std::isfinite(value))
        return {0.0, -120};
    if (negative)
        value = -value;

    size_t suffixBegin = pos;
    while (suffixBegin < upper.size() && (upper[suffixBegin] == ' ' || upper[suffixBegin] == '\t'))
        ++suffixBegin;
    const std::string suffix = upper.substr(suffixBegin);
    if (!suffix.empty()) {
        for (char c : suffix) {
            if (c < 'A' || c > 'Z')
                return {0.0, -120};  // "1.2.3", "5 6"
        }
        if (rule.unit == Unit::None)
            return {0.0, -138};
        const double factor = SuffixFactor(suffix, rule.unit);
        if (factor == 0.0)
            return {0.0, -131};
        value *= factor;
    }
    if (value < rule.min || value > rule.max)
        return {value, -222};
    return {value, 0};
}

std::string FormatFixed(double value, int decimals) {
    char buffer[400];  // fixed notation of the largest double
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return "0";
    return std::string(buffer, end);
}

std::string FormatNumber(double value, int maxDecimals) {
    std::string text = FormatFixed(value, maxDecimals);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

}  // namespace sim
