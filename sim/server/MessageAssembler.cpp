#include "MessageAssembler.h"

namespace sim::server {

namespace {
constexpr size_t kMaxBlockDigitValue = size_t{1} << 40;
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

bool MessageAssembler::Append(std::string_view bytes, bool end,
                              std::vector<std::string>& messages) {
    for (char c : bytes) {
        if (m_message.size() >= m_maxProgramMessageBytes) {
            Clear();
            return false;
        }
        m_message.push_back(c);
        switch (m_state) {
            case State::Text:
                if (c == '\n') {
                    Complete(messages);
                } else if (c == '"' || c == '\'') {
                    m_state = State::Quote;
                    m_quote = c;
                } else if (c == '#') {
                    m_state = State::BlockDigitCount;
                }
                break;
            case State::Quote:
                // A line feed inside a string still ends the message; the instrument then
                // reports the unterminated string.
                if (c == '\n') {
                    Complete(messages);
                } else if (c == m_quote) {
                    m_state = State::Text;
                }
                break;
            case State::BlockDigitCount:
                if (c == '0') {
                    m_state = State::IndefiniteBlock;
                } else if (IsDigit(c)) {
                    m_digitsLeft = c - '0';
                    m_blockLeft = 0;
                    m_state = State::BlockLength;
                } else if (c == '\n') {
                    Complete(messages);
                } else {
                    m_state = State::Text;  // not a block; the parser will judge
                }
                break;
            case State::BlockLength:
                if (!IsDigit(c)) {
                    // Malformed length: resume plain scanning so a line feed still terminates.
                    if (c == '\n') {
                        Complete(messages);
                    } else {
                        m_state = State::Text;
                    }
                    break;
                }
                if (m_blockLeft < kMaxBlockDigitValue)
                    m_blockLeft = m_blockLeft * 10 + (c - '0');
                if (--m_digitsLeft == 0)
                    m_state = m_blockLeft ? State::BlockData : State::Text;
                break;
            case State::BlockData:
                if (--m_blockLeft == 0)
                    m_state = State::Text;
                break;
            case State::IndefiniteBlock:
                break;
        }
    }
    if (end && !m_message.empty())
        Complete(messages);
    return true;
}

void MessageAssembler::Complete(std::vector<std::string>& messages) {
    messages.push_back(std::move(m_message));
    Clear();
}

void MessageAssembler::Clear() {
    m_message.clear();
    m_state = State::Text;
    m_quote = 0;
    m_digitsLeft = 0;
    m_blockLeft = 0;
}

bool MessageAssembler::HasQuery(std::string_view message) {
    char quote = 0;
    for (size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '?') {
            return true;
        } else if (c == '#' && i + 1 < message.size() && IsDigit(message[i + 1])) {
            const int digits = message[i + 1] - '0';
            if (digits == 0)
                return false;  // an indefinite block runs to the end
            size_t length = 0;
            size_t j = i + 2;
            for (int d = 0; d < digits && j < message.size() && IsDigit(message[j]); ++d, ++j) {
                if (length < kMaxBlockDigitValue)
                    length = length * 10 + (message[j] - '0');
            }
            if (length >= message.size() - j)
                return false;
            i = j + length - 1;
        }
    }
    return false;
}

}  // namespace sim::server
