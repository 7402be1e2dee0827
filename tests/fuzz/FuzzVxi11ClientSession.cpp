// The VXI-11 client transport against a server that answers with arbitrary bytes: the link is
// created properly, then the client writes, reads and clears as the input says while the peer
// has already sent its whole script of replies and closed its side. Reply i of the script may
// carry the xid of the client's i-th call, or a stale or future one.
//
// Input: settings, termination character, link id, six client operations, then the replies as
// pieces, each starting with a control byte (bit 0: put the xid in, bits 1-2: off by 0, -1, +1).
#include <algorithm>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "LoopbackPeer.h"
#include "sim/server/OncRpc.h"
#include "sim/server/Xdr.h"
#include "visa/net/Resolver.h"
#include "visa/vxi11/Vxi11Codec.h"
#include "visa/vxi11/Vxi11Transport.h"

using namespace visa;
using namespace visa::vxi11;

namespace {

struct Script {
    std::int32_t linkError = 0;
    std::int32_t lid = 0;
    std::uint32_t maxRecvSize = 0;
    std::vector<std::string> replies;
};

std::string Word(std::uint32_t value) {
    sim::server::XdrWriter out;
    out.PutU32(value);
    return out.Take();
}

void Serve(fuzz::LoopbackPeer& peer, const Script& script) {
    fuzz::TcpSocket socket = peer.Accept();
    if (!socket.Valid())
        return;
    // The create_link call: one record of one fragment, as our client sends it.
    char mark[4];
    if (!socket.ReadExact(mark, 4))
        return;
    const std::uint32_t length = sim::server::XdrReader({mark, 4}).GetU32() & 0x7FFFFFFF;
    if (length < 4 || length > 4096)
        return;
    std::string call(length, '\0');
    if (!socket.ReadExact(call.data(), length))
        return;
    const std::uint32_t xid = sim::server::XdrReader(call).GetU32();
    sim::server::XdrWriter link;
    for (std::uint32_t word :
         {std::uint32_t(script.linkError), std::uint32_t(script.lid), 0u, script.maxRecvSize}) {
        link.PutU32(word);
    }
    socket.WriteAll(sim::server::EncodeRecord(sim::server::EncodeAcceptedReply(
        xid, sim::server::rpc::AcceptStat::Success, link.Bytes())));

    // Each reply in a send of its own: the client may find a record cut anywhere.
    for (std::size_t i = 0; i < script.replies.size(); ++i) {
        const std::string& piece = script.replies[i];
        if (piece.empty())
            continue;
        const auto control = static_cast<std::uint8_t>(piece[0]);
        std::string reply = piece.substr(1);
        if ((control & 1) && reply.size() >= 8) {
            static const std::int32_t kOffsets[4] = {0, 0, -1, 1};
            reply.replace(
                4, 4, Word(xid + 1 + static_cast<std::uint32_t>(i) + kOffsets[(control >> 1) & 3]));
        }
        socket.WriteAll(reply);
    }
    socket.ShutdownWrite();
    fuzz::LoopbackPeer::Drain(socket);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    IoSettings io;
    io.timeoutMs = 2000;  // never waited for: the peer's side is closed after its script
    io.termCharEnabled = (settings & 0x04) != 0;
    io.termChar = input.Byte();
    Script script;
    static const std::int32_t kLinkErrors[4] = {kErrorNone, kErrorNone, kErrorNone,
                                                kErrorOutOfResources};
    script.linkError = kLinkErrors[settings & 3];
    script.lid = static_cast<std::int8_t>(input.Byte());
    static const std::uint32_t kRecvSizes[4] = {1024, 0, 7, 0xFFFFFFFFu};
    script.maxRecvSize = kRecvSizes[(settings >> 3) & 3];
    std::uint8_t operations[6];
    for (std::uint8_t& op : operations)
        op = input.Byte();
    while (!input.Empty() && script.replies.size() < 64)
        script.replies.emplace_back(input.Piece());

    fuzz::LoopbackPeer::Run(
        [&](fuzz::LoopbackPeer& p) { Serve(p, script); },
        [&](std::uint16_t port) {
            std::vector<net::Endpoint> endpoints;
            if (net::ResolveHost("127.0.0.1", port, net::Deadline::AfterMs(1000), endpoints) !=
                net::NetStatus::Ok) {
                return;
            }
            Vxi11Transport transport;
            if (transport.Open(endpoints, "inst0", net::Deadline::AfterMs(2000)) != VI_SUCCESS)
                return;
            std::vector<ViByte> buffer(2048);
            const std::string message(300, 'Q');
            bool lost = false;
            for (std::uint8_t op : operations) {
                ViStatus status = VI_SUCCESS;
                ViUInt32 moved = 0;
                switch (op & 3) {
                    case 0: {
                        const ViUInt32 count =
                            op >> 2;  // 0 to 63 bytes, split by small maxRecvSizes
                        status = transport.Write(reinterpret_cast<ViConstBuf>(message.data()),
                                                 count, moved, io);
                        FUZZ_CHECK(moved <= count);
                        break;
                    }
                    case 1:
                    case 2: {
                        const ViUInt32 count =
                            (op & 3) == 1 ? 1 + (op >> 2) : static_cast<ViUInt32>(buffer.size());
                        status = transport.Read(buffer.data(), count, moved, io);
                        FUZZ_CHECK(moved <= count);
                        if (status == VI_SUCCESS_TERM_CHAR) {
                            FUZZ_CHECK(io.termCharEnabled && moved > 0 &&
                                       buffer[moved - 1] == io.termChar);
                        }
                        if (status == VI_SUCCESS_MAX_CNT)
                            FUZZ_CHECK(moved == count);
                        break;
                    }
                    default:
                        status = transport.Clear(io);
                        break;
                }
                // A lost session stays lost.
                if (lost)
                    FUZZ_CHECK(status == VI_ERROR_CONN_LOST);
                lost = lost || status == VI_ERROR_CONN_LOST;
            }
        });
    return 0;
}
