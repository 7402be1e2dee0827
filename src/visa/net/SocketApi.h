// The few differences between BSD sockets and Winsock, kept in one place.
#pragma once

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace visa::net {

#ifdef _WIN32
using SocketHandle = SOCKET;
using SockLen = int;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;
inline int LastSocketError() {
    return WSAGetLastError();
}
inline void CloseSocketHandle(SocketHandle s) {
    closesocket(s);
}
inline int PollSockets(WSAPOLLFD* fds, unsigned long n, int timeoutMs) {
    return WSAPoll(fds, n, timeoutMs);
}
using PollFd = WSAPOLLFD;
constexpr int kWouldBlock = WSAEWOULDBLOCK;
constexpr int kInProgress = WSAEWOULDBLOCK;
constexpr int kInterrupted = WSAEINTR;
constexpr int kRefused = WSAECONNREFUSED;
#else
using SocketHandle = int;
using SockLen = socklen_t;
constexpr SocketHandle kNoSocket = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is a status, not SIGPIPE
inline int LastSocketError() {
    return errno;
}
inline void CloseSocketHandle(SocketHandle s) {
    ::close(s);
}
inline int PollSockets(pollfd* fds, nfds_t n, int timeoutMs) {
    return ::poll(fds, n, timeoutMs);
}
using PollFd = pollfd;
constexpr int kWouldBlock = EWOULDBLOCK;
constexpr int kInProgress = EINPROGRESS;
constexpr int kInterrupted = EINTR;
constexpr int kRefused = ECONNREFUSED;
#endif

// Starts the socket library once per process (Winsock needs it; a no-op elsewhere).
bool StartSockets();

}  // namespace visa::net
