// Serves a set of message instruments over VXI-11 (with a portmapper) and HiSLIP, grouping them
// by address: each address gets one VXI-11 server, one portmapper and one HiSLIP server, and
// each instrument there its own device name and sub-address.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "HiSlipServer.h"
#include "Portmapper.h"
#include "Vxi11Server.h"
#include "visa/MessageInstrument.h"

namespace sim::server {

struct ServedInstrument {
    std::string label;  // gen1, gen2, analyzer
    std::shared_ptr<visa::MessageInstrument> instrument;
    std::string address;     // IPv4 address to serve it on
    std::string vxi11Name;   // inst0, gpib0,28
    std::string hislipName;  // hislip0
};

struct ServingOptions {
    bool vxi11 = true;
    bool hislip = true;
    uint16_t portmapPort = portmap::kPort;
    uint16_t vxi11Port = 0;  // 0: ephemeral, the same on every address where it can be had
    uint16_t hislipPort = hislip::kDefaultPort;
    uint32_t maxRecvSize = 65536;
    size_t readChunkLimit = 0;
    uint64_t hislipMaxMessage = 1u << 20;
};

class SimServer {
public:
    SimServer();
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Starts everything it can. What cannot be served is said on `diagnostics` (one line each);
    // false when nothing at all is served.
    bool Start(const std::vector<ServedInstrument>& instruments, const ServingOptions& options,
               std::ostream& diagnostics);
    void Stop();

    // The resource strings to type into Korvel, one line per instrument and protocol served.
    std::vector<std::string> ResourceLines() const;

    struct Endpoint {
        std::string address;
        uint16_t portmapPort = 0;  // 0: registered with the system portmapper instead, or off
        uint16_t corePort = 0;     // 0: VXI-11 off here
        uint16_t abortPort = 0;
        uint16_t hislipPort = 0;  // 0: HiSLIP off here
    };
    const std::vector<Endpoint>& Endpoints() const { return m_endpoints; }

private:
    struct Site;
    // Each false or silent when it cannot serve, with the reason on diagnostics.
    bool ServeVxi11(Site& site, Endpoint& endpoint, const std::vector<NamedDevice>& names,
                    const ServingOptions& options, uint16_t& sharedCorePort,
                    std::ostream& diagnostics);
    // The site's own portmapper, or else a registration with the one already running.
    void ServePortmapper(Site& site, Endpoint& endpoint, const ServingOptions& options,
                         std::ostream& diagnostics);
    void ServeHiSlip(Site& site, Endpoint& endpoint, const std::vector<SubAddress>& names,
                     const ServingOptions& options, std::ostream& diagnostics);
    void AddResourceLines(const std::vector<const ServedInstrument*>& entries,
                          const Endpoint& endpoint);
    std::vector<std::unique_ptr<Site>> m_sites;
    std::vector<Endpoint> m_endpoints;
    std::vector<std::string> m_lines;
    std::vector<std::pair<PortMapping, uint16_t>> m_registrations;
};

}  // namespace sim::server
