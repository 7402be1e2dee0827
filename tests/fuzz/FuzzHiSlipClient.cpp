// The HiSLIP client against a server that sends arbitrary bytes. First the header codec alone:
// the synchronous script is walked as a message stream, every header prefix must ask for more
// or fail on the prologue, and a decoded header must encode back to its bytes. Then the client
// transport over loopback: the peer answers the opening sequence (properly, or with the script
// itself), has already sent its scripts for both channels and closed its side, while the
// client writes, reads and clears as the input says.
//
// Input: settings, session id, the server's maximum message size, six client operations, the
// synchronous script and the asynchronous script as pieces.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "LoopbackPeer.h"
#include "sim/server/HiSlipCodec.h"
#include "visa/hislip/HiSlipCodec.h"
#include "visa/hislip/HiSlipTransport.h"
#include "visa/net/Resolver.h"

using namespace visa;
using namespace visa::hislip;

namespace {

struct Script {
    bool rawOpening = false;  // the synchronous script answers Initialize itself
    bool overlapped = false;
    std::uint16_t sessionId = 0;
    std::uint64_t maxHiSlipMessageSize = 0;
    std::string sync;
    std::string async;
};

void CheckHeaders(std::string_view stream) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    std::size_t at = 0;
    while (at < stream.size()) {
        Header header;
        const std::size_t available = stream.size() - at;
        const HeaderCheck check = DecodeHeader(bytes + at, available, header);
        for (std::size_t prefix = 0; prefix < kHeaderBytes && prefix < available; ++prefix) {
            Header partial;
            const HeaderCheck early = DecodeHeader(bytes + at, prefix, partial);
            FUZZ_CHECK(early == HeaderCheck::NeedMore ||
                       (early == HeaderCheck::BadPrologue && check == early));
        }
        if (check != HeaderCheck::Ok)
            return;
        std::uint8_t encoded[kHeaderBytes];
        EncodeHeader(encoded, header);
        FUZZ_CHECK(std::memcmp(encoded, bytes + at, kHeaderBytes) == 0);
        if (header.type == kInitializeResponse)
            DecodeInitializeResponse(header);
        at += kHeaderBytes;
        if (header.payloadLength > stream.size() - at)
            return;
        std::uint64_t size = 0;
        const bool sized = DecodeMaximumMessageSize(
            bytes + at, static_cast<std::size_t>(header.payloadLength), size);
        FUZZ_CHECK(sized == (header.payloadLength == 8));
        at += static_cast<std::size_t>(header.payloadLength);
    }
}

void Serve(fuzz::LoopbackPeer& peer, const Script& script) {
    using namespace sim::server;
    fuzz::TcpSocket sync = peer.Accept();
    if (!sync.Valid())
        return;
    std::string header(kHeaderBytes, '\0');
    if (!sync.ReadExact(header.data(), header.size()))
        return;
    const auto initialize = DecodeHiSlipHeader(header);
    if (!initialize || initialize->payloadLength > kMaxSubAddressBytes ||
        !sync.Skip(initialize->payloadLength)) {
        return;
    }
    // What the client reads after the opening sequence is already on its way.
    sync.WriteAll(script.rawOpening ? script.sync
                                    : EncodeHiSlipMessage(kInitializeResponse, script.overlapped,
                                                          (0x0100u << 16) | script.sessionId) +
                                          script.sync);
    sync.ShutdownWrite();
    fuzz::TcpSocket async = peer.Accept();
    if (async.Valid()) {
        if (async.Skip(kHeaderBytes)) {
            if (script.rawOpening) {
                async.WriteAll(script.async);
            } else {
                async.WriteAll(EncodeHiSlipMessage(kAsyncInitializeResponse, 0, ('K' << 8) | 'S'));
                if (async.Skip(kHeaderBytes + 8)) {
                    async.WriteAll(EncodeHiSlipMessage(kAsyncMaximumMessageSizeResponse, 0, 0,
                                                       EncodeU64(script.maxHiSlipMessageSize)) +
                                   script.async);
                }
            }
        }
        async.ShutdownWrite();
        fuzz::LoopbackPeer::Drain(async);
    }
    fuzz::LoopbackPeer::Drain(sync);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    Script script;
    script.rawOpening = (settings & 0x01) != 0;
    script.overlapped = (settings & 0x02) != 0;
    script.sessionId = input.U16();
    static const std::uint64_t kMaxSizes[4] = {1 << 20, kHeaderBytes + 1, 64, UINT64_MAX};
    script.maxHiSlipMessageSize = kMaxSizes[(settings >> 2) & 3];
    IoSettings io;
    io.timeoutMs = 2000;  // never waited for: the peer's side is closed after its script
    io.termCharEnabled = (settings & 0x10) != 0;
    io.termChar = '\n';
    std::uint8_t operations[6];
    for (std::uint8_t& op : operations)
        op = input.Byte();
    script.sync = input.Piece();
    script.async = input.Piece();

    CheckHeaders(script.sync);

    fuzz::LoopbackPeer::Run(
        [&](fuzz::LoopbackPeer& p) { Serve(p, script); },
        [&](std::uint16_t port) {
            std::vector<net::Endpoint> endpoints;
            if (net::ResolveHost("127.0.0.1", port, net::Deadline::AfterMs(1000), endpoints) !=
                net::NetStatus::Ok) {
                return;
            }
            HiSlipTransport transport;
            if (transport.Open(endpoints, "hislip0", net::Deadline::AfterMs(2000)) != VI_SUCCESS)
                return;
            FUZZ_CHECK(transport.ServerMaxMessageBytes() > kHeaderBytes);
            std::vector<ViByte> buffer(2048);
            const std::string message(300, 'Q');
            bool lost = false;
            for (std::uint8_t op : operations) {
                ViStatus status = VI_SUCCESS;
                ViUInt32 moved = 0;
                switch (op & 3) {
                    case 0: {
                        const ViUInt32 count = op >> 2;  // split into Data messages by small sizes
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
                        if (status == VI_SUCCESS_TERM_CHAR)
                            FUZZ_CHECK(moved > 0 && buffer[moved - 1] == '\n');
                        if (status == VI_SUCCESS_MAX_CNT)
                            FUZZ_CHECK(moved == count);
                        break;
                    }
                    default:
                        status = transport.Clear(io);
                        break;
                }
                if (lost)
                    FUZZ_CHECK(status == VI_ERROR_CONN_LOST);
                lost = lost || status == VI_ERROR_CONN_LOST;
            }
        });
    return 0;
}
