#include "ScpiLexer.h"

#include <cctype>
#include <cstdio>
#include <optional>

namespace sim {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A definite-length block header at text[pos] ('#', a digit n of 1..9, n length digits).
struct BlockHeader {
    size_t headerLength = 0;  // '#', n and the digits
    size_t dataLength = 0;
    bool indefinite = false;  // "#0": data up to the end of the message
};

// Nothing when text[pos] does not start a block header that is complete and well formed.
std::optional<BlockHeader> ReadBlockHeader(std::string_view text, size_t pos) {
    if (pos + 1 >= text.size() || text[pos] != '#' || !IsDigit(text[pos + 1])) return std::nullopt;
    const size_t digits = static_cast<size_t>(text[pos + 1] - '0');
    if (digits == 0) return BlockHeader{2, 0, true};
    if (pos + 2 + digits > text.size()) return std::nullopt;
    size_t length = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = text[pos + 2 + i];
        if (!IsDigit(c)) return std::nullopt;
        length = length * 10 + static_cast<size_t>(c - '0');  // at most 9 digits: no overflow
    }
    return BlockHeader{2 + digits, length, false};
}

}  // namespace

std::vector<std::string_view> SplitProgramMessages(std::string_view bytes) {
    std::vector<std::string_view> messages;
    auto emit = [&](size_t begin, size_t end) {
        if (end > begin && bytes[end - 1] == '\r') --end;
        if (end > begin) messages.push_back(bytes.substr(begin, end - begin));
    };
    size_t begin = 0;
    size_t pos = 0;
    char quote = 0;
    while (pos < bytes.size()) {
        const char c = bytes[pos];
        if (c == '\n') {
            // NL ends the message even inside an unbalanced string, so one bad quote cannot
            // swallow the messages behind it.
            emit(begin, pos);
            begin = ++pos;
            quote = 0;
        } else if (quote) {
            if (c == quote) quote = 0;
            ++pos;
        } else if (c == '\'' || c == '"') {
            quote = c;
            ++pos;
        } else if (c == '#' && pos + 1 < bytes.size() && IsDigit(bytes[pos + 1])) {
            const std::optional<BlockHeader> block = ReadBlockHeader(bytes, pos);
            if (block && block->indefinite) {
                // "#0" data runs to the final NL, which must carry END.
                size_t end = bytes.size();
                if (end > pos && bytes[end - 1] == '\n') --end;
                messages.push_back(bytes.substr(begin, end - begin));
                return messages;
            }
            if (block) {
                pos += block->headerLength;
                // A short block takes everything behind it; the parser reports it.
                pos = block->dataLength > bytes.size() - pos ? bytes.size() : pos + block->dataLength;
            } else {
                pos += 2;
            }
        } else {
            ++pos;
        }
    }
    emit(begin, bytes.size());
    return messages;
}

std::vector<ScpiUnit> LexProgramMessage(std::string_view message) {
    std::vector<ScpiUnit> units;
    size_t pos = 0;
    const size_t size = message.size();
    auto skipBlanks = [&] {
        while (pos < size && IsBlank(message[pos])) ++pos;
    };
    // After an error, resume at the next ';' outside strings.
    auto skipUnit = [&] {
        char quote = 0;
        while (pos < size) {
            const char c = message[pos++];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == ';') {
                return;
            }
        }
    };

    while (pos < size) {
        skipBlanks();
        if (pos >= size) break;
        if (message[pos] == ';') {
            ++pos;
            continue;
        }
        ScpiUnit unit;
        const size_t headerBegin = pos;
        while (pos < size && !IsBlank(message[pos]) && message[pos] != ';') ++pos;
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
                while (pos < size && message[pos] != ',' && message[pos] != ';') ++pos;
                size_t end = pos;
                while (end > begin && IsBlank(message[end - 1])) --end;
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
                if (pos >= size || message[pos] == ';') unit.error = -102;  // trailing comma
            } else if (pos < size && message[pos] != ';') {
                unit.error = -103;  // e.g. text right behind a closing quote
            }
        }
        if (unit.error != 0 && !endOfMessage) skipUnit();
        else if (pos < size && message[pos] == ';') ++pos;
        units.push_back(std::move(unit));
        if (endOfMessage) break;
    }
    return units;
}

std::string DescribeForLog(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    char quote = 0;
    size_t pos = 0;
    while (pos < message.size()) {
        const char c = message[pos];
        if (!quote && c == '#' && pos + 1 < message.size() && IsDigit(message[pos + 1])) {
            const std::optional<BlockHeader> block = ReadBlockHeader(message, pos);
            if (block) {
                out.append(message.substr(pos, block->headerLength));
                pos += block->headerLength;
                const size_t available = message.size() - pos;
                const size_t n = block->indefinite ? available : std::min(block->dataLength, available);
                out += '[' + std::to_string(n) + " bytes]";
                pos += n;
                continue;
            }
        }
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
        ++pos;
    }
    return out;
}

}  // namespace sim
