// Small scripted servers for transport tests: a TCP listener on an ephemeral loopback port that
// runs a handler per connection, plus helpers to speak ONC RPC records and HiSLIP messages on
// it. They exist to misbehave in ways a well-made simulator never does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace fake {

inline void PutBe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
inline std::uint64_t GetBe(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<std::uint8_t>(in[at + i]);
    return value;
}

// One accepted connection, as the handler sees it.
class Peer {
public:
    explicit Peer(int fd) : m_fd(fd) {}

    // Exactly n bytes, or nothing when the peer closed or timeoutMs passed.
    std::optional<std::string> ReadExact(std::size_t n, int timeoutMs = 10000) {
        std::string out;
        while (out.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
            char chunk[65536];
            const ssize_t got = ::recv(m_fd, chunk, std::min(sizeof(chunk), n - out.size()), 0);
            if (got <= 0) return std::nullopt;
            out.append(chunk, static_cast<std::size_t>(got));
        }
        return out;
    }
    void Write(std::string_view bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // Ends the connection now, as an instrument that drops its link.
    void Close() { ::shutdown(m_fd, SHUT_RDWR); }

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
            if (!mark) return std::nullopt;
            const std::uint32_t m = static_cast<std::uint32_t>(GetBe(*mark, 0, 4));
            auto fragment = ReadExact(m & 0x7FFFFFFF);
            if (!fragment) return std::nullopt;
            record += *fragment;
            if (m & 0x80000000u) break;
        }
        if (record.size() < 40) return std::nullopt;
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
        if (!header || (*header)[0] != 'H' || (*header)[1] != 'S') return std::nullopt;
        Message message;
        message.type = static_cast<std::uint8_t>((*header)[2]);
        message.control = static_cast<std::uint8_t>((*header)[3]);
        message.parameter = static_cast<std::uint32_t>(GetBe(*header, 4, 4));
        auto payload = ReadExact(GetBe(*header, 8, 8), timeoutMs);
        if (!payload) return std::nullopt;
        message.payload = *payload;
        return message;
    }

private:
    int m_fd;
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
    for (std::uint32_t w : words) PutBe(out, w, 4);
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

// Listens on 127.0.0.1, an ephemeral port: tests running in parallel never collide.
class Server {
public:
    using Handler = std::function<void(Peer&)>;

    explicit Server(Handler handler) : m_handler(std::move(handler)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(m_listener, 16);
        socklen_t length = sizeof(address);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { Accept(); });
    }
    ~Server() {
        m_stop = true;
        m_acceptor.join();
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& t : m_threads) t.join();
        for (int fd : m_fds) ::close(fd);
        ::close(m_listener);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::uint16_t Port() const { return m_port; }

private:
    void Accept() {
        while (!m_stop) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) continue;
            std::lock_guard lock(m_mutex);
            m_fds.push_back(fd);
            m_threads.emplace_back([this, fd] {
                Peer peer(fd);
                m_handler(peer);
            });
        }
    }

    Handler m_handler;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::list<int> m_fds;
    std::list<std::thread> m_threads;
};

}  // namespace fake
