#include "TcpConnection.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace visa::net {
namespace {

constexpr std::uint64_t kArmedInfinite = UINT64_MAX;
// A receive timeout left armed a little longer than the deadline is not worth a system call.
constexpr std::uint64_t kTimeoutSlackMs = 5;

bool SetBlocking(SocketHandle s, bool blocking) {
#ifdef _WIN32
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
#else
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    return fcntl(s, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
#endif
}

int PollMs(const Deadline& deadline) {
    if (deadline.IsInfinite())
        return -1;
    return static_cast<int>(std::min<std::uint64_t>(deadline.RemainingMs(), 1u << 30));
}

// Waits until the socket is ready for `events`, or the deadline passes.
NetStatus WaitFor(SocketHandle s, short events, const Deadline& deadline) {
    for (;;) {
        PollFd fd{};
        fd.fd = s;
        fd.events = events;
        const int ms = PollMs(deadline);
        const int n = PollSockets(&fd, 1, ms);
        if (n > 0)
            return NetStatus::Ok;
        if (n == 0) {
            if (deadline.Expired())
                return NetStatus::Timeout;
            continue;
        }
        if (LastSocketError() != kInterrupted)
            return NetStatus::Failed;
    }
}

NetStatus FromConnectError(int error) {
    if (error == kRefused)
        return NetStatus::Refused;
    return NetStatus::Unreachable;
}

bool IsConnectionGone(int error) {
#ifdef _WIN32
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET ||
           error == WSAESHUTDOWN || error == WSAENOTCONN || error == WSAETIMEDOUT ||
           error == WSAEHOSTUNREACH;
#else
    return error == ECONNRESET || error == EPIPE || error == ECONNABORTED || error == ENOTCONN ||
           error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETRESET;
#endif
}

}  // namespace

bool StartSockets() {
#ifdef _WIN32
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
#else
    return true;
#endif
}

TcpConnection::~TcpConnection() {
    Close();
}

void TcpConnection::Close() noexcept {
    if (m_socket != kNoSocket)
        CloseSocketHandle(m_socket);
    m_socket = kNoSocket;
    m_begin = m_end = 0;
}

NetStatus TcpConnection::Connect(const std::vector<Endpoint>& endpoints, const Deadline& deadline) {
    Close();
    if (!StartSockets())
        return NetStatus::Failed;
    NetStatus result = NetStatus::Unreachable;
    for (const Endpoint& endpoint : endpoints) {
        if (deadline.Expired())
            return NetStatus::Timeout;
#if defined(SOCK_CLOEXEC)
        SocketHandle s =
            ::socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#else
        SocketHandle s = ::socket(endpoint.address.ss_family, SOCK_STREAM, IPPROTO_TCP);
#endif
        if (s == kNoSocket) {
            result = NetStatus::Failed;
            continue;
        }
        // Non-blocking connect, so the deadline bounds it rather than the system's SYN retries.
        NetStatus status = SetBlocking(s, false) ? NetStatus::Ok : NetStatus::Failed;
        if (status == NetStatus::Ok &&
            ::connect(s, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) !=
                0) {
            const int error = LastSocketError();
            if (error == kInProgress || error == kWouldBlock) {
                status = WaitFor(s, POLLOUT, deadline);
                if (status == NetStatus::Ok) {
                    int soError = 0;
                    SockLen length = sizeof(soError);
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
                    if (soError != 0)
                        status = FromConnectError(soError);
                }
            } else {
                status = FromConnectError(error);
            }
        }
#ifndef _WIN32
        // Blocking from here on: waits are bounded by the socket timeouts (see the header).
        if (status == NetStatus::Ok && !SetBlocking(s, true))
            status = NetStatus::Failed;
#endif
        if (status != NetStatus::Ok) {
            CloseSocketHandle(s);
            // A timeout outranks a refusal, which outranks an unreachable address.
            if (status == NetStatus::Timeout || result == NetStatus::Unreachable ||
                result == NetStatus::Failed) {
                result = status;
            }
            continue;
        }
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
        m_socket = s;
        m_receiveTimeoutMs = kArmedInfinite;
        m_sendTimeoutMs = kArmedInfinite;
        if (m_buffer.size() < kInitialBufferBytes)
            m_buffer.resize(std::min(kInitialBufferBytes, m_limit));
        m_begin = m_end = 0;
        return NetStatus::Ok;
    }
    return result;
}

#ifndef _WIN32
bool TcpConnection::ArmTimeout(int option, std::uint64_t& armedMs, const Deadline& deadline,
                               bool exact) {
    std::uint64_t wantMs = kArmedInfinite;
    if (!deadline.IsInfinite()) {
        wantMs = deadline.RemainingMs();
        if (wantMs == 0)
            return false;
        // An earlier, shorter setting only wakes us early: the loop then re-arms exactly.
        if (!exact && armedMs != kArmedInfinite && armedMs <= wantMs + kTimeoutSlackMs)
            return true;
    } else if (armedMs == kArmedInfinite) {
        return true;
    }
    timeval tv{};
    if (wantMs != kArmedInfinite) {
        tv.tv_sec = static_cast<time_t>(wantMs / 1000);
        tv.tv_usec = static_cast<suseconds_t>((wantMs % 1000) * 1000);
    }
    if (setsockopt(m_socket, SOL_SOCKET, option, &tv, sizeof(tv)) == 0)
        armedMs = wantMs;
    return true;
}
#endif

NetStatus TcpConnection::Send(const std::uint8_t* data, std::size_t length,
                              const Deadline& deadline, std::size_t& sent) {
    sent = 0;
    if (m_socket == kNoSocket)
        return NetStatus::Closed;
    [[maybe_unused]] bool exact = false;  // Winsock waits in poll, never on a socket timeout
    bool expired = false;
    while (sent < length) {
        int flags = kSendFlags;
#ifndef _WIN32
        if (!ArmTimeout(SO_SNDTIMEO, m_sendTimeoutMs, deadline, exact)) {
            // No time left (an immediate timeout): still hand over what the kernel takes at once.
            flags |= MSG_DONTWAIT;
            expired = true;
        }
#endif
        const auto n =
            ::send(m_socket, reinterpret_cast<const char*>(data + sent),
                   static_cast<int>(std::min<std::size_t>(length - sent, 1u << 30)), flags);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int error = LastSocketError();
        if (n < 0 && error == kInterrupted)
            continue;
        if (n < 0 && (error == kWouldBlock || error == EAGAIN)) {
            if (expired || deadline.Expired())
                return NetStatus::Timeout;
#ifdef _WIN32
            const NetStatus ready = WaitFor(m_socket, POLLWRNORM, deadline);
            if (ready != NetStatus::Ok)
                return ready;
#endif
            exact = true;
            continue;
        }
        return IsConnectionGone(error) ? NetStatus::Closed : NetStatus::Failed;
    }
    return NetStatus::Ok;
}

bool TcpConnection::MakeRoom() {
    if (m_begin == m_end)
        m_begin = m_end = 0;
    if (m_end < m_buffer.size())
        return true;
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        return true;
    }
    if (m_buffer.size() >= m_limit)
        return false;
    m_buffer.resize(std::min(std::max<std::size_t>(m_buffer.size() * 2, 4096), m_limit));
    return true;
}

