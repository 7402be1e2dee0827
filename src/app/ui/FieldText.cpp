#include "FieldText.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace korvel {

namespace FieldText {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// from_chars takes no plus sign; a user may type one.
std::string_view DropPlus(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    return text;
}

template <typename T>
std::optional<T> ParseWhole(std::string_view text) {
    T value{};
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(text.data(), last, value);
    if (ec != std::errc{} || end != last || text.empty())
        return std::nullopt;
    return value;
}
}  // namespace

std::string FormatShortest(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc{})
        return "0";
    return std::string(buffer, end);
}

std::optional<double> ParseDouble(std::string_view text) {
    text = Trim(text);
    const std::string_view number = DropPlus(text);
    if (number.size() != text.size() && !number.empty() && number.front() == '-')
        return std::nullopt;
    double value = 0.0;
    const char* last = number.data() + number.size();
    auto [end, ec] = std::from_chars(number.data(), last, value);
    if (ec != std::errc{} || end != last || number.empty())
        return std::nullopt;
    // "inf" and "nan" read as numbers but no field can use them.
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> ParseInt(std::string_view text) {
    text = Trim(text);
    const std::string_view number = DropPlus(text);
    if (number.size() != text.size() && !number.empty() && number.front() == '-')
        return std::nullopt;
    return ParseWhole<std::int32_t>(number);
}

std::optional<std::uint32_t> ParseUnsigned(std::string_view text) {
    return ParseWhole<std::uint32_t>(DropPlus(Trim(text)));
}

}  // namespace FieldText

}  // namespace korvel
