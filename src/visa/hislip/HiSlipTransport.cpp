#include "HiSlipTransport.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace visa::hislip {
namespace {

net::Deadline OperationDeadline(const IoSettings& io) {
    return io.timeoutMs == VI_TMO_INFINITE ? net::Deadline::Infinite()
                                           : net::Deadline::AfterMs(io.timeoutMs);
}

// How long a best-effort FatalError may take on its way out before we close.
constexpr std::uint64_t kFarewellMs = 100;

}  // namespace

HiSlipTransport::HiSlipTransport() {
    m_tx.reserve(4096);
    m_payload.reserve(256);
    m_sync.SetBufferLimit(kMaxMessageBytes + kHeaderBytes);
    m_async.SetBufferLimit(kMaxControlPayload + kHeaderBytes);
}

HiSlipTransport::~HiSlipTransport() {
    Close();
}

HiSlipTransport::Wait HiSlipTransport::ReadHeader(net::TcpConnection& channel,
                                                  const net::Deadline& deadline, Header& header) {
    for (;;) {
        switch (DecodeHeader(channel.Data(), channel.Size(), header)) {
            case HeaderCheck::Ok:
                channel.Consume(kHeaderBytes);
                return Wait::Ok;
            case HeaderCheck::BadPrologue:
                return Wait::BadHeader;
            case HeaderCheck::NeedMore:
                break;
        }
        if (const Wait wait = ReceiveMore(channel, deadline); wait != Wait::Ok)
            return wait;
    }
}

// More bytes on a channel, as the header and payload readers wait for them.
HiSlipTransport::Wait HiSlipTransport::ReceiveMore(net::TcpConnection& channel,
                                                   const net::Deadline& deadline) {
    switch (channel.Receive(deadline)) {
        case net::NetStatus::Ok:
            return Wait::Ok;
        case net::NetStatus::Timeout:
            return Wait::Timeout;
        default:
            return Wait::Lost;
    }
}

HiSlipTransport::Wait HiSlipTransport::SkipPayload(net::TcpConnection& channel,
                                                   const net::Deadline& deadline,
                                                   std::uint64_t length) {
    for (;;) {
        const std::uint64_t take = std::min<std::uint64_t>(length, channel.Size());
        channel.Consume(static_cast<std::size_t>(take));
        length -= take;
        if (length == 0)
            return Wait::Ok;
        if (const Wait wait = ReceiveMore(channel, deadline); wait != Wait::Ok)
            return wait;
    }
}

HiSlipTransport::Wait HiSlipTransport::ReadPayload(net::TcpConnection& channel,
                                                   const net::Deadline& deadline,
                                                   std::uint64_t length) {
    m_payload.clear();
    while (m_payload.size() < length) {
        const std::size_t take = static_cast<std::size_t>(
            std::min<std::uint64_t>(length - m_payload.size(), channel.Size()));
        m_payload.insert(m_payload.end(), channel.Data(), channel.Data() + take);
        channel.Consume(take);
        if (m_payload.size() == length)
            break;
        if (const Wait wait = ReceiveMore(channel, deadline); wait != Wait::Ok)
            return wait;
    }
    return Wait::Ok;
}

HiSlipTransport::Wait HiSlipTransport::ReadControl(net::TcpConnection& channel,
                                                   const net::Deadline& deadline, Header& header,
                                                   std::uint64_t limit) {
    const Wait wait = ReadHeader(channel, deadline, header);
    if (wait != Wait::Ok)
        return wait;
    if (header.payloadLength > limit)
        return Wait::BadHeader;
    return ReadPayload(channel, deadline, header.payloadLength);
}

bool HiSlipTransport::SendMessage(net::TcpConnection& channel, const net::Deadline& deadline,
                                  ViStatus& status) {
    std::size_t sent = 0;
    const net::NetStatus result = channel.Send(m_tx.data(), m_tx.size(), deadline, sent);
    if (result == net::NetStatus::Ok)
        return true;
    // Nothing sent: the stream is intact and the session usable. A torn message is not recoverable.
    status = result == net::NetStatus::Timeout && sent == 0 ? VI_ERROR_TMO : Lost();
    return false;
}

