// Opens HiSLIP sessions: resolve the host, then the handshake on both channels, all within the
// open budget (a server that ignores an unknown sub-address must not hang viOpen).
#pragma once

#include <memory>

#include "visa/Transport.h"

namespace visa::hislip {

class HiSlipConnector final : public Connector {
public:
    ViStatus Open(const ResourceName& name, ViUInt32 openTimeoutMs,
                  std::unique_ptr<Transport>& transport) override;
};

}  // namespace visa::hislip
