// The seam between the VISA functions and the ways of reaching an instrument. A transport moves
// whole messages with END semantics and reports VISA statuses; it knows nothing of SCPI.
#pragma once

#include <memory>

#include "ResourceName.h"
#include "visa.h"

namespace visa {

// Per-call I/O settings, taken from the session's attributes at the moment of the call.
struct IoSettings {
    ViUInt32 timeoutMs = kDefaultTimeoutMs;  // VI_TMO_INFINITE: no deadline
    bool termCharEnabled = false;
    ViByte termChar = '\n';
};

class Transport {
public:
    virtual ~Transport() = default;
    // Sends count bytes as one message, END with the last byte. `written` counts accepted bytes.
    virtual ViStatus Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                           const IoSettings& io) = 0;
    // Reads up to count bytes of the pending response. VI_SUCCESS when END was reached,
    // VI_SUCCESS_TERM_CHAR / VI_SUCCESS_MAX_CNT otherwise; unread bytes stay for the next call.
    virtual ViStatus Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                          const IoSettings& io) = 0;
    // Best-effort teardown; errors are not reported.
    virtual void Close() noexcept = 0;
};

// Opens transports for one kind of resource. openTimeoutMs bounds the whole open.
class Connector {
public:
    virtual ~Connector() = default;
    virtual ViStatus Open(const ResourceName& name, ViUInt32 openTimeoutMs,
                          std::unique_ptr<Transport>& transport) = 0;
};

// Installs the connector for one TCPIP protocol (nullptr removes it); the library starts with
// the VXI-11 and HiSLIP network connectors. Returns the previous one.
std::shared_ptr<Connector> SetConnector(TcpipProtocol protocol, std::shared_ptr<Connector> connector);

}  // namespace visa
