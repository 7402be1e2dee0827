#include "MessageText.h"

#include <algorithm>
#include <cstdio>

namespace visa {

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

std::optional<BlockHeader> ReadBlockHeader(std::string_view text, size_t pos) {
    if (pos + 1 >= text.size() || text[pos] != '#' || !IsDigit(text[pos + 1]))
        return std::nullopt;
    const size_t digits = static_cast<size_t>(text[pos + 1] - '0');
    if (digits == 0)
        return BlockHeader{2, 0, true};
    if (pos + 2 + digits > text.size())
        return std::nullopt;
    size_t length = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = text[pos + 2 + i];
        if (!IsDigit(c))
            return std::nullopt;
        length = length * 10 + static_cast<size_t>(c - '0');  // at most 9 digits: no overflow
    }
    return BlockHeader{2 + digits, length, false};
}

std::vector<std::string_view> SplitProgramMessages(std::string_view bytes) {
    std::vector<std::string_view> messages;
    auto emit = [&](size_t begin, size_t end) {
        if (end > begin && bytes[end - 1] == '\r')
            --end;
        if (end > begin)
            messages.push_back(bytes.substr(begin, end - begin));
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
            if (c == quote)
                quote = 0;
            ++pos;
        } else if (c == '\'' || c == '"') {
            quote = c;
            ++pos;
        } else if (c == '#' && pos + 1 < bytes.size() && IsDigit(bytes[pos + 1])) {
            const std::optional<BlockHeader> block = ReadBlockHeader(bytes, pos);
            if (block && block->indefinite) {
                // "#0" data runs to the final NL, which must carry END.
                size_t end = bytes.size();
                if (end > pos && bytes[end - 1] == '\n')
                    --end;
                messages.push_back(bytes.substr(begin, end - begin));
                return messages;
            }
            if (block) {
                pos += block->headerLength;
                // A short block takes everything behind it; the parser reports it.
                pos =
                    block->dataLength > bytes.size() - pos ? bytes.size() : pos + block->dataLength;
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
                const size_t n =
                    block->indefinite ? available : std::min(block->dataLength, available);
                out += '[' + std::to_string(n) + " bytes]";
                pos += n;
                continue;
            }
        }
        if (quote) {
            if (c == quote)
                quote = 0;
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

}  // namespace visa
