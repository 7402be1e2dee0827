// A VXI-11 link on one core channel. Writes go out as device_write calls of at most the link's
// maxRecvSize, END on the last; a read repeats device_read until END, the term char or the
// caller's count. Each operation has one deadline: every call carries the time left as its
// io_timeout, and the socket waits that long plus a margin, so the server's own timeout answer
// normally arrives first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RpcClient.h"
#include "visa/Transport.h"
#include "visa/net/Deadline.h"
#include "visa/net/Resolver.h"

namespace visa::vxi11 {

class Vxi11Transport final : public Transport {
public:
    static constexpr std::uint32_t kMaxWriteChunk = 1024 * 1024;
    static constexpr std::uint32_t kMaxRequestSize = 1024 * 1024;
    static constexpr std::uint32_t kSocketMarginMs = 1000;
    // io_timeout 0 has no agreed meaning on servers; an immediate read still gets this long.
    static constexpr std::uint32_t kMinIoTimeoutMs = 10;
    static constexpr std::uint32_t kCloseBudgetMs = 1000;

    Vxi11Transport() = default;
    ~Vxi11Transport() override;

    // Connects the core channel and creates the link; returns a viOpen status.
    ViStatus Open(const std::vector<net::Endpoint>& core, const std::string& device,
                  const net::Deadline& deadline);

    ViStatus Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                   const IoSettings& io) override;
    ViStatus Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received, const IoSettings& io) override;
    // destroy_link (best effort, skipped once the connection is lost), then the socket.
    ViStatus Close() noexcept override;
    // device_clear; bytes held back from an earlier read are dropped.
    ViStatus Clear(const IoSettings& io) override;

    std::uint32_t WriteChunkBytes() const { return m_chunkBytes; }

private:
    struct ReadTarget;
    struct Delivery {
        ViStatus status = VI_SUCCESS;  // the read's final status when done
        bool done = true;
        std::size_t taken = 0;
    };
    // Stores what fits of one piece of the response, stopping after the term char if enabled.
    static Delivery Deliver(ReadTarget& target, const std::uint8_t* data, std::size_t length,
                            bool end);
    void DropLeftover();
    RpcReply CallWithin(std::uint32_t xid, const net::Deadline& operation,
                        std::uint32_t ioTimeoutMs);
    ViStatus FromRpc(RpcStatus status);
    ViStatus FromDeviceError(std::int32_t error);

    RpcClient m_rpc;
    std::int32_t m_lid = 0;  // 0 is a valid link id
    bool m_linked = false;
    bool m_lost = false;
    std::uint32_t m_chunkBytes = 1024;
    std::vector<std::uint8_t> m_leftover;  // response bytes beyond an earlier read's count
    std::size_t m_leftoverAt = 0;
    bool m_leftoverEnds = false;  // END came with the last leftover byte
};

}  // namespace visa::vxi11
