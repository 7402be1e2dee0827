// Splits the bytes a client writes into complete program messages. A message ends with END, or
// with a line feed outside an arbitrary block: some clients send long writes without END, and
// IEEE 488.2 accepts NL alone as terminator. Inside a definite-length block every byte is data;
// an indefinite block (#0) runs until END.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim::server {

class MessageAssembler {
public:
    explicit MessageAssembler(size_t maxProgramMessageBytes)
        : m_maxProgramMessageBytes(maxProgramMessageBytes) {}

    // Appends bytes; `end` marks their last byte as carrying END. Completed messages are
    // appended to `messages`. Returns false when the incomplete message would grow past the
    // limit: it is then discarded and assembly starts afresh.
    bool Append(std::string_view bytes, bool end, std::vector<std::string>& messages);
    // Device clear: the partial message is discarded.
    void Clear();
    bool Empty() const { return m_message.empty(); }
    // Whether a complete message contains a query header: a '?' outside quotes and blocks.
    static bool HasQuery(std::string_view message);

private:
    void Complete(std::vector<std::string>& messages);

    enum class State { Text, Quote, BlockDigitCount, BlockLength, BlockData, IndefiniteBlock };
    size_t m_maxProgramMessageBytes;
    std::string m_message;
    State m_state = State::Text;
    char m_quote = 0;
    int m_digitsLeft = 0;
    size_t m_blockLeft = 0;
};

}  // namespace sim::server
