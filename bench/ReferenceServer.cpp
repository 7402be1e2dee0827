#include "ReferenceServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace {

int Listen(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

void Put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}
std::uint64_t Get(std::string_view in, size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
}

std::string HiSlip(std::uint8_t type, std::uint32_t parameter, std::string_view payload = {}) {
    std::string out = "HS";
    out.push_back(static_cast<char>(type));
    out.push_back('\0');
    Put(out, parameter, 4);
    Put(out, payload.size(), 8);
    return out.append(payload);
}

struct Connection {
    int fd = -1;
    bool vxi11 = false;
    std::string input;
    bool markerAsked = false;  // the last message asked for a marker level
};

// A marker level is a number; a measurement takes no other reply for a reading.
constexpr std::string_view kMarkerReply = "-63.25\n";
bool AsksForMarker(std::string_view message) {
    return message.find("MARK1:Y?") != std::string_view::npos;
}

// Answers every complete message in c.input; the rest waits for more bytes.
std::string Answer(Connection& c, const std::string& queryReply) {
    std::string out;
    for (;;) {
        if (c.vxi11) {
            // One fragment per record, as clients send calls.
            if (c.input.size() < 4)
                break;
            const size_t length = Get(c.input, 0, 4) & 0x7FFFFFFF;
            if (c.input.size() < 4 + length)
                break;
            const std::string_view call = std::string_view(c.input).substr(4, length);
            if (call.size() >= 40) {
                const std::uint64_t procedure = Get(call, 20, 4);
                std::string body;
                Put(body, Get(call, 0, 4), 4);
                Put(body, 1, 4);  // reply, accepted, AUTH_NONE verifier, success
                Put(body, 0, 16);
                Put(body, 0, 4);  // error
                if (procedure == 10) {
                    Put(body, 0, 4);  // lid
                    Put(body, 0, 4);  // abort port
                    Put(body, 65536, 4);
                } else if (procedure == 11 && call.size() >= 60) {
                    Put(body, Get(call, 56, 4), 4);  // all of it taken
                    c.markerAsked = AsksForMarker(call.substr(60));
                } else if (procedure == 12) {
                    const std::string_view reply = c.markerAsked ? kMarkerReply : queryReply;
                    Put(body, 4, 4);  // END
                    Put(body, reply.size(), 4);
                    body += reply;
                    body.append((4 - reply.size() % 4) % 4, '\0');
                }
                Put(out, 0x80000000u | body.size(), 4);
                out += body;
            }
            c.input.erase(0, 4 + length);
        } else {
            if (c.input.size() < 16)
                break;
            const size_t length = Get(c.input, 8, 8);
            if (c.input.size() < 16 + length)
                break;
            const auto type = static_cast<std::uint8_t>(c.input[2]);
            const std::uint32_t parameter = static_cast<std::uint32_t>(Get(c.input, 4, 4));
            const std::string_view payload = std::string_view(c.input).substr(16, length);
            if (type == 0)
                out += HiSlip(1, (0x0100u << 16) | 1);  // InitializeResponse
            if (type == 17)
                out += HiSlip(18, 0);  // AsyncInitializeResponse
            if (type == 15)
                out += HiSlip(16, 0, std::string("\0\0\0\0\0\x10\0\0", 8));  // 1 MiB
            if (type == 7 && payload.find('?') != std::string_view::npos)
                out += HiSlip(7, parameter, AsksForMarker(payload) ? kMarkerReply : queryReply);
            c.input.erase(0, 16 + length);
        }
    }
    return out;
}

[[noreturn]] void Serve(int vxi11, int hislip, const std::string& reply) {
    std::vector<Connection> connections;
    std::vector<char> buffer(65536);
    for (;;) {
        std::vector<pollfd> waits = {{vxi11, POLLIN, 0}, {hislip, POLLIN, 0}};
        for (const Connection& c : connections)
            waits.push_back({c.fd, POLLIN, 0});
        if (::poll(waits.data(), waits.size(), -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(waits[i].revents & POLLIN))
                continue;
            const int fd = ::accept(waits[i].fd, nullptr, nullptr);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            connections.push_back({fd, i == 0, {}});
        }
        for (size_t i = 2; i < waits.size(); ++i) {
            if (!waits[i].revents)
                continue;
            Connection& c = connections[i - 2];
            const ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                ::close(c.fd);
                c.fd = -1;
                continue;
            }
            c.input.append(buffer.data(), static_cast<size_t>(n));
            const std::string out = Answer(c, reply);
            if (!out.empty())
                ::send(c.fd, out.data(), out.size(), MSG_NOSIGNAL);
        }
        std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
    }
}

}  // namespace

ReferenceServer::~ReferenceServer() {
    Stop();
}

bool ReferenceServer::Start(const std::string& reply) {
    const int vxi11 = Listen(m_vxi11Port);
    const int hislip = Listen(m_hislipPort);
    if (vxi11 < 0 || hislip < 0)
        return false;
    m_child = ::fork();
    if (m_child == 0)
        Serve(vxi11, hislip, reply);
    ::close(vxi11);
    ::close(hislip);
    return m_child > 0;
}

void ReferenceServer::Stop() {
    if (m_child <= 0)
        return;
    ::kill(m_child, SIGKILL);  // it holds nothing that needs tidying
    ::waitpid(m_child, nullptr, 0);
    m_child = -1;
}
