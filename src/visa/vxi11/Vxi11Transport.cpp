#include "Vxi11Transport.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "Vxi11Codec.h"

namespace visa::vxi11 {
namespace {

// A per-process client id: servers must not care, but a random one tells our links apart in
// a server's log.
std::int32_t ClientId() {
    static const std::int32_t id = [] {
        std::random_device seed;
        return static_cast<std::int32_t>(seed() & 0x7FFFFFFF);
    }();
    return id;
}

net::Deadline OperationDeadline(const IoSettings& io) {
    return io.timeoutMs == VI_TMO_INFINITE ? net::Deadline::Infinite()
                                           : net::Deadline::AfterMs(io.timeoutMs);
}

// The time left, as the io_timeout of the next call.
std::uint32_t IoTimeoutMs(const net::Deadline& operation) {
    if (operation.IsInfinite())
        return VI_TMO_INFINITE;
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
        operation.RemainingMs(), Vxi11Transport::kMinIoTimeoutMs, VI_TMO_INFINITE - 1));
}

ViStatus OpenStatus(std::int32_t error) {
    switch (error) {
        case kErrorOutOfResources:
            return VI_ERROR_RSRC_BUSY;
        case kErrorLocked:
            return VI_ERROR_RSRC_LOCKED;
        case kErrorIoTimeout:
            return VI_ERROR_TMO;
        default:
            return VI_ERROR_RSRC_NFOUND;
    }
}

}  // namespace

struct Vxi11Transport::ReadTarget {
    ViPBuf buffer;
    ViUInt32 count;
    ViUInt32& received;
    const IoSettings& io;
};

Vxi11Transport::~Vxi11Transport() {
    Close();
}

ViStatus Vxi11Transport::Open(const std::vector<net::Endpoint>& core, const std::string& device,
                              const net::Deadline& deadline) {
    if (device.size() > kMaxDeviceNameBytes)
        return VI_ERROR_RSRC_NFOUND;
    if (m_rpc.Connect(core, deadline) != net::NetStatus::Ok)
        return VI_ERROR_RSRC_NFOUND;
    const std::uint32_t xid = m_rpc.NextXid();
    // No lock at link creation: instruments exist that misbehave with one.
    EncodeCreateLink(m_rpc.Buffer(), xid, ClientId(), false, 0, device);
    const RpcReply reply = m_rpc.Call(xid, deadline);
    CreateLinkResult link;
    ViStatus status = VI_SUCCESS;
    if (reply.status != RpcStatus::Ok || !DecodeCreateLink(reply.results, reply.size, link)) {
        status = VI_ERROR_RSRC_NFOUND;
    } else if (link.error != kErrorNone) {
        status = OpenStatus(link.error);
    }
    if (status != VI_SUCCESS) {
        m_rpc.Close();
        return status;
    }
    m_lid = link.lid;
    m_linked = true;
    // maxRecvSize bounds our writes only. Servers must take at least 1024; a zero is nonsense,
    // and a huge value (4 GiB has been seen) is capped.
    m_chunkBytes = link.maxRecvSize == 0 ? 1024 : std::min(link.maxRecvSize, kMaxWriteChunk);
    return VI_SUCCESS;
}

RpcReply Vxi11Transport::CallWithin(std::uint32_t xid, const net::Deadline& operation,
                                    std::uint32_t ioTimeoutMs) {
    if (operation.IsInfinite())
        return m_rpc.Call(xid, operation);
    return m_rpc.Call(xid, net::Deadline::AfterMs(std::uint64_t(ioTimeoutMs) + kSocketMarginMs));
}

ViStatus Vxi11Transport::FromRpc(RpcStatus status) {
    switch (status) {
        case RpcStatus::Ok:
            return VI_SUCCESS;
        case RpcStatus::Timeout:
            return VI_ERROR_TMO;
        case RpcStatus::ConnectionLost:
            m_lost = true;
            return VI_ERROR_CONN_LOST;
        default:
            return VI_ERROR_IO;
    }
}