ViStatus HiSlipTransport::Lost(Wait cause) {
    if (cause == Wait::BadHeader && !m_lost) {
        // The peer is out of step: tell it why on both channels before closing, as the protocol
        // asks.
        const net::Deadline farewell = net::Deadline::AfterMs(kFarewellMs);
        static const char kText[] = "poorly formed message header";
        EncodeMessage(m_tx, kFatalError, kFatalBadHeader, 0,
                      reinterpret_cast<const std::uint8_t*>(kText), sizeof(kText) - 1);
        std::size_t sent = 0;
        m_sync.Send(m_tx.data(), m_tx.size(), farewell, sent);
        m_async.Send(m_tx.data(), m_tx.size(), farewell, sent);
    }
    m_lost = true;
    m_inMessage = false;
    m_sync.Close();
    m_async.Close();
    return VI_ERROR_CONN_LOST;
}

ViStatus HiSlipTransport::OpenFailed(ViStatus status) {
    m_sync.Close();
    m_async.Close();
    return status;
}

ViStatus HiSlipTransport::Open(const std::vector<net::Endpoint>& server,
                               std::string_view subAddress, const net::Deadline& deadline) {
    if (subAddress.size() > kMaxSubAddressBytes)
        return VI_ERROR_RSRC_NFOUND;
    if (m_sync.Connect(server, deadline) != net::NetStatus::Ok)
        return VI_ERROR_RSRC_NFOUND;
    std::size_t sent = 0;
    EncodeInitialize(m_tx, kProtocolVersion, kVendorId, subAddress);
    if (m_sync.Send(m_tx.data(), m_tx.size(), deadline, sent) != net::NetStatus::Ok) {
        return OpenFailed(VI_ERROR_RSRC_NFOUND);
    }
    // A server that does not know the sub-address may never answer: the deadline ends the wait.
    Header header;
    if (ReadControl(m_sync, deadline, header, kMaxControlPayload) != Wait::Ok) {
        return OpenFailed(VI_ERROR_RSRC_NFOUND);
    }
    if (header.type == kFatalError) {
        return OpenFailed(header.control == kFatalMaxClients ? VI_ERROR_RSRC_BUSY
                                                             : VI_ERROR_RSRC_NFOUND);
    }
    if (header.type != kInitializeResponse)
        return OpenFailed(VI_ERROR_RSRC_NFOUND);
    const InitializeResult session = DecodeInitializeResponse(header);
    m_overlapped = session.overlapped;

    if (m_async.Connect(server, deadline) != net::NetStatus::Ok)
        return OpenFailed(VI_ERROR_RSRC_NFOUND);
    EncodeAsyncInitialize(m_tx, session.sessionId);
    if (m_async.Send(m_tx.data(), m_tx.size(), deadline, sent) != net::NetStatus::Ok ||
        ReadControl(m_async, deadline, header, kMaxControlPayload) != Wait::Ok) {
        return OpenFailed(VI_ERROR_RSRC_NFOUND);
    }
    if (header.type == kFatalError) {
        return OpenFailed(header.control == kFatalMaxClients ? VI_ERROR_RSRC_BUSY
                                                             : VI_ERROR_RSRC_NFOUND);
    }
    if (header.type != kAsyncInitializeResponse)
        return OpenFailed(VI_ERROR_RSRC_NFOUND);

    EncodeAsyncMaximumMessageSize(m_tx, kMaxMessageBytes);
    if (m_async.Send(m_tx.data(), m_tx.size(), deadline, sent) != net::NetStatus::Ok ||
        ReadControl(m_async, deadline, header, kMaxControlPayload) != Wait::Ok ||
        header.type != kAsyncMaximumMessageSizeResponse ||
        !DecodeMaximumMessageSize(m_payload.data(), m_payload.size(), m_serverMaxBytes) ||
        m_serverMaxBytes <= kHeaderBytes) {  // no room for a single data byte
        return OpenFailed(VI_ERROR_RSRC_NFOUND);
    }
    m_open = true;
    return VI_SUCCESS;
}

