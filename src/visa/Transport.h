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

// The attributes the built-in transports support, applied to io.
ViStatus ApplyIoAttribute(ViAttr attribute, ViAttrState value, IoSettings& io);

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
    // Device clear: the instrument drops its pending input and output, which frees one that
    // hangs on a message; bytes of a response held here are dropped too.
    virtual ViStatus Clear(const IoSettings& io) = 0;
    // Teardown. Our own transports are best effort and report VI_SUCCESS.
    virtual ViStatus Close() noexcept = 0;
    // The session's attributes. Our transports keep them in the session's IoSettings.
    virtual ViStatus SetAttribute(ViAttr attribute, ViAttrState value, IoSettings& io) {
        return ApplyIoAttribute(attribute, value, io);
    }
    // A passthrough to another VISA library: its statuses reach the caller unchanged, so a lost
    // connection is not held against later calls, and a closed one reports an invalid object.
    virtual bool IsPassthrough() const { return false; }
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
std::shared_ptr<Connector> SetConnector(TcpipProtocol protocol,
                                        std::shared_ptr<Connector> connector);

}  // namespace visa
