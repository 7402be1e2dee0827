#include "OncRpc.h"

#include "Xdr.h"

namespace sim::server {

namespace {

void SkipAuth(XdrReader& reader) {
    reader.GetU32();  // flavor
    reader.GetOpaque(rpc::kMaxAuthBytes);
}

void PutReplyHead(XdrWriter& writer, uint32_t xid) {
    writer.PutU32(xid);
    writer.PutU32(rpc::kReply);
    writer.PutU32(0);  // MSG_ACCEPTED
    writer.PutU32(0);  // verifier AUTH_NONE
    writer.PutU32(0);  // with an empty body
}

}  // namespace

RpcDecode DecodeCall(std::string_view record, RpcCall& call) {
    XdrReader reader(record);
    call.xid = reader.GetU32();
    const uint32_t type = reader.GetU32();
    if (!reader.Ok())
        return RpcDecode::Malformed;
    if (type != rpc::kCall)
        return RpcDecode::NotCall;
    call.rpcVersion = reader.GetU32();
    if (!reader.Ok())
        return RpcDecode::Malformed;
    if (call.rpcVersion != rpc::kVersion)
        return RpcDecode::WrongVersion;
    call.program = reader.GetU32();
    call.version = reader.GetU32();
    call.procedure = reader.GetU32();
    SkipAuth(reader);  // credentials
    SkipAuth(reader);  // verifier
    if (!reader.Ok())
        return RpcDecode::Malformed;
    call.arguments = reader.Rest();
    return RpcDecode::Call;
}

std::string EncodeAcceptedReply(uint32_t xid, rpc::AcceptStat stat, std::string_view results) {
    XdrWriter writer;
    PutReplyHead(writer, xid);
    writer.PutU32(static_cast<uint32_t>(stat));
    std::string reply = writer.Take();
    if (stat == rpc::AcceptStat::Success)
        reply.append(results);
    return reply;
}

std::string EncodeProgMismatch(uint32_t xid, uint32_t low, uint32_t high) {
    XdrWriter writer;
    PutReplyHead(writer, xid);
    writer.PutU32(static_cast<uint32_t>(rpc::AcceptStat::ProgMismatch));
    writer.PutU32(low);
    writer.PutU32(high);
    return writer.Take();
}

std::string EncodeRpcMismatch(uint32_t xid) {
    XdrWriter writer;
    writer.PutU32(xid);
    writer.PutU32(rpc::kReply);
    writer.PutU32(1);  // MSG_DENIED
    writer.PutU32(0);  // RPC_MISMATCH
    writer.PutU32(rpc::kVersion);
    writer.PutU32(rpc::kVersion);
    return writer.Take();
}

std::optional<std::string> ScreenCall(std::string_view record, uint32_t program, RpcCall& call,
                                      bool& malformed) {
    switch (DecodeCall(record, call)) {
        case RpcDecode::Malformed:
            malformed = true;
            return std::string();
        case RpcDecode::NotCall:
            return std::string();
        case RpcDecode::WrongVersion:
            return EncodeRpcMismatch(call.xid);
        case RpcDecode::Call:
            break;
    }
    if (call.program != program)
        return EncodeAcceptedReply(call.xid, rpc::AcceptStat::ProgUnavail);
    return std::nullopt;
}

}  // namespace sim::server
