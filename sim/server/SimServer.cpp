#include "SimServer.h"

#include <map>

namespace sim::server {

struct SimServer::Site {
    std::vector<std::shared_ptr<ServedDevice>> devices;
    std::unique_ptr<Vxi11Server> vxi11;
    std::unique_ptr<Portmapper> portmapper;
    std::unique_ptr<HiSlipServer> hislip;
};

SimServer::SimServer() = default;
SimServer::~SimServer() {
    Stop();
}

bool SimServer::Start(const std::vector<ServedInstrument>& instruments,
                      const ServingOptions& options, std::ostream& diagnostics) {
    // Group by address, keeping the order in which addresses first appear.
    std::vector<std::string> order;
    std::map<std::string, std::vector<const ServedInstrument*>> byAddress;
    for (const ServedInstrument& served : instruments) {
        if (!byAddress.count(served.address))
            order.push_back(served.address);
        byAddress[served.address].push_back(&served);
    }
    uint16_t sharedCorePort = options.vxi11Port;
    bool served = false;
    for (const std::string& address : order) {
        auto site = std::make_unique<Site>();
        Endpoint endpoint;
        endpoint.address = address;
        std::vector<NamedDevice> vxi11Names;
        std::vector<SubAddress> hislipNames;
        for (const ServedInstrument* entry : byAddress[address]) {
            auto device = std::make_shared<ServedDevice>(entry->label, entry->instrument);
            site->devices.push_back(device);
            vxi11Names.push_back({entry->vxi11Name, device});
            hislipNames.push_back({entry->hislipName, device});
        }
        if (options.vxi11 &&
            ServeVxi11(*site, endpoint, vxi11Names, options, sharedCorePort, diagnostics)) {
            ServePortmapper(*site, endpoint, options, diagnostics);
        }
        if (options.hislip)
            ServeHiSlip(*site, endpoint, hislipNames, options, diagnostics);
        served = served || endpoint.corePort || endpoint.hislipPort;
        AddResourceLines(byAddress[address], endpoint);
        m_endpoints.push_back(endpoint);
        m_sites.push_back(std::move(site));
    }
    return served;
}

bool SimServer::ServeVxi11(Site& site, Endpoint& endpoint, const std::vector<NamedDevice>& names,
                           const ServingOptions& options, uint16_t& sharedCorePort,
                           std::ostream& diagnostics) {
    Vxi11Options vo;
    vo.address = endpoint.address;
    vo.maxRecvSize = options.maxRecvSize;
    vo.readChunkLimit = options.readChunkLimit;
    // One core port on every address lets a single registration with a system portmapper serve
    // them all.
    vo.corePort = sharedCorePort;
    std::string error;
    site.vxi11 = std::make_unique<Vxi11Server>(vo, names);
    bool started = site.vxi11->Start(error);
    if (!started && options.vxi11Port == 0 && vo.corePort != 0) {
        vo.corePort = 0;
        site.vxi11 = std::make_unique<Vxi11Server>(vo, names);
        started = site.vxi11->Start(error);
    }
    if (!started) {
        diagnostics << "korvel-sim: VXI-11 off on " << endpoint.address << ": " << error << "\n";
        site.vxi11.reset();
        return false;
    }
    endpoint.corePort = site.vxi11->CorePort();
    endpoint.abortPort = site.vxi11->AbortPort();
    if (sharedCorePort == 0)
        sharedCorePort = endpoint.corePort;
    return true;
}

void SimServer::ServePortmapper(Site& site, Endpoint& endpoint, const ServingOptions& options,
                                std::ostream& diagnostics) {
    const std::vector<PortMapping> mappings = {
        {vxi11::kCoreProgram, vxi11::kCoreVersion, portmap::kProtocolTcp, endpoint.corePort},
        {vxi11::kAbortProgram, vxi11::kAbortVersion, portmap::kProtocolTcp, endpoint.abortPort}};
    std::string error;
    site.portmapper = std::make_unique<Portmapper>(endpoint.address, options.portmapPort, mappings);
    if (site.portmapper->Start(error)) {
        endpoint.portmapPort = site.portmapper->Port();
        return;
    }
    site.portmapper.reset();
    // The port is taken, most likely by the system's portmapper: register there.
    std::string why;
    bool registered = false;
    for (const PortMapping& m : mappings) {
        const bool ok = RegisterWithPortmapper(m, options.portmapPort, why);
        if (ok)
            m_registrations.emplace_back(m, options.portmapPort);
        registered = registered || ok;
        if (!ok)
            break;
    }
    if (registered) {
        diagnostics << "korvel-sim: " << error << "; registered VXI-11 on " << endpoint.address
                    << " with the portmapper already running\n";
        return;
    }
    diagnostics << "korvel-sim: VXI-11 off on " << endpoint.address << ": " << error << ", and "
                << why << "\n";
    site.vxi11->Stop();
    site.vxi11.reset();
    endpoint.corePort = endpoint.abortPort = 0;
}

void SimServer::ServeHiSlip(Site& site, Endpoint& endpoint, const std::vector<SubAddress>& names,
                            const ServingOptions& options, std::ostream& diagnostics) {
    HiSlipOptions ho;
    ho.address = endpoint.address;
    ho.port = options.hislipPort;
    ho.maxHiSlipMessageSize = options.hislipMaxMessage;
    std::string error;
    site.hislip = std::make_unique<HiSlipServer>(ho, names);
    if (site.hislip->Start(error)) {
        endpoint.hislipPort = site.hislip->Port();
        return;
    }
    diagnostics << "korvel-sim: HiSLIP off on " << endpoint.address << ": " << error << "\n";
    site.hislip.reset();
}

void SimServer::AddResourceLines(const std::vector<const ServedInstrument*>& entries,
                                 const Endpoint& endpoint) {
    const std::string& address = endpoint.address;
    for (const ServedInstrument* entry : entries) {
        if (endpoint.corePort) {
            std::string line =
                entry->label + " VXI-11: TCPIP0::" + address + "::" + entry->vxi11Name + "::INSTR";
            if (endpoint.portmapPort && endpoint.portmapPort != portmap::kPort) {
                line += "  (portmapper on port " + std::to_string(endpoint.portmapPort) + ")";
            }
            m_lines.push_back(line);
        }
        if (endpoint.hislipPort) {
            std::string name = entry->hislipName;
            if (endpoint.hislipPort != hislip::kDefaultPort) {
                name += "," + std::to_string(endpoint.hislipPort);
            }
            m_lines.push_back(entry->label + " HiSLIP: TCPIP0::" + address + "::" + name +
                              "::INSTR");
        }
    }
}

void SimServer::Stop() {
    for (auto& [mapping, port] : m_registrations)
        UnregisterFromPortmapper(mapping, port);
    m_registrations.clear();
    for (auto& site : m_sites) {
        if (site->hislip)
            site->hislip->Stop();
        if (site->portmapper)
            site->portmapper->Stop();
        if (site->vxi11)
            site->vxi11->Stop();
    }
    m_sites.clear();
    // A restart on this object serves on new ports; the old ones must not be reported.
    m_endpoints.clear();
    m_lines.clear();
}

std::vector<std::string> SimServer::ResourceLines() const {
    return m_lines;
}

}  // namespace sim::server
