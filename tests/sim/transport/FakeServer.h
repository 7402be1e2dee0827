// Small scripted servers for transport tests, on the simulator's own sockets: a listener on an
// ephemeral loopback port that runs a handler per connection, plus helpers to speak ONC RPC
// records and HiSLIP messages on it with the simulator's codecs (the client's are under test).
// They exist to misbehave in ways the simulator never does.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/server/ConnectionServer.h"
#include "sim/server/HiSlipCodec.h"
#include "sim/server/OncRpc.h"
#include "sim/server/Xdr.h"

namespace fake {

inline std::uint64_t GetBe(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(in[at + i]);
    return value;
}

// One accepted connection, as the handler sees it.
class Peer {
public:
    explicit Peer(sim::server::TcpSocket& socket) : m_socket(socket) {}

    // Exactly n bytes, or nothing when the peer closed or timeoutMs passed.
    std::optional<std::string> ReadExact(std::size_t n, int timeoutMs = 10000) {
        std::string out(n, '\0');
        m_socket.SetReadTimeoutMs(timeoutMs);
        if (!m_socket.ReadExact(out.data(), n))
            return std::nullopt;
        return out;
    }
    void Write(std::string_view bytes) { m_socket.WriteAll(bytes); }
    // Ends the connection now, as an instrument that drops its link.
    void Close() { m_socket.ShutdownBoth(); }

    // --- ONC RPC ---
    struct Call {
        std::uint32_t xid = 0;
        std::uint32_t program = 0;
        std::uint32_t procedure = 0;
        std::string args;
    };
    // One call record (fragments joined); nothing when the connection ended.
    std::optional<Call> ReadCall() {
        std::string record;
        for (;;) {
            auto mark = ReadExact(4);
            if (!mark)
                return std::nullopt;
            const std::uint32_t m = static_cast<std::uint32_t>(GetBe(*mark, 0, 4));
            auto fragment = ReadExact(m & 0x7FFFFFFF);
            if (!fragment)
                return std::nullopt;
            record += *fragment;
            if (m & 0x80000000u)
                break;
        }
        sim::server::RpcCall call;
        if (sim::server::DecodeCall(record, call) != sim::server::RpcDecode::Call)
            return std::nullopt;
        return Call{call.xid, call.program, call.procedure, std::string(call.arguments)};
    }

    // --- HiSLIP ---
    struct Message {
        std::uint8_t type = 0;
        std::uint8_t control = 0;
        std::uint32_t parameter = 0;
        std::string payload;
    };
    std::optional<Message> ReadMessage(int timeoutMs = 10000) {
        const auto bytes = ReadExact(16, timeoutMs);
        const auto header = bytes ? sim::server::DecodeHiSlipHeader(*bytes) : std::nullopt;
        const auto payload = header ? ReadExact(header->payloadLength, timeoutMs) : std::nullopt;
        if (!payload)
            return std::nullopt;
        return Message{header->type, header->control, header->parameter, *payload};
    }

private:
    sim::server::TcpSocket& m_socket;
};

// The results of an accepted RPC reply, as one record.
inline std::string RpcReply(std::uint32_t xid, std::string_view results) {
    return sim::server::EncodeRecord(
        sim::server::EncodeAcceptedReply(xid, sim::server::rpc::AcceptStat::Success, results));
}

inline std::string Words(std::initializer_list<std::uint32_t> words) {
    sim::server::XdrWriter out;
    for (std::uint32_t w : words)
        out.PutU32(w);
    return out.Take();
}

// device_read results: error, reason, data (padded).
inline std::string ReadResults(std::int32_t error, std::int32_t reason, std::string_view data) {
    sim::server::XdrWriter out;
    out.PutI32(error);
    out.PutI32(reason);
    out.PutOpaque(data);
    return out.Take();
}

inline std::string HiSlip(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                          std::string_view payload = {}) {
    return sim::server::EncodeHiSlipMessage(type, control, parameter, payload);
}

// Listens on 127.0.0.1, an ephemeral port: tests running in parallel never collide. A handler
// that returns leaves its connection open until the server goes, as a peer that stops answering.
class Server {
public:
    using Handler = std::function<void(Peer&)>;

    explicit Server(Handler handler) {
        std::string error;
        m_server.Listen("127.0.0.1", 0, error);
        m_server.Start([this, handler = std::move(handler)](sim::server::TcpSocket& socket) {
            Peer peer(socket);
            handler(peer);
            pollfd stop{m_server.Signal().Fd(), POLLIN, 0};
            while (::poll(&stop, 1, -1) <= 0)
                continue;
        });
    }
    std::uint16_t Port() const { return m_server.Port(); }

private:
    sim::server::ConnectionServer m_server{64};
};

}  // namespace fake
