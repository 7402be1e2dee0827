#include "PingPong.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

std::uint32_t Get32(const char* p) {
    std::uint32_t value = 0;
    std::memcpy(&value, p, 4);
    return ntohl(value);
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The child: one connection, each request answered as soon as it is complete, as a server
// that reads whatever one receive returns.
[[noreturn]] void Answer(int listener) {
    const int fd = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    if (fd < 0)
        ::_exit(1);
    NoDelay(fd);
    std::vector<char> buffer(1 << 20);
    std::vector<char> response(1 << 20, 'r');
    size_t have = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data() + have, buffer.size() - have, 0);
        if (n <= 0)
            ::_exit(0);
        have += static_cast<size_t>(n);
        while (have >= 8) {
            const std::uint32_t requestBytes = Get32(buffer.data());
            const std::uint32_t responseBytes =
                std::min<std::uint32_t>(Get32(buffer.data() + 4), 1 << 20);
            if (requestBytes < 8 || requestBytes > buffer.size())
                ::_exit(1);
            if (have < requestBytes)
                break;
            if (!SendAll(fd, response.data(), responseBytes))
                ::_exit(0);
            std::memmove(buffer.data(), buffer.data() + requestBytes, have - requestBytes);
            have -= requestBytes;
        }
    }
}

}  // namespace

PingPong::~PingPong() {
    Stop();
}

bool PingPong::Start() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        return false;
    }
    m_child = ::fork();
    if (m_child == 0)
        Answer(listener);
    ::close(listener);
    if (m_child < 0)
        return false;
    m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket < 0 ||
        ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Stop();
        return false;
    }
    NoDelay(m_socket);
    return true;
}

bool PingPong::Run(const std::vector<Exchange>& exchanges) {
    if (m_socket < 0)
        return false;
    for (const Exchange& e : exchanges) {
        const std::uint32_t requestBytes = std::max<std::uint32_t>(e.requestBytes, 8);
        m_request.assign(requestBytes, 'q');
        const std::uint32_t sizes[2] = {htonl(requestBytes), htonl(e.responseBytes)};
        std::memcpy(m_request.data(), sizes, sizeof sizes);
        if (!SendAll(m_socket, m_request.data(), m_request.size()))
            return false;
        m_response.resize(std::max<size_t>(e.responseBytes, 1));
        size_t got = 0;
        while (got < e.responseBytes) {
            const ssize_t n = ::recv(m_socket, m_response.data() + got, e.responseBytes - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
    }
    return true;
}

void PingPong::Stop() {
    if (m_socket >= 0)
        ::close(m_socket);  // the child ends at the end of its stream
    m_socket = -1;
    if (m_child > 0) {
        int status = 0;
        if (::waitpid(m_child, &status, WNOHANG) == 0) {
            ::usleep(100000);
            if (::waitpid(m_child, &status, WNOHANG) == 0) {
                ::kill(m_child, SIGKILL);
                ::waitpid(m_child, &status, 0);
            }
        }
    }
    m_child = -1;
}
