// korvel-sim: the simulated bench (two generators and an analyzer) served over VXI-11, with its
// own portmapper, and HiSLIP. Each instrument on its own loopback address by default, or all
// three behind one address as on a LAN/GPIB gateway.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "sim/core/Bench.h"
#include "sim/server/SimServer.h"

namespace {

struct ServingFlags {
    std::string gen1Address = "127.0.0.28";
    std::string gen2Address = "127.0.0.27";
    std::string analyzerAddress = "127.0.0.20";
    std::string gateway;
    bool listen = false;
    bool noVxi11 = false;
    bool noHiSlip = false;
    sim::server::ServingOptions serving;
    std::string waveformPath;
};

void AddServingOptions(CLI::App& app, ServingFlags& f) {
    const char* group = "Serving";
    app.add_option("--gen1-address", f.gen1Address, "Address of generator 1")
        ->capture_default_str()
        ->group(group);
    app.add_option("--gen2-address", f.gen2Address, "Address of generator 2")
        ->capture_default_str()
        ->group(group);
    app.add_option("--analyzer-address", f.analyzerAddress, "Address of the analyzer")
        ->capture_default_str()
        ->group(group);
    app.add_option("--gateway", f.gateway,
                   "Serve all three on this one address, as devices gpib0,28 / gpib0,27 / "
                   "gpib0,20 (HiSLIP: hislip28 / hislip27 / hislip20)")
        ->group(group);
    app.add_flag("--listen", f.listen, "Allow addresses outside the loopback network")
        ->group(group);
    app.add_option("--portmap-port", f.serving.portmapPort,
                   "Port of the portmapper on each address (else registration with the "
                   "system's portmapper)")
        ->capture_default_str()
        ->group(group);
    app.add_option("--vxi11-port", f.serving.vxi11Port, "VXI-11 core port (0: any free one)")
        ->capture_default_str()
        ->group(group);
    app.add_option("--hislip-port", f.serving.hislipPort, "HiSLIP port (0: any free one)")
        ->capture_default_str()
        ->group(group);
    app.add_flag("--no-vxi11", f.noVxi11, "Do not serve VXI-11")->group(group);
    app.add_flag("--no-hislip", f.noHiSlip, "Do not serve HiSLIP")->group(group);
    app.add_option("--max-recv-size", f.serving.maxRecvSize,
                   "Largest VXI-11 write accepted (bytes)")
        ->capture_default_str()
        ->check(CLI::Range(1024u, 1u << 30))
        ->group(group);
    app.add_option("--read-chunk", f.serving.readChunkLimit,
                   "Largest VXI-11 read reply (bytes; 0: as requested), to exercise clients")
        ->capture_default_str()
        ->group(group);
    app.add_option("--hislip-max-message", f.serving.hislipMaxMessage,
                   "Largest HiSLIP message accepted, header included (bytes)")
        ->capture_default_str()
        ->check(CLI::Range(uint64_t{64}, uint64_t{1} << 30))
        ->group(group);
    app.add_option("--write-waveform", f.waveformPath,
                   "Write a valid constant-I/Q waveform file (dc.wv) and exit");
}

bool IsLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "korvel-sim: a simulated RF bench (two generators and a spectrum analyzer) "
        "served over VXI-11 and HiSLIP"};
    sim::BenchOptions benchOptions;
    sim::AddBenchOptions(app, benchOptions);
    ServingFlags flags;
    AddServingOptions(app, flags);
    CLI11_PARSE(app, argc, argv);

    if (!flags.waveformPath.empty()) {
        std::string error;
        if (!sim::WriteWaveformFile(flags.waveformPath, &error)) {
            std::cerr << "korvel-sim: " << error << "\n";
            return 1;
        }
        return 0;
    }

    using sim::InstrumentId;
    struct Placement {
        InstrumentId id;
        std::string address;
        int gpibAddress;
    };
    const bool gateway = !flags.gateway.empty();
    const std::vector<Placement> placements = {
        {InstrumentId::Generator1, gateway ? flags.gateway : flags.gen1Address, 28},
        {InstrumentId::Generator2, gateway ? flags.gateway : flags.gen2Address, 27},
        {InstrumentId::Analyzer, gateway ? flags.gateway : flags.analyzerAddress, 20},
    };
    for (const Placement& p : placements) {
        if (!flags.listen && !IsLoopback(p.address)) {
            std::cerr << "korvel-sim: " << p.address
                      << " is outside the loopback network; add --listen to serve there\n";
            return 2;
        }
    }

    // The signals are taken by sigwait below; every thread started from here inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<sim::Bench> bench;
    try {
        bench = std::make_unique<sim::Bench>(benchOptions);
    } catch (const std::exception& e) {
        std::cerr << "korvel-sim: " << e.what() << "\n";
        return 1;
    }

    std::vector<sim::server::ServedInstrument> instruments;
    for (const Placement& p : placements) {
        const std::string gpib = std::to_string(p.gpibAddress);
        instruments.push_back({sim::InstrumentName(p.id), bench->Instrument(p.id), p.address,
                               gateway ? "gpib0," + gpib : "inst0",
                               gateway ? "hislip" + gpib : "hislip0"});
    }
    flags.serving.vxi11 = !flags.noVxi11;
    flags.serving.hislip = !flags.noHiSlip;
    sim::server::SimServer server;
    if (!server.Start(instruments, flags.serving, std::cerr)) {
        std::cerr << "korvel-sim: nothing could be served\n";
        return 1;
    }
    std::cout << "korvel-sim: resource strings to type into Korvel\n";
    for (const std::string& line : server.ResourceLines())
        std::cout << "  " << line << "\n";
    std::cout << "korvel-sim: ready (Ctrl+C ends it)" << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    std::cout << "korvel-sim: stopped" << std::endl;
    return 0;
}
