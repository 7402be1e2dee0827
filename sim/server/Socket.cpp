#include "Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim::server {

namespace {

bool MakeAddress(const std::string& address, uint16_t port, sockaddr_in& sa) {
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    return inet_pton(AF_INET, address.c_str(), &sa.sin_addr) == 1;
}

uint16_t BoundPort(int fd) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

// Waits until fd is readable or the stop signal is raised; false on stop or poll failure.
bool WaitFor(int fd, const StopSignal* stop, int timeoutMs = -1) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, stop ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (stop && (fds[1].revents & POLLIN))
            return false;
        return true;
    }
}

std::string Explain(const char* what, const std::string& address, uint16_t port) {
    return std::string(what) + " " + address + ":" + std::to_string(port) + ": " +
           std::strerror(errno);
}

}  // namespace

StopSignal::StopSignal() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
    if (m_fd >= 0)
        close(m_fd);
}

void StopSignal::Raise() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_fd, &one, sizeof one);
}

bool StopSignal::Raised() const {
    pollfd fd{m_fd, POLLIN, 0};
    return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

TcpSocket::~TcpSocket() {
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : m_fd(other.m_fd),
      m_stop(other.m_stop),
      m_readTimeoutMs(other.m_readTimeoutMs),
      m_readAhead(std::move(other.m_readAhead)),
      m_readAheadOffset(other.m_readAheadOffset) {
    other.m_fd = -1;
    other.m_readAhead.clear();
    other.m_readAheadOffset = 0;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_stop = other.m_stop;
        m_readTimeoutMs = other.m_readTimeoutMs;
        m_readAhead = std::move(other.m_readAhead);
        m_readAheadOffset = other.m_readAheadOffset;
        other.m_fd = -1;
        other.m_readAhead.clear();
        other.m_readAheadOffset = 0;
    }
    return *this;
}

bool TcpSocket::WaitReadable() {
    return m_fd >= 0 && WaitFor(m_fd, m_stop, m_readTimeoutMs > 0 ? m_readTimeoutMs : -1);
}

size_t TcpSocket::ReadSome(char* buffer, size_t size) {
    if (size == 0)
        return 0;
    if (m_readAheadOffset == m_readAhead.size()) {
        // Large reads go straight to the caller; small ones through the read-ahead.
        const bool direct = size >= kReadAheadBytes;
        if (!direct)
            m_readAhead.resize(kReadAheadBytes);
        for (;;) {
            if (!WaitReadable())
                return 0;
            const ssize_t n = recv(m_fd, direct ? buffer : m_readAhead.data(),
                                   direct ? size : kReadAheadBytes, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                m_readAhead.clear();
                m_readAheadOffset = 0;
                return 0;
            }
            if (direct)
                return static_cast<size_t>(n);
            m_readAhead.resize(static_cast<size_t>(n));
            m_readAheadOffset = 0;
            break;
        }
    }
    const size_t n = std::min(size, m_readAhead.size() - m_readAheadOffset);
    std::memcpy(buffer, m_readAhead.data() + m_readAheadOffset, n);
    m_readAheadOffset += n;
    return n;
}

bool TcpSocket::ReadExact(char* buffer, size_t size) {
    while (size > 0) {
        const size_t n = ReadSome(buffer, size);
        if (n == 0)
            return false;
        buffer += n;
        size -= n;
    }
    return true;
}

bool TcpSocket::Skip(uint64_t size) {
    char scratch[16384];
    while (size > 0) {
        const size_t n =
            ReadSome(scratch, static_cast<size_t>(std::min<uint64_t>(size, sizeof scratch)));
        if (n == 0)
            return false;
        size -= n;
    }
    return true;
}

bool TcpSocket::WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        if (m_fd < 0)
            return false;
        const ssize_t n = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void TcpSocket::ShutdownBoth() {
    if (m_fd >= 0)
        shutdown(m_fd, SHUT_RDWR);
}

void TcpSocket::ShutdownWrite() {
    if (m_fd >= 0)
        shutdown(m_fd, SHUT_WR);
}

std::string TcpSocket::LocalAddress() const {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    char text[INET_ADDRSTRLEN] = {};
    if (m_fd < 0 || getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0 ||
        !inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text)) {
        return {};
    }
    return text;
}

void TcpSocket::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

TcpListener::~TcpListener() {
    Close();
}

bool TcpListener::Listen(const std::string& address, uint16_t port, std::string& error) {
    sockaddr_in sa{};
    if (!MakeAddress(address, port, sa)) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(m_fd, 64) != 0) {
        error = Explain("cannot listen on", address, port);
        Close();
        return false;
    }
    m_port = BoundPort(m_fd);
    return true;
}

TcpSocket TcpListener::Accept(const StopSignal& stop) {
    for (;;) {
        if (m_fd < 0 || !WaitFor(m_fd, &stop))
            return {};
        const int fd = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN)
                continue;
            // Out of descriptors and the like: wait a little rather than spin.
            pollfd none{stop.Fd(), POLLIN, 0};
            poll(&none, 1, 50);
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // A client that stops reading must not hold a sending thread for ever.
        const timeval sendTimeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        return TcpSocket(fd, &stop);
    }
}

void TcpListener::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

UdpSocket::~UdpSocket() {
    Close();
}

bool UdpSocket::Bind(const std::string& address, uint16_t port, std::string& error) {
    sockaddr_in sa{};
    if (!MakeAddress(address, port, sa)) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = Explain("cannot bind UDP", address, port);
        Close();
        return false;
    }
    m_port = BoundPort(m_fd);
    return true;
}

bool UdpSocket::Receive(Datagram& datagram, const StopSignal& stop) {
    char buffer[9000];
    for (;;) {
        if (m_fd < 0 || !WaitFor(m_fd, &stop))
            return false;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const ssize_t n =
            recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &length);
        if (n < 0)
            continue;
        datagram.bytes.assign(buffer, static_cast<size_t>(n));
        datagram.peer.assign(reinterpret_cast<const char*>(&peer), length);
        return true;
    }
}

void UdpSocket::SendTo(std::string_view bytes, const std::string& peer) {
    sendto(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(peer.data()), static_cast<socklen_t>(peer.size()));
}

void UdpSocket::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

TcpSocket ConnectTcp(const std::string& address, uint16_t port, int timeoutMs) {
    sockaddr_in sa{};
    if (!MakeAddress(address, port, sa))
        return {};
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return {};
    TcpSocket socket(fd, nullptr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS)
            return {};
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (poll(&p, 1, timeoutMs) != 1 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return {};
        }
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return socket;
}

}  // namespace sim::server
