#include "ScpiLexer.h"

#include <cctype>
#include <cstdio>
#include <optional>

namespace sim {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

using visa::BlockHeader;
using visa::ReadBlockHeader;

}  // namespace

std::vector<ScpiUnit> LexProgramMessage(std::string_view message) {
    std::vector<ScpiUnit> units;
    size_t pos = 0;
    const size_t size = message.size();
    auto skipBlanks = [&] {
        while (pos < size && IsBlank(message[pos]))
            ++pos;
    };
    // After an error, resume at the next ';' outside strings.
    auto skipUnit = [&] {
        char quote = 0;
        while (pos < size) {
            const char c = message[pos++];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == ';') {
                return;
            }
        }
    };

    while (pos < size) {
        skipBlanks();
        if (pos >= size)
            break;
        if (message[pos] == ';') {
            ++pos;
            continue;
        }
        ScpiUnit unit;
        const size_t headerBegin = pos;
        while (pos < size && !IsBlank(message[pos]) && message[pos] != ';')
            ++pos;
        unit.header.assign(message.substr(headerBegin, pos - headerBegin));
        skipBlanks();
        bool endOfMessage = false;  // a block ran to the end: nothing follows
        while (pos < size && message[pos] != ';' && unit.error == 0) {
            ScpiParameter parameter;
            const char c = message[pos];
            if (c == '\'' || c == '"') {
                parameter.kind = ScpiParameter::Kind::String;
                ++pos;
                bool closed = false;
                while (pos < size) {
                    if (message[pos] == c) {
                        if (pos + 1 < size && message[pos + 1] == c) {  // doubled quote
                            parameter.text += c;
                            pos += 2;
                            continue;
                        }
                        ++pos;
                        closed = true;
                        break;
                    }
                    parameter.text += message[pos++];
                }
                if (!closed) {
                    unit.error = -151;
                    endOfMessage = true;
                    break;
                }
            } else if (c == '#' && pos + 1 < size && IsDigit(message[pos + 1])) {
                parameter.kind = ScpiParameter::Kind::Block;
                const std::optional<BlockHeader> block = ReadBlockHeader(message, pos);
                if (!block) {
                    unit.error = -161;
                    endOfMessage = true;
                    break;
                }
                pos += block->headerLength;
                const size_t available = size - pos;
                if (block->indefinite) {
                    parameter.text.assign(message.substr(pos));
                    pos = size;
                    endOfMessage = true;
                } else if (block->dataLength > available) {
                    // Too few bytes before END: the whole unit is discarded.
                    unit.error = -161;
                    endOfMessage = true;
                    break;
                } else {
                    parameter.text.assign(message.substr(pos, block->dataLength));
                    pos += block->dataLength;
                }
            } else {
                const size_t begin = pos;
                while (pos < size && message[pos] != ',' && message[pos] != ';')
                    ++pos;
                size_t end = pos;
                while (end > begin && IsBlank(message[end - 1]))
                    --end;
                parameter.text.assign(message.substr(begin, end - begin));
                if (parameter.text.empty()) {
                    unit.error = -102;  // an empty element, as in "X 1,,2"
                    break;
                }
            }
            unit.parameters.push_back(std::move(parameter));
            skipBlanks();
            if (pos < size && message[pos] == ',') {
                ++pos;
                skipBlanks();
                if (pos >= size || message[pos] == ';')
                    unit.error = -102;  // trailing comma
            } else if (pos < size && message[pos] != ';') {
                unit.error = -103;  // e.g. text right behind a closing quote
            }
        }
        if (unit.error != 0 && !endOfMessage)
            skipUnit();
        else if (pos < size && message[pos] == ';')
            ++pos;
        units.push_back(std::move(unit));
        if (endOfMessage)
            break;
    }
    return units;
}

}  // namespace sim