ViStatus HiSlipTransport::Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                                const IoSettings& io) {
    written = 0;
    if (m_lost || !m_open)
        return VI_ERROR_CONN_LOST;
    // A new message abandons the unread rest of the previous response.
    if (m_inMessage)
        m_messageDiscard = true;
    const net::Deadline operation = OperationDeadline(io);
    // The server's limit counts the header; our own buffer bounds the rest.
    const std::uint64_t maxPayload =
        std::min<std::uint64_t>(m_serverMaxBytes - kHeaderBytes, kMaxMessageBytes);
    ViUInt32 offset = 0;
    do {
        const ViUInt32 length =
            static_cast<ViUInt32>(std::min<std::uint64_t>(count - offset, maxPayload));
        const bool last = offset + length == count;
        EncodeMessage(m_tx, last ? kDataEnd : kData, m_rmtDelivered ? kRmtDelivered : 0,
                      m_messageId, data + offset, length);
        ViStatus status = VI_SUCCESS;
        if (!SendMessage(m_sync, operation, status))
            return status;
        m_lastSentId = m_messageId;
        m_messageId += 2;  // wraps modulo 2^32
        m_rmtDelivered = false;
        offset += length;
        written = offset;
    } while (offset < count);
    return VI_SUCCESS;
}

ViStatus HiSlipTransport::Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                               const IoSettings& io) {
    received = 0;
    if (m_lost || !m_open)
        return VI_ERROR_CONN_LOST;
    if (count == 0)
        return VI_SUCCESS_MAX_CNT;
    const net::Deadline operation = OperationDeadline(io);
    bool first = true;
    for (;;) {
        if (!m_inMessage) {
            // A server that floods stale messages must not keep the read past its deadline.
            if (!first && operation.Expired())
                return VI_ERROR_TMO;
            first = false;
            if (const auto ended = StartMessage(operation))
                return *ended;
            if (!m_inMessage)
                continue;  // a message that only had to be skipped
        }
        if (const auto ended = TakeMessage(buffer, count, received, io, operation))
            return *ended;
    }
}

std::optional<ViStatus> HiSlipTransport::StartMessage(const net::Deadline& operation) {
    Header header;
    const Wait wait = ReadHeader(m_sync, operation, header);
    if (wait == Wait::Timeout)
        return VI_ERROR_TMO;
    if (wait != Wait::Ok)
        return Lost(wait);
    switch (header.type) {
        case kData:
        case kDataEnd:
            if (header.payloadLength > kMaxMessageBytes)
                return Lost(Wait::BadHeader);
            m_inMessage = true;
            m_messageEnds = header.type == kDataEnd;
            m_messageLeft = header.payloadLength;
            // In overlapped mode the server numbers its own messages: nothing to match.
            m_messageDiscard = !(m_overlapped || header.parameter == m_lastSentId ||
                                 (header.type == kData && header.parameter == kUnknownMessageId));
            return std::nullopt;
        case kFatalError:
            return Lost();
        case kInterrupted: {
            // The server dropped a response we had abandoned; the one we wait for follows.
            const Wait skipped = header.payloadLength > kMaxControlPayload
                                     ? Wait::BadHeader
                                     : SkipPayload(m_sync, operation, header.payloadLength);
            if (skipped == Wait::Timeout)
                return VI_ERROR_TMO;
            if (skipped != Wait::Ok)
                return Lost(skipped);
            return std::nullopt;
        }
        default: {
            // Error, or a message a client should never get: drop it and fail this read.
            if (header.payloadLength > kMaxControlPayload)
                return Lost(Wait::BadHeader);
            const Wait skipped = SkipPayload(m_sync, operation, header.payloadLength);
            if (skipped == Wait::Timeout)
                return VI_ERROR_TMO;
            if (skipped != Wait::Ok)
                return Lost(skipped);
            if (header.type != kError) {
                EncodeMessage(m_tx, kError, kErrorUnrecognizedType, 0);
                ViStatus status = VI_SUCCESS;
                if (!SendMessage(m_sync, operation, status) && status == VI_ERROR_CONN_LOST)
                    return status;
            }
            return VI_ERROR_IO;
        }
    }
}

