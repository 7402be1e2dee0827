// Text forms of the numbers in the window's fields. A point is the decimal mark whatever the
// user's locale, and a field's text gives back the value it was written from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

namespace FieldText {

// The shortest text that reads back as exactly value ("10", "-40", "0.1").
std::string FormatShortest(double value);
// A whole text holding one finite number (blanks around it allowed); nothing otherwise.
std::optional<double> ParseDouble(std::string_view text);
std::optional<std::int32_t> ParseInt(std::string_view text);
std::optional<std::uint32_t> ParseUnsigned(std::string_view text);

}  // namespace FieldText

}  // namespace korvel