ViStatus Vxi11Transport::FromDeviceError(std::int32_t error) {
    switch (error) {
        case kErrorNone:
            return VI_SUCCESS;
        case kErrorIoTimeout:
            return VI_ERROR_TMO;
        case kErrorNotAccessible:
        case kErrorInvalidLink:
            // The link is gone on the server; nothing on this session can work again.
            m_lost = true;
            m_rpc.Close();
            return VI_ERROR_CONN_LOST;
        case kErrorLocked:
            return VI_ERROR_RSRC_LOCKED;
        case kErrorAbort:
            return VI_ERROR_ABORT;
        case kErrorNotSupported:
            return VI_ERROR_NSUP_OPER;
        default:
            return VI_ERROR_IO;
    }
}

ViStatus Vxi11Transport::Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                               const IoSettings& io) {
    written = 0;
    if (m_lost || !m_rpc.IsOpen())
        return VI_ERROR_CONN_LOST;
    // A new message abandons what is left of the previous response, as the instrument does.
    DropLeftover();
    const net::Deadline operation = OperationDeadline(io);
    ViUInt32 offset = 0;
    int zeroAccepts = 0;
    do {
        if (offset > 0 && operation.Expired())
            return VI_ERROR_TMO;
        const ViUInt32 length = std::min<ViUInt32>(count - offset, m_chunkBytes);
        const bool last = offset + length == count;
        const std::uint32_t ioTimeoutMs = IoTimeoutMs(operation);
        const std::uint32_t xid = m_rpc.NextXid();
        EncodeDeviceWrite(m_rpc.Buffer(), xid, m_lid, ioTimeoutMs, 0, last ? kFlagEnd : 0,
                          data + offset, length);
        const RpcReply reply = CallWithin(xid, operation, ioTimeoutMs);
        if (reply.status != RpcStatus::Ok)
            return FromRpc(reply.status);
        DeviceWriteResult result;
        if (!DecodeDeviceWrite(reply.results, reply.size, result))
            return VI_ERROR_IO;
        // Bytes taken before an error (a timeout, say) still count.
        if (result.size > length)
            return VI_ERROR_IO;  // accepted more than it was given
        offset += result.size;
        written = offset;
        if (result.error != kErrorNone)
            return FromDeviceError(result.error);
        // A partial acceptance continues from where the server stopped; twice nothing is a stall.
        if (result.size == 0 && length > 0) {
            if (++zeroAccepts == 2)
                return VI_ERROR_IO;
        } else {
            zeroAccepts = 0;
        }
    } while (offset < count);
    return VI_SUCCESS;
}

Vxi11Transport::Delivery Vxi11Transport::Deliver(ReadTarget& target, const std::uint8_t* data,
                                                 std::size_t length, bool end) {
    Delivery delivery;
    const std::size_t room = target.count - target.received;
    std::size_t take = std::min(length, room);
    bool termChar = false;
    if (target.io.termCharEnabled && take > 0) {
        if (const void* at = std::memchr(data, target.io.termChar, take)) {
            take = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - data) + 1;
            termChar = true;
        }
    }
    if (take > 0)
        std::memcpy(target.buffer + target.received, data, take);
    target.received += static_cast<ViUInt32>(take);
    delivery.taken = take;
    // END is tested before the count: a piece that fills the buffer exactly and carries END
    // completes the message.
    if (take == length && end) {
        delivery.status = VI_SUCCESS;
    } else if (termChar) {
        delivery.status = VI_SUCCESS_TERM_CHAR;
    } else if (target.received == target.count) {
        delivery.status = VI_SUCCESS_MAX_CNT;
    } else {
        delivery.done = false;
    }
    return delivery;
}

