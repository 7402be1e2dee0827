// A simulated bench served by the simulator's own servers on one loopback address over one
// protocol, the instruments by GPIB address as behind a gateway (gpib0,28 or hislip28), with this
// process's test ports pointing at the servers' ephemeral ones while it lives. A child process
// finds a VXI-11 server only through a portmapper on port 111: portmapPort 111 serves one there.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/Bench.h"
#include "sim/server/SimServer.h"
#include "visa/NetworkTesting.h"

class ServedBench {
public:
    ServedBench(const sim::BenchOptions& options, std::string address, bool hislip,
                std::uint16_t portmapPort = 0)
        : bench(options), address(std::move(address)), hislip(hislip) {
        std::vector<sim::server::ServedInstrument> served;
        for (sim::InstrumentId id : kInstruments) {
            const std::string gpib = Gpib(id);
            served.push_back({sim::InstrumentName(id), bench.Instrument(id), this->address,
                              "gpib0," + gpib, "hislip" + gpib});
        }
        sim::server::ServingOptions serving;
        serving.vxi11 = !hislip;
        serving.hislip = hislip;
        serving.portmapPort = portmapPort;
        serving.hislipPort = 0;
        std::ostringstream out;
        started = server.Start(served, serving, out);
        diagnostics = out.str();
        if (!started)
            return;
        const auto& endpoint = server.Endpoints().at(0);
        ports.emplace(visa::TestPorts{endpoint.portmapPort, 0, endpoint.hislipPort});
    }

    std::string Resource(sim::InstrumentId id) const {
        return "TCPIP::" + address + "::" + (hislip ? "hislip" : "gpib0,") + Gpib(id) + "::INSTR";
    }

    static constexpr sim::InstrumentId kInstruments[] = {
        sim::InstrumentId::Generator1, sim::InstrumentId::Generator2, sim::InstrumentId::Analyzer};
    static std::string Gpib(sim::InstrumentId id) {
        return id == sim::InstrumentId::Generator1   ? "28"
               : id == sim::InstrumentId::Generator2 ? "27"
                                                     : "20";
    }

    sim::Bench bench;
    const std::string address;
    const bool hislip;
    sim::server::SimServer server;
    bool started = false;
    std::string diagnostics;  // why the servers did not start
    std::optional<visa::ScopedTestPorts> ports;
};
