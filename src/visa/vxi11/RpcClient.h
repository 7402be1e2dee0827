// One ONC RPC conversation over one TCP connection: send a call record, wait for the reply with
// the same xid. Replies to older calls (left behind by a client-side timeout) are dropped; a
// reply to a call not yet made means the stream is out of step, and the connection is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "visa/net/Deadline.h"
#include "visa/net/TcpConnection.h"

namespace visa::vxi11 {

enum class RpcStatus {
    Ok,
    Timeout,         // no reply by the deadline; the connection stays usable
    ConnectionLost,  // peer closed, reset, or the stream cannot be trusted any more
    Rejected,        // the server refused the call at the RPC level
    Malformed,       // the reply record does not decode
};

struct RpcReply {
    RpcStatus status = RpcStatus::Ok;
    const std::uint8_t* results = nullptr;  // valid until the next call
    std::size_t size = 0;
};

class RpcClient {
public:
    // Bound on one reply record: a device_read reply carries at most the request plus the
    // surplus some instruments add.
    static constexpr std::size_t kMaxRecordBytes = 4 * 1024 * 1024;

    RpcClient();
    net::NetStatus Connect(const std::vector<net::Endpoint>& endpoints,
                           const net::Deadline& deadline);
    bool IsOpen() const { return m_connection.IsOpen(); }
    void Close() noexcept { m_connection.Close(); }

    // The xid for the next call; encode the call into Buffer() with it, then Call.
    std::uint32_t NextXid() { return ++m_xid; }
    std::vector<std::uint8_t>& Buffer() { return m_tx; }
    // Sends Buffer() as one message and waits for the reply to xid until the deadline.
    RpcReply Call(std::uint32_t xid, const net::Deadline& deadline,
                  std::size_t acceptUnterminatedBytes = 0);

private:
    RpcStatus ReadRecord(const net::Deadline& deadline, std::size_t acceptUnterminatedBytes,
                         const std::uint8_t*& record, std::size_t& size);
    RpcStatus Lost();

    net::TcpConnection m_connection;
    std::vector<std::uint8_t> m_tx;
    std::uint32_t m_xid;
    std::size_t m_recordStreamBytes = 0;  // the record handed out last, consumed on the next call
};

}  // namespace visa::vxi11
