// Opens VXI-11 links: resolve the host, ask its portmapper for the core port, connect, create
// the link. Every failure to reach the device is VI_ERROR_RSRC_NFOUND, within the open budget.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "visa/Transport.h"
#include "visa/net/Deadline.h"
#include "visa/net/Resolver.h"

namespace visa::vxi11 {

class Vxi11Connector final : public Connector {
public:
    ViStatus Open(const ResourceName& name, ViUInt32 openTimeoutMs,
                  std::unique_ptr<Transport>& transport) override;
};

// GETPORT for the core program over TCP. VI_SUCCESS with a non-zero port, else RSRC_NFOUND.
ViStatus AskPortmapper(const std::vector<net::Endpoint>& portmapper, const net::Deadline& deadline,
                       std::uint16_t& port);

}  // namespace visa::vxi11
