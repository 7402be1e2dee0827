// A HiSLIP session in synchronized mode: the synchronous channel carries Data/DataEnd both ways,
// the asynchronous channel the open handshake and device clear. Responses are streamed from the
// socket buffer into the caller's buffer; the unread rest of a message stays in the stream for
// the next read. Stale responses (another MessageID, left behind by a timeout) are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "HiSlipCodec.h"
#include "visa/Transport.h"
#include "visa/net/Deadline.h"
#include "visa/net/TcpConnection.h"

namespace visa::hislip {

class HiSlipTransport final : public Transport {
public:
    // The largest message we accept, header included; announced to the server at open.
    static constexpr std::uint64_t kMaxMessageBytes = 1024 * 1024;
    // Bound on payloads we only skip or log (Error text, messages we do not understand).
    static constexpr std::uint64_t kMaxControlPayload = 64 * 1024;
    static constexpr char kVendorId[2] = {'K', 'V'};

    HiSlipTransport();
    ~HiSlipTransport() override;

    // Both channels, the handshake and the size negotiation; returns a viOpen status.
    ViStatus Open(const std::vector<net::Endpoint>& server, std::string_view subAddress,
                  const net::Deadline& deadline);

    ViStatus Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                   const IoSettings& io) override;
    ViStatus Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received, const IoSettings& io) override;
    ViStatus Close() noexcept override;
    // Device clear: AsyncDeviceClear, then DeviceClearComplete; MessageIDs start over.
    ViStatus Clear(const IoSettings& io) override;

    std::uint64_t ServerMaxMessageBytes() const { return m_serverMaxBytes; }
    bool Overlapped() const { return m_overlapped; }

private:
    enum class Wait { Ok, Timeout, Lost, BadHeader };
    static Wait ReceiveMore(net::TcpConnection& channel, const net::Deadline& deadline);
    Wait ReadHeader(net::TcpConnection& channel, const net::Deadline& deadline, Header& header);
    Wait SkipPayload(net::TcpConnection& channel, const net::Deadline& deadline,
                     std::uint64_t length);
    Wait ReadPayload(net::TcpConnection& channel, const net::Deadline& deadline,
                     std::uint64_t length);
    // A whole control message whose payload may not exceed limit.
    Wait ReadControl(net::TcpConnection& channel, const net::Deadline& deadline, Header& header,
                     std::uint64_t limit);
    // The parts of a read, each returning the read's status when it ends there.
    // Reads one header: a response message starts, or another message is dealt with.
    std::optional<ViStatus> StartMessage(const net::Deadline& operation);
    // What has arrived of the response message, skipped when stale, otherwise copied.
    std::optional<ViStatus> TakeMessage(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                                        const IoSettings& io, const net::Deadline& operation);
    std::optional<ViStatus> CopyMessage(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                                        const IoSettings& io, std::size_t available);
    ViStatus Lost(Wait cause = Wait::Lost);
    ViStatus OpenFailed(ViStatus status);
    bool SendMessage(net::TcpConnection& channel, const net::Deadline& deadline, ViStatus& status);

    net::TcpConnection m_sync;
    net::TcpConnection m_async;
    std::vector<std::uint8_t> m_tx;
    std::vector<std::uint8_t> m_payload;  // control payloads (sizes, error texts)
    std::uint64_t m_serverMaxBytes = 0;
    bool m_overlapped = false;
    bool m_lost = false;
    bool m_open = false;

    std::uint32_t m_messageId = kInitialMessageId;       // for the next Data/DataEnd
    std::uint32_t m_lastSentId = kInitialMessageId - 2;  // responses must echo this one
    bool m_rmtDelivered = false;  // a whole response reached the caller since our last message

    // The response message being read from the synchronous channel.
    bool m_inMessage = false;
    bool m_messageEnds = false;     // DataEnd: END comes with its last byte
    bool m_messageDiscard = false;  // stale, or abandoned by a newer message of ours
    std::uint64_t m_messageLeft = 0;
};

}  // namespace visa::hislip