NetStatus TcpConnection::ReceiveOnce(const Deadline& deadline, bool wait) {
    if (m_socket == kNoSocket)
        return NetStatus::Closed;
    if (!MakeRoom())
        return NetStatus::Failed;
    [[maybe_unused]] bool exact = false;  // Winsock waits in poll, never on a socket timeout
    bool expiredWait = false;
    for (;;) {
        int flags = 0;
#ifndef _WIN32
        if (!wait) {
            flags = MSG_DONTWAIT;
        } else if (!ArmTimeout(SO_RCVTIMEO, m_receiveTimeoutMs, deadline, exact)) {
            // The deadline has passed (or was zero): still take what has already arrived.
            flags = MSG_DONTWAIT;
            wait = false;
            expiredWait = true;
        }
#endif
        const auto n = ::recv(
            m_socket, reinterpret_cast<char*>(m_buffer.data() + m_end),
            static_cast<int>(std::min<std::size_t>(m_buffer.size() - m_end, 1u << 30)), flags);
        if (n > 0) {
            m_end += static_cast<std::size_t>(n);
            return NetStatus::Ok;
        }
        if (n == 0)
            return NetStatus::Closed;
        const int error = LastSocketError();
        if (error == kInterrupted)
            continue;
        if (error == kWouldBlock || error == EAGAIN) {
            if (expiredWait)
                return NetStatus::Timeout;
            if (!wait)
                return NetStatus::Ok;
            if (deadline.Expired())
                return NetStatus::Timeout;
#ifdef _WIN32
            // Winsock leaves a socket whose blocking receive timed out in an undefined state, so
            // there the socket stays non-blocking and waits happen in poll.
            const NetStatus ready = WaitFor(m_socket, POLLRDNORM, deadline);
            if (ready != NetStatus::Ok)
                return ready;
#endif
            exact = true;
            continue;
        }
        return IsConnectionGone(error) ? NetStatus::Closed : NetStatus::Failed;
    }
}

NetStatus TcpConnection::Receive(const Deadline& deadline) {
    return ReceiveOnce(deadline, true);
}

NetStatus TcpConnection::ReceiveNow() {
    return ReceiveOnce(Deadline::Infinite(), false);
}

void TcpConnection::Consume(std::size_t count) {
    m_begin += std::min(count, Size());
    if (m_begin == m_end)
        m_begin = m_end = 0;
}

void TcpConnection::Erase(std::size_t offset, std::size_t count) {
    if (offset >= Size())
        return;
    count = std::min(count, Size() - offset);
    std::uint8_t* at = m_buffer.data() + m_begin + offset;
    std::memmove(at, at + count, Size() - offset - count);
    m_end -= count;
}

}  // namespace visa::net
