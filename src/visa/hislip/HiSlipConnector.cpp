#include "HiSlipConnector.h"

#include "HiSlipTransport.h"
#include "visa/NetworkTesting.h"
#include "visa/net/Resolver.h"

namespace visa::hislip {

ViStatus HiSlipConnector::Open(const ResourceName& name, ViUInt32 openTimeoutMs,
                               std::unique_ptr<Transport>& transport) {
    const net::Deadline deadline = net::Deadline::AfterMs(openTimeoutMs);
    // A port written in the name ("hislip0,4881") wins over the default.
    const bool portGiven = name.deviceName.find(',') != std::string::npos;
    const std::uint16_t port = portGiven ? name.hislipPort : GetTestPorts().hislipDefaultPort;
    std::vector<net::Endpoint> endpoints;
    if (net::ResolveHost(name.ResolverHost(), port, deadline, endpoints) != net::NetStatus::Ok) {
        return VI_ERROR_RSRC_NFOUND;
    }
    auto session = std::make_unique<HiSlipTransport>();
    const ViStatus status = session->Open(endpoints, name.hislipSubAddress, deadline);
    if (status != VI_SUCCESS)
        return status;
    transport = std::move(session);
    return VI_SUCCESS;
}

}  // namespace visa::hislip
