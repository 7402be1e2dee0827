// ONC RPC version 2 call decoding and reply encoding (record payloads, without record marks).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "visa/protocol/Vxi11.h"

namespace sim::server {

namespace rpc = visa::protocol::rpc;

struct RpcCall {
    uint32_t xid = 0;
    uint32_t rpcVersion = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
    std::string_view arguments;  // the XDR arguments, a view into the decoded record
};

enum class RpcDecode {
    Call,          // a call with rpcvers 2: dispatch it
    WrongVersion,  // a call with another rpcvers: answer RPC_MISMATCH
    NotCall,       // a reply or another message type: no answer
    Malformed,     // the header does not decode: the stream is not to be trusted
};

// Decodes the call header of one record. Credentials and verifier are checked for length and
// skipped: any flavor is accepted.
RpcDecode DecodeCall(std::string_view record, RpcCall& call);
// Decodes a call meant for program. Gives the answer to send instead of dispatching it (an RPC
// version mismatch or PROG_UNAVAIL; empty text when nothing is to be sent, with malformed set
// when the record cannot be parsed), or nothing when the call is for program.
std::optional<std::string> ScreenCall(std::string_view record, uint32_t program, RpcCall& call,
                                      bool& malformed);

// Accepted reply with an AUTH_NONE verifier; `results` follow the accept status (for SUCCESS).
std::string EncodeAcceptedReply(uint32_t xid, rpc::AcceptStat stat, std::string_view results = {});
// PROG_MISMATCH with the supported version range.
std::string EncodeProgMismatch(uint32_t xid, uint32_t low, uint32_t high);
// MSG_DENIED / RPC_MISMATCH: only RPC version 2 is spoken.
std::string EncodeRpcMismatch(uint32_t xid);

}  // namespace sim::server