std::optional<ViStatus> HiSlipTransport::TakeMessage(ViPBuf buffer, ViUInt32 count,
                                                     ViUInt32& received, const IoSettings& io,
                                                     const net::Deadline& operation) {
    if (m_messageLeft > 0) {
        if (m_sync.Size() == 0) {
            switch (m_sync.Receive(operation)) {
                case net::NetStatus::Ok:
                    break;
                case net::NetStatus::Timeout:
                    return VI_ERROR_TMO;
                default:
                    return Lost();
            }
        }
        const std::size_t available =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_sync.Size(), m_messageLeft));
        if (!m_messageDiscard)
            return CopyMessage(buffer, count, received, io, available);
        m_sync.Consume(available);
        m_messageLeft -= available;
        if (m_messageLeft > 0)
            return std::nullopt;
    }
    // An empty or fully skipped message.
    m_inMessage = false;
    if (!m_messageDiscard && m_messageEnds) {
        m_rmtDelivered = true;
        return VI_SUCCESS;
    }
    return std::nullopt;
}

std::optional<ViStatus> HiSlipTransport::CopyMessage(ViPBuf buffer, ViUInt32 count,
                                                     ViUInt32& received, const IoSettings& io,
                                                     std::size_t available) {
    std::size_t take = std::min<std::size_t>(available, count - received);
    bool termChar = false;
    if (io.termCharEnabled && take > 0) {
        if (const void* at = std::memchr(m_sync.Data(), io.termChar, take)) {
            take =
                static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - m_sync.Data()) + 1;
            termChar = true;
        }
    }
    std::memcpy(buffer + received, m_sync.Data(), take);
    m_sync.Consume(take);
    m_messageLeft -= take;
    received += static_cast<ViUInt32>(take);
    if (m_messageLeft == 0) {
        // The message is used up: END, if it carries it, outranks term char and count.
        m_inMessage = false;
        if (m_messageEnds) {
            m_rmtDelivered = true;
            return VI_SUCCESS;
        }
    }
    if (termChar)
        return VI_SUCCESS_TERM_CHAR;
    if (received == count)
        return VI_SUCCESS_MAX_CNT;
    return std::nullopt;
}

ViStatus HiSlipTransport::Clear(const IoSettings& io) {
    if (m_lost || !m_open)
        return VI_ERROR_CONN_LOST;
    const net::Deadline operation = OperationDeadline(io);
    EncodeMessage(m_tx, kAsyncDeviceClear, 0, 0);
    ViStatus status = VI_SUCCESS;
    if (!SendMessage(m_async, operation, status))
        return status;
    Header header;
    for (;;) {  // unsolicited async messages (service requests, interrupts) may come first
        const Wait wait = ReadControl(m_async, operation, header, kMaxControlPayload);
        if (wait == Wait::Timeout)
            return VI_ERROR_TMO;
        if (wait != Wait::Ok)
            return Lost(wait);
        if (header.type == kFatalError)
            return Lost();
        if (header.type == kAsyncDeviceClearAcknowledge)
            break;
    }
    // Ask for synchronized mode, whatever the server prefers.
    EncodeMessage(m_tx, kDeviceClearComplete, 0, 0);
    if (!SendMessage(m_sync, operation, status))
        return status;
    // What is left of the current response, and anything the server sent before it cleared, goes.
    if (m_inMessage) {
        const Wait wait = SkipPayload(m_sync, operation, m_messageLeft);
        m_inMessage = false;
        if (wait == Wait::Timeout)
            return VI_ERROR_TMO;
        if (wait != Wait::Ok)
            return Lost(wait);
    }
    for (;;) {
        Wait wait = ReadHeader(m_sync, operation, header);
        if (wait == Wait::Ok && header.type == kFatalError)
            return Lost();
        if (wait == Wait::Ok && header.payloadLength > kMaxMessageBytes)
            wait = Wait::BadHeader;
        if (wait == Wait::Ok)
            wait = SkipPayload(m_sync, operation, header.payloadLength);
        if (wait == Wait::Timeout)
            return VI_ERROR_TMO;
        if (wait != Wait::Ok)
            return Lost(wait);
        if (header.type == kDeviceClearAcknowledge) {
            m_overlapped = (header.control & kPreferOverlapped) != 0;
            break;
        }
    }
    m_messageId = kInitialMessageId;
    m_lastSentId = kInitialMessageId - 2;
    m_rmtDelivered = false;
    return VI_SUCCESS;
}

ViStatus HiSlipTransport::Close() noexcept {
    // HiSLIP has no goodbye: the server ends the session when either channel closes.
    m_open = false;
    m_inMessage = false;
    m_sync.Close();
    m_async.Close();
    return VI_SUCCESS;
}

}  // namespace visa::hislip
