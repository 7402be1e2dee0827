// Small scripted servers for transport tests, on the simulator's own sockets: a listener on an
// ephemeral loopback port that runs a handler per connection, plus helpers to speak ONC RPC
// records and HiSLIP messages on it. They exist to misbehave in ways the simulator never does.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/server/ConnectionServer.h"

namespace fake {

inline void PutBe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
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
        if (record.size() < 40)
            return std::nullopt;
        Call call;
        call.xid = static_cast<std::uint32_t>(GetBe(record, 0, 4));
        call.program = static_cast<std::uint32_t>(GetBe(record, 12, 4));
        call.procedure = static_cast<std::uint32_t>(GetBe(record, 20, 4));
        call.args = record.substr(40);  // AUTH_NONE credentials and verifier, as our client sends
        return call;
    }

    // --- HiSLIP ---
    struct Message {
        std::uint8_t type = 0;
        std::uint8_t control = 0;
        std::uint32_t parameter = 0;
        std::string payload;
    };
    std::optional<Message> ReadMessage(int timeoutMs = 10000) {
        auto header = ReadExact(16, timeoutMs);
        if (!header || (*header)[0] != 'H' || (*header)[1] != 'S')
            return std::nullopt;
        Message message;
        message.type = static_cast<std::uint8_t>((*header)[2]);
        message.control = static_cast<std::uint8_t>((*header)[3]);
        message.parameter = static_cast<std::uint32_t>(GetBe(*header, 4, 4));
        auto payload = ReadExact(GetBe(*header, 8, 8), timeoutMs);
        if (!payload)
            return std::nullopt;
        message.payload = *payload;
        return message;
    }

private:
    sim::server::TcpSocket& m_socket;
};

// The results of an accepted RPC reply, as one record.
inline std::string RpcReply(std::uint32_t xid, std::string_view results) {
    std::string body;
    PutBe(body, xid, 4);
    PutBe(body, 1, 4);  // REPLY
    PutBe(body, 0, 4);  // MSG_ACCEPTED
    PutBe(body, 0, 8);  // AUTH_NONE verifier
    PutBe(body, 0, 4);  // SUCCESS
    body += results;
    std::string record;
    PutBe(record, 0x80000000u | body.size(), 4);
    return record + body;
}

inline std::string Words(std::initializer_list<std::uint32_t> words) {
    std::string out;
    for (std::uint32_t w : words)
        PutBe(out, w, 4);
    return out;
}

// device_read results: error, reason, data (padded).
inline std::string ReadResults(std::int32_t error, std::int32_t reason, std::string_view data) {
    std::string out = Words({static_cast<std::uint32_t>(error), static_cast<std::uint32_t>(reason),
                             static_cast<std::uint32_t>(data.size())});
    out += data;
    out.append((4 - data.size() % 4) % 4, '\0');
    return out;
}

inline std::string HiSlip(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                          std::string_view payload = {}) {
    std::string out = "HS";
    out.push_back(static_cast<char>(type));
    out.push_back(static_cast<char>(control));
    PutBe(out, parameter, 4);
    PutBe(out, payload.size(), 8);
    return out + std::string(payload);
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
