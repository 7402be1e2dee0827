#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace korvel {

std::string FormatFixed(double value, int decimals) {
    if (decimals < 0)
        decimals = 0;
    if (decimals > 60)
        decimals = 60;
    // The largest double has 309 integral digits.
    char buffer[400];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc{})
        return "0";
    return std::string(buffer, end);
}

namespace {
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
}  // namespace

double ParseLeadingDouble(std::string_view text, bool* found) {
    if (found)
        *found = false;
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // from_chars takes a minus sign of its own; after ours a second sign is no number ("--5").
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return 0.0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    std::chars_format format = std::chars_format::general;
    // A hexadecimal prefix counts only when hex digits follow it; "0x" alone reads as 0.
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X') &&
        (IsHexDigit(first[2]) || (first[2] == '.' && last - first > 3 && IsHexDigit(first[3])))) {
        first += 2;
        format = std::chars_format::hex;
    }
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(first, last, value, format);
    if (ec == std::errc::invalid_argument)
        return 0.0;
    if (found)
        *found = true;
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small in magnitude; a negative exponent means too small.
        std::string_view matched(first, static_cast<size_t>(ptr - first));
        const size_t e = matched.find_first_of(format == std::chars_format::hex ? "pP" : "eE");
        const bool tiny =
            e != std::string_view::npos && e + 1 < matched.size() && matched[e + 1] == '-';
        value = tiny ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}

}  // namespace korvel
