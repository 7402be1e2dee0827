// ONC RPC version 2 over TCP: call headers, reply headers and record marking, as pure functions
// over bytes. Calls go out as one record of one fragment, credentials and verifier AUTH_NONE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "visa/protocol/Vxi11.h"

namespace visa::vxi11 {

namespace rpc = protocol::rpc;

// Starts a record in out (cleared, capacity kept): a placeholder record mark, then the call
// header. Append the arguments, then call FinishRecord.
void BeginCall(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t program,
               std::uint32_t version, std::uint32_t procedure);
// Fills in the record mark: one fragment, last-fragment bit set.
void FinishRecord(std::vector<std::uint8_t>& out);

enum class RecordScan { NeedMore, Complete, TooLong };

struct RecordExtent {
    RecordScan scan = RecordScan::NeedMore;
    std::size_t streamBytes = 0;   // bytes of the stream the record occupies, marks included
    std::size_t payloadBytes = 0;  // the record without its marks
    std::size_t fragments = 0;
};

// Looks for one whole record at the start of a byte stream. TooLong when the fragments announce
// more than maxPayload bytes (or absurdly many fragments): the stream cannot be trusted then.
// acceptUnterminatedBytes > 0 accepts a first fragment of exactly that size without the
// last-fragment bit (instruments exist that omit it on their portmapper reply).
RecordExtent FindRecord(const std::uint8_t* stream, std::size_t size, std::size_t maxPayload,
                        std::size_t acceptUnterminatedBytes = 0);

// Removes the fragment marks of a complete record in place; the payload then starts at stream[0].
void JoinFragments(std::uint8_t* stream, const RecordExtent& extent);

enum class ReplyKind {
    Success,  // accepted, results follow
    Denied,   // RPC version mismatch or authentication error
    ProgUnavail,
    ProgMismatch,
    ProcUnavail,
    GarbageArgs,
    SystemError,
    Malformed,  // not a reply, or not decodable
};

struct ReplyHeader {
    std::uint32_t xid = 0;
    ReplyKind kind = ReplyKind::Malformed;
    std::size_t resultsOffset = 0;  // where the results start (Success only)
};

// Decodes the header of one reply record (without record marks). A record too short to hold an
// xid gives Malformed with xid 0; check HasXid first when the xid matters.
ReplyHeader DecodeReply(const std::uint8_t* record, std::size_t size);
inline bool HasXid(std::size_t size) {
    return size >= 4;
}

}  // namespace visa::vxi11
