// Lexing of IEEE 488.2 program messages: messages at NL (never inside a definite-length block),
// units at ';', parameters at ','. Strings keep their case; block data is taken byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "visa/MessageText.h"

namespace sim {

struct ScpiParameter {
    enum class Kind { Token, String, Block };
    Kind kind = Kind::Token;
    std::string text;  // token without surrounding blanks, string without quotes, block data
};

struct ScpiUnit {
    std::string header;  // as written, with a leading ':' or '*' and a trailing '?'
    std::vector<ScpiParameter> parameters;
    int error = 0;  // a lexing error (SCPI code): the unit is not executed
};

// Shared with the VISA layer's trace, so that both logs split and show messages alike.
using visa::SplitProgramMessages;

// Splits one program message (without its terminator) into units.
std::vector<ScpiUnit> LexProgramMessage(std::string_view message);

using visa::DescribeForLog;

}  // namespace sim
