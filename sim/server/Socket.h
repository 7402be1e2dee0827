// A thin POSIX socket layer for the servers: blocking calls that also wake up when the server
// stops, so that every connection thread can be joined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sim::server {

// Signalled once when the server stops; every wait polls it alongside its socket.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    void Raise();
    bool Raised() const;
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

class TcpSocket {
public:
    TcpSocket() = default;
    TcpSocket(int fd, const StopSignal* stop) : m_fd(fd), m_stop(stop) {}
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;

    bool Valid() const { return m_fd >= 0; }
    // Reads what is available (at least one byte); 0 on end of stream, error or stop.
    size_t ReadSome(char* buffer, size_t size);
    // Reads exactly size bytes; false on end of stream, error or stop.
    bool ReadExact(char* buffer, size_t size);
    // Reads and discards size bytes.
    bool Skip(uint64_t size);
    bool WriteAll(std::string_view bytes);
    // Makes blocked reads of this socket return (from another thread).
    void ShutdownBoth();
    // Half close: the peer reads the end of the stream after what was written.
    void ShutdownWrite();
    void Close();
    // Bounds every later wait for data (clients in tests); 0 waits without limit.
    void SetReadTimeoutMs(int ms) { m_readTimeoutMs = ms; }
    // The local IPv4 address the peer reached, dotted.
    std::string LocalAddress() const;

private:
    // Small reads take up to this much at once, so that a message header and the payload sent
    // with it cost one wait and one receive rather than two of each.
    static constexpr size_t kReadAheadBytes = 4096;

    bool WaitReadable();
    int m_fd = -1;
    const StopSignal* m_stop = nullptr;
    int m_readTimeoutMs = 0;
    std::string m_readAhead;  // received, not yet read from m_readAheadOffset on
    size_t m_readAheadOffset = 0;
};

class TcpListener {
public:
    ~TcpListener();
    // Binds address:port (port 0: an ephemeral one). False with an explanation on failure.
    bool Listen(const std::string& address, uint16_t port, std::string& error);
    uint16_t Port() const { return m_port; }
    // Waits for a connection; an invalid socket once the stop signal is raised.
    TcpSocket Accept(const StopSignal& stop);
    void Close();

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

class UdpSocket {
public:
    ~UdpSocket();
    bool Bind(const std::string& address, uint16_t port, std::string& error);
    uint16_t Port() const { return m_port; }
    // One datagram; false once the stop signal is raised.
    struct Datagram {
        std::string bytes;
        std::string peer;  // opaque sockaddr bytes for the answer
    };
    bool Receive(Datagram& datagram, const StopSignal& stop);
    void SendTo(std::string_view bytes, const std::string& peer);
    void Close();

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// A TCP connection to address:port with a bounded connect time, for clients in tests and for
// registering with a system rpcbind. Invalid on failure.
TcpSocket ConnectTcp(const std::string& address, uint16_t port, int timeoutMs);

}  // namespace sim::server
