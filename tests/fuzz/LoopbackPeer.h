// Real sockets on 127.0.0.1 for the session targets: the client under test runs on the fuzzing
// thread, a scripted peer on a thread of its own. Every wait of the peer is cut short once the
// client is done, so an input never waits for a timeout, and connections the peer never took are
// closed before the next input. libFuzzer's timer signal interrupts system calls (EINTR); they
// are repeated, or a peer would give up in the middle of its script.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

namespace fuzz {

// One connection of the peer; closed when it goes out of scope.
class PeerSocket {
public:
    PeerSocket(int fd, const std::atomic<bool>& clientDone) : m_fd(fd), m_clientDone(clientDone) {}
    ~PeerSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    bool Valid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    // False when the client closed, or finished, before n bytes came.
    bool ReadExact(void* out, std::size_t n) {
        auto* bytes = static_cast<char*>(out);
        std::size_t got = 0;
        while (got < n) {
            if (!WaitReadable())
                return false;
            const ssize_t r = ::recv(m_fd, bytes + got, n - got, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    }
    // Best effort: a client that has gone cannot take the rest.
    void Write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    // The client then sees the end of the stream after what was written, never a stall.
    void ShutdownWrite() { ::shutdown(m_fd, SHUT_WR); }
    // Reads and drops what the client sends until it closes or is done.
    void Drain() {
        char scratch[4096];
        while (WaitReadable()) {
            const ssize_t n = ::recv(m_fd, scratch, sizeof scratch, 0);
            if (n == 0 || (n < 0 && errno != EINTR))
                return;
        }
    }

private:
    bool WaitReadable() {
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, 5);
            if (ready > 0)
                return true;
            if ((ready < 0 && errno != EINTR) || m_clientDone)
                return false;
        }
    }

    int m_fd;
    const std::atomic<bool>& m_clientDone;
};

class LoopbackPeer {
public:
    using Script = std::function<void(LoopbackPeer&)>;

    LoopbackPeer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 16);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackPeer() { ::close(m_listener); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t Port() const { return m_port; }

    // The next connection, or an invalid socket once the client is done without one.
    PeerSocket Accept() {
        for (;;) {
            pollfd p{m_listener, POLLIN, 0};
            const int ready = ::poll(&p, 1, 5);
            if (ready > 0) {
                const int fd = ::accept(m_listener, nullptr, nullptr);
                if (fd >= 0) {
                    const int one = 1;  // each write leaves as its own segment
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    return PeerSocket(fd, m_clientDone);
                }
            }
            if ((ready < 0 && errno != EINTR) || m_clientDone)
                return PeerSocket(-1, m_clientDone);
        }
    }

    // Runs script on the peer thread while client runs here.
    void Run(const Script& script, const std::function<void()>& client) {
        m_clientDone = false;
        std::thread peer([&] { script(*this); });
        client();
        m_clientDone = true;
        peer.join();
        // Connections the script did not take would otherwise meet the next input's script.
        for (;;) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0)
                break;
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                break;
            ::close(fd);
        }
    }

private:
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_clientDone{false};
};

}  // namespace fuzz
