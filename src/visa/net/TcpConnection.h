// A thin blocking TCP client connection with one input buffer that is reused for its whole life.
// Every wait is bounded by the caller's deadline. The fast path is one send per message
// (TCP_NODELAY, so it leaves at once) and one receive per wait; the receive timeout is a socket
// option that is touched only when the deadline calls for it, so no poll precedes a read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Deadline.h"
#include "NetStatus.h"
#include "Resolver.h"
#include "SocketApi.h"

namespace visa::net {

class TcpConnection {
public:
    static constexpr std::size_t kInitialBufferBytes = 64 * 1024;
    static constexpr std::size_t kDefaultBufferLimit = 16 * 1024 * 1024;

    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Tries each endpoint in turn until one accepts, all within the deadline.
    NetStatus Connect(const std::vector<Endpoint>& endpoints, const Deadline& deadline);
    bool IsOpen() const { return m_socket != kNoSocket; }
    // Closes the socket and drops buffered input.
    void Close() noexcept;

    // Hands all bytes to the kernel (one send call unless its buffer is full). `sent` counts
    // what went out, so a caller can tell an intact stream (0) from a torn message.
    NetStatus Send(const std::uint8_t* data, std::size_t length, const Deadline& deadline,
                   std::size_t& sent);

    // Waits for input and appends what one receive returns to the buffer.
    NetStatus Receive(const Deadline& deadline);
    // Appends input that has already arrived, without waiting (Ok also when there was none).
    NetStatus ReceiveNow();

    // Unconsumed input.
    const std::uint8_t* Data() const { return m_buffer.data() + m_begin; }
    std::uint8_t* MutableData() { return m_buffer.data() + m_begin; }
    std::size_t Size() const { return m_end - m_begin; }
    void Consume(std::size_t count);
    // Drops `count` bytes at `offset` of the unconsumed input, joining what follows.
    void Erase(std::size_t offset, std::size_t count);

    // The buffer grows with the input actually received, never with what a length field
    // claims, and never beyond this bound (Receive fails instead).
    void SetBufferLimit(std::size_t bytes) { m_limit = bytes; }

private:
    bool MakeRoom();
    NetStatus ReceiveOnce(const Deadline& deadline, bool wait);
#ifndef _WIN32
    bool ArmTimeout(int option, std::uint64_t& armedMs, const Deadline& deadline, bool exact);
#endif

    SocketHandle m_socket = kNoSocket;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_limit = kDefaultBufferLimit;
    std::uint64_t m_receiveTimeoutMs = 0;  // as last set on the socket; 0 = none set yet
    std::uint64_t m_sendTimeoutMs = 0;
};

}  // namespace visa::net