ViStatus Vxi11Transport::Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                              const IoSettings& io) {
    received = 0;
    if (m_lost || !m_rpc.IsOpen())
        return VI_ERROR_CONN_LOST;
    ReadTarget target{buffer, count, received, io};
    if (count == 0)
        return VI_SUCCESS_MAX_CNT;
    if (m_leftoverAt < m_leftover.size()) {
        const Delivery delivery = Deliver(target, m_leftover.data() + m_leftoverAt,
                                          m_leftover.size() - m_leftoverAt, m_leftoverEnds);
        m_leftoverAt += delivery.taken;
        if (m_leftoverAt == m_leftover.size())
            DropLeftover();
        if (delivery.done)
            return delivery.status;
    }

    const net::Deadline operation = OperationDeadline(io);
    bool first = true;
    for (;;) {
        if (!first && operation.Expired())
            return VI_ERROR_TMO;
        first = false;
        const std::uint32_t requestSize =
            std::min<std::uint32_t>(count - received, kMaxRequestSize);
        const std::uint32_t ioTimeoutMs = IoTimeoutMs(operation);
        const std::uint32_t xid = m_rpc.NextXid();
        EncodeDeviceRead(m_rpc.Buffer(), xid, m_lid, requestSize, ioTimeoutMs, 0,
                         io.termCharEnabled ? kFlagTermCharSet : 0,
                         io.termCharEnabled ? io.termChar : 0);
        const RpcReply reply = CallWithin(xid, operation, ioTimeoutMs);
        if (reply.status != RpcStatus::Ok)
            return FromRpc(reply.status);
        DeviceReadResult result;
        if (!DecodeDeviceRead(reply.results, reply.size, result))
            return VI_ERROR_IO;
        const bool end = result.error == kErrorNone && (result.reason & kReasonEnd) != 0;
        // Bytes that came with an error (a timeout part-way) are still the caller's.
        const Delivery delivery = Deliver(target, result.data, result.length, end);
        if (delivery.taken < result.length) {
            // A server may send more than was asked for; the rest waits for the next read.
            m_leftover.assign(result.data + delivery.taken, result.data + result.length);
            m_leftoverAt = 0;
            m_leftoverEnds = end;
        }
        if (result.error != kErrorNone)
            return FromDeviceError(result.error);
        if (delivery.done)
            return delivery.status;
    }
}

ViStatus Vxi11Transport::Clear(const IoSettings& io) {
    if (m_lost || !m_rpc.IsOpen())
        return VI_ERROR_CONN_LOST;
    DropLeftover();
    const net::Deadline operation = OperationDeadline(io);
    const std::uint32_t ioTimeoutMs = IoTimeoutMs(operation);
    const std::uint32_t xid = m_rpc.NextXid();
    EncodeGeneric(m_rpc.Buffer(), xid, kDeviceClear, m_lid, 0, 0, ioTimeoutMs);
    const RpcReply reply = CallWithin(xid, operation, ioTimeoutMs);
    if (reply.status != RpcStatus::Ok)
        return FromRpc(reply.status);
    std::int32_t error = 0;
    if (!DecodeDeviceError(reply.results, reply.size, error))
        return VI_ERROR_IO;
    return FromDeviceError(error);
}

void Vxi11Transport::DropLeftover() {
    m_leftover.clear();  // keeps the capacity
    m_leftoverAt = 0;
    m_leftoverEnds = false;
}

ViStatus Vxi11Transport::Close() noexcept {
    if (m_linked && !m_lost && m_rpc.IsOpen()) {
        // Always destroy the link: instruments exist that leak links when only the socket closes.
        try {
            const std::uint32_t xid = m_rpc.NextXid();
            EncodeDestroyLink(m_rpc.Buffer(), xid, m_lid);
            m_rpc.Call(xid, net::Deadline::AfterMs(kCloseBudgetMs));
        } catch (...) {  // best effort: an allocation failure here changes nothing for the caller
        }
    }
    m_linked = false;
    m_rpc.Close();
    return VI_SUCCESS;
}

}  // namespace visa::vxi11
