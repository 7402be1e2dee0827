// Lexing of IEEE 488.2 program messages: messages at NL (never inside a definite-length block),
// units at ';', parameters at ','. Strings keep their case; block data is taken byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// Splits bytes into program messages at each NL outside block data; the NL, and a CR before it,
// are dropped. Bytes after the last NL form a message of their own (ended by END). Empty
// messages are left out.
std::vector<std::string_view> SplitProgramMessages(std::string_view bytes);

// Splits one program message (without its terminator) into units.
std::vector<ScpiUnit> LexProgramMessage(std::string_view message);

// One program message or reply as the traffic log shows it: block data replaced by
// "[<n> bytes]" after the block header, control and non-ASCII bytes as \xNN.
std::string DescribeForLog(std::string_view message);

}  // namespace sim
