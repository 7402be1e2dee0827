#include "RpcClient.h"

#include <random>

#include "RpcCodec.h"

namespace visa::vxi11 {

RpcClient::RpcClient() {
    // Start xids at a random point, so a reconnecting client is not mistaken for its predecessor.
    std::random_device seed;
    m_xid = seed();
    m_tx.reserve(1024);
    m_connection.SetBufferLimit(kMaxRecordBytes + 64 * 1024);
}

net::NetStatus RpcClient::Connect(const std::vector<net::Endpoint>& endpoints,
                                  const net::Deadline& deadline) {
    m_recordStreamBytes = 0;
    return m_connection.Connect(endpoints, deadline);
}

RpcStatus RpcClient::Lost() {
    m_connection.Close();
    m_recordStreamBytes = 0;
    return RpcStatus::ConnectionLost;
}

RpcStatus RpcClient::ReadRecord(const net::Deadline& deadline, std::size_t acceptUnterminatedBytes,
                                const std::uint8_t*& record, std::size_t& size) {
    m_connection.Consume(m_recordStreamBytes);
    m_recordStreamBytes = 0;
    for (;;) {
        const RecordExtent extent = FindRecord(m_connection.Data(), m_connection.Size(),
                                               kMaxRecordBytes, acceptUnterminatedBytes);
        if (extent.scan == RecordScan::TooLong)
            return Lost();
        if (extent.scan == RecordScan::Complete) {
            if (extent.fragments > 1) {
                JoinFragments(m_connection.MutableData(), extent);
                record = m_connection.Data();
            } else {
                record = m_connection.Data() + 4;
            }
            size = extent.payloadBytes;
            m_recordStreamBytes = extent.streamBytes;
            return RpcStatus::Ok;
        }
        switch (m_connection.Receive(deadline)) {
            case net::NetStatus::Ok:
                break;
            case net::NetStatus::Timeout:
                return RpcStatus::Timeout;
            default:
                return Lost();  // closed mid-record, reset, or more than the buffer may hold
        }
    }
}

RpcReply RpcClient::Call(std::uint32_t xid, const net::Deadline& deadline,
                         std::size_t acceptUnterminatedBytes) {
    RpcReply reply;
    if (!m_connection.IsOpen()) {
        reply.status = RpcStatus::ConnectionLost;
        return reply;
    }
    std::size_t sent = 0;
    const net::NetStatus sendStatus = m_connection.Send(m_tx.data(), m_tx.size(), deadline, sent);
    if (sendStatus != net::NetStatus::Ok) {
        // A call that left only in part has torn the record stream.
        reply.status =
            sendStatus == net::NetStatus::Timeout && sent == 0 ? RpcStatus::Timeout : Lost();
        return reply;
    }
    for (;;) {
        const std::uint8_t* record = nullptr;
        std::size_t size = 0;
        reply.status = ReadRecord(deadline, acceptUnterminatedBytes, record, size);
        if (reply.status != RpcStatus::Ok)
            return reply;
        if (!HasXid(size)) {
            reply.status = RpcStatus::Malformed;
            return reply;
        }
        const ReplyHeader header = DecodeReply(record, size);
        const auto age = static_cast<std::int32_t>(header.xid - xid);
        if (age < 0) {  // the late answer to a call that already timed out
            if (deadline.Expired()) {
                reply.status = RpcStatus::Timeout;
                return reply;
            }
            continue;
        }
        if (age > 0) {
            reply.status = Lost();
            return reply;
        }
        switch (header.kind) {
            case ReplyKind::Success:
                reply.results = record + header.resultsOffset;
                reply.size = size - header.resultsOffset;
                return reply;
            case ReplyKind::Malformed:
                reply.status = RpcStatus::Malformed;
                return reply;
            default:
                reply.status = RpcStatus::Rejected;
                return reply;
        }
    }
}

}  // namespace visa::vxi11
