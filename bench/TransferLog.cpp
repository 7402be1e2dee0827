#include "TransferLog.h"

namespace {

class LoggedTransport final : public visa::Transport {
public:
    LoggedTransport(std::unique_ptr<visa::Transport> inner, TransferLog& log)
        : m_inner(std::move(inner)), m_log(log) {}
    visa::ViStatus Write(visa::ViConstBuf data, visa::ViUInt32 count, visa::ViUInt32& written,
                         const visa::IoSettings& io) override {
        const visa::ViStatus status = m_inner->Write(data, count, written, io);
        if (m_log.Recording())
            m_log.Add(true, written);
        return status;
    }
    visa::ViStatus Read(visa::ViPBuf buffer, visa::ViUInt32 count, visa::ViUInt32& received,
                        const visa::IoSettings& io) override {
        const visa::ViStatus status = m_inner->Read(buffer, count, received, io);
        if (m_log.Recording())
            m_log.Add(false, received);
        return status;
    }
    visa::ViStatus Clear(const visa::IoSettings& io) override { return m_inner->Clear(io); }
    visa::ViStatus Close() noexcept override { return m_inner->Close(); }

private:
    std::unique_ptr<visa::Transport> m_inner;
    TransferLog& m_log;
};

class LoggedConnector final : public visa::Connector {
public:
    LoggedConnector(std::shared_ptr<visa::Connector> inner, TransferLog& log)
        : m_inner(std::move(inner)), m_log(log) {}
    visa::ViStatus Open(const visa::ResourceName& name, visa::ViUInt32 openTimeoutMs,
                        std::unique_ptr<visa::Transport>& transport) override {
        const visa::ViStatus status = m_inner->Open(name, openTimeoutMs, transport);
        if (status >= visa::VI_SUCCESS && transport) {
            transport = std::make_unique<LoggedTransport>(std::move(transport), m_log);
        }
        return status;
    }

private:
    std::shared_ptr<visa::Connector> m_inner;
    TransferLog& m_log;
};

std::uint32_t Padded(std::uint32_t bytes) {
    return (bytes + 3) / 4 * 4;
}

}  // namespace

void TransferLog::Install() {
    for (visa::TcpipProtocol protocol : {visa::TcpipProtocol::Vxi11, visa::TcpipProtocol::HiSlip}) {
        std::shared_ptr<visa::Connector> inner = visa::SetConnector(protocol, nullptr);
        visa::SetConnector(protocol, std::make_shared<LoggedConnector>(inner, *this));
    }
}

std::vector<PingPong::Exchange> TransferLog::Vxi11Exchanges() const {
    // Record mark, call header with AUTH_NONE (40), arguments; reply header with verifier (24).
    constexpr std::uint32_t kCall = 4 + 40;
    constexpr std::uint32_t kReply = 4 + 24;
    std::vector<PingPong::Exchange> exchanges;
    for (const Transfer& t : m_transfers) {
        if (t.write) {
            exchanges.push_back({kCall + 20 + Padded(t.bytes), kReply + 8});
        } else {
            exchanges.push_back({kCall + 24, kReply + 12 + Padded(t.bytes)});
        }
    }
    return exchanges;
}

std::vector<PingPong::Exchange> TransferLog::HiSlipExchanges() const {
    constexpr std::uint32_t kHeader = 16;
    std::vector<PingPong::Exchange> exchanges;
    for (size_t i = 0; i < m_transfers.size(); ++i) {
        if (!m_transfers[i].write)
            continue;
        const bool answered = i + 1 < m_transfers.size() && !m_transfers[i + 1].write;
        exchanges.push_back(
            {kHeader + m_transfers[i].bytes, kHeader + (answered ? m_transfers[i + 1].bytes : 0)});
    }
    return exchanges;
}
