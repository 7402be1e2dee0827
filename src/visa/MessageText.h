// The text of IEEE 488.2 program messages as both ends log them: the simulator's traffic log and
// the VISA layer's trace share these, so their lines can be compared.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace visa {

// A definite-length block header at text[pos] ('#', a digit n of 1..9, n length digits).
struct BlockHeader {
    size_t headerLength = 0;  // '#', n and the digits
    size_t dataLength = 0;
    bool indefinite = false;  // "#0": data up to the end of the message
};

// Nothing when text[pos] does not start a block header that is complete and well formed.
std::optional<BlockHeader> ReadBlockHeader(std::string_view text, size_t pos);

// Splits bytes into program messages at each NL outside block data; the NL, and a CR before it,
// are dropped. Bytes after the last NL form a message of their own (ended by END). Empty
// messages are left out.
std::vector<std::string_view> SplitProgramMessages(std::string_view bytes);

// One program message or reply as a log shows it: block data replaced by "[<n> bytes]" after
// the block header, control and non-ASCII bytes as \xNN.
std::string DescribeForLog(std::string_view message);

}  // namespace visa
