#include "RpcCodec.h"

#include <cstring>

#include "XdrReader.h"
#include "XdrWriter.h"

namespace visa::vxi11 {
namespace {

// A stream of empty, unterminated fragments never ends a record; bound the scan.
constexpr std::size_t kMaxFragments = 4096;

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

}  // namespace

void BeginCall(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t program,
               std::uint32_t version, std::uint32_t procedure) {
    out.clear();
    XdrWriter w(out);
    w.PutUint(0);  // record mark, filled in by FinishRecord
    w.PutUint(xid);
    w.PutUint(rpc::kCall);
    w.PutUint(rpc::kVersion);
    w.PutUint(program);
    w.PutUint(version);
    w.PutUint(procedure);
    w.PutUint(rpc::kAuthNone);  // credentials
    w.PutUint(0);
    w.PutUint(rpc::kAuthNone);  // verifier
    w.PutUint(0);
}

void FinishRecord(std::vector<std::uint8_t>& out) {
    const std::uint32_t mark = rpc::kLastFragment | static_cast<std::uint32_t>(out.size() - 4);
    out[0] = static_cast<std::uint8_t>(mark >> 24);
    out[1] = static_cast<std::uint8_t>(mark >> 16);
    out[2] = static_cast<std::uint8_t>(mark >> 8);
    out[3] = static_cast<std::uint8_t>(mark);
}

RecordExtent FindRecord(const std::uint8_t* stream, std::size_t size, std::size_t maxPayload,
                        std::size_t acceptUnterminatedBytes) {
    RecordExtent extent;
    std::size_t at = 0;
    for (;;) {
        if (size - at < 4)
            return extent;  // NeedMore
        const std::uint32_t mark = Be32(stream + at);
        const std::size_t length = mark & ~rpc::kLastFragment;
        const bool last = (mark & rpc::kLastFragment) != 0;
        if (length > maxPayload - extent.payloadBytes || extent.fragments >= kMaxFragments) {
            extent.scan = RecordScan::TooLong;
            return extent;
        }
        if (size - at - 4 < length)
            return extent;  // NeedMore
        at += 4 + length;
        extent.payloadBytes += length;
        ++extent.fragments;
        const bool accepted = last || (extent.fragments == 1 && acceptUnterminatedBytes > 0 &&
                                       length == acceptUnterminatedBytes);
        if (accepted) {
            extent.scan = RecordScan::Complete;
            extent.streamBytes = at;
            return extent;
        }
    }
}

void JoinFragments(std::uint8_t* stream, const RecordExtent& extent) {
    std::size_t from = 0;
    std::size_t to = 0;
    for (std::size_t i = 0; i < extent.fragments; ++i) {
        const std::size_t length = Be32(stream + from) & ~rpc::kLastFragment;
        std::memmove(stream + to, stream + from + 4, length);
        from += 4 + length;
        to += length;
    }
}

ReplyHeader DecodeReply(const std::uint8_t* record, std::size_t size) {
    ReplyHeader header;
    XdrReader r({record, size});
    header.xid = r.GetU32();
    const std::uint32_t type = r.GetU32();
    const std::uint32_t replyStat = r.GetU32();
    if (!r.Ok() || type != rpc::kReply)
        return header;
    if (replyStat == rpc::kMsgDenied) {
        header.kind = ReplyKind::Denied;
        return header;
    }
    if (replyStat != rpc::kMsgAccepted)
        return header;
    r.GetU32();  // verifier flavor: whatever the server sends is ignored
    r.GetOpaque(rpc::kMaxAuthBytes);
    const std::uint32_t acceptStat = r.GetU32();
    if (!r.Ok())
        return header;
    using rpc::AcceptStat;
    switch (static_cast<AcceptStat>(acceptStat)) {
        case AcceptStat::Success:
            header.kind = ReplyKind::Success;
            break;
        case AcceptStat::ProgUnavail:
            header.kind = ReplyKind::ProgUnavail;
            break;
        case AcceptStat::ProgMismatch:
            header.kind = ReplyKind::ProgMismatch;
            break;
        case AcceptStat::ProcUnavail:
            header.kind = ReplyKind::ProcUnavail;
            break;
        case AcceptStat::GarbageArgs:
            header.kind = ReplyKind::GarbageArgs;
            break;
        case AcceptStat::SystemErr:
            header.kind = ReplyKind::SystemError;
            break;
        default:
            header.kind = ReplyKind::Malformed;
            break;
    }
    header.resultsOffset = r.Position();
    return header;
}

}  // namespace visa::vxi11
