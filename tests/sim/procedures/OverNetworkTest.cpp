// The phase measurement over real VXI-11 links (portmapper included) to the simulator's servers
// on loopback, in both wirings; HiSLIP runs it in the end-to-end tests. This process takes the
// 127.5.0.0/16 block; ports are ephemeral.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include <unistd.h>

#include "sim/core/Bench.h"
#include "instrument/ConnectInstruments.h"
#include "measure/MeasurePhase.h"
#include "instrument/MessageSink.h"
#include "instrument/NumberText.h"
#include "tests/support/RecordingWindow.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"
#include "sim/server/SimServer.h"
#include "visa/NetworkTesting.h"

namespace {

double Distance(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

enum class Protocol { Vxi11, HiSlip };
struct Case {
    Protocol protocol;
    sim::Wiring wiring;
};

class MeasureOverNetwork : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case c = GetParam();
        sim::BenchOptions options;
        options.speed.fast = true;
        options.wiring = c.wiring;
        bench = std::make_unique<sim::Bench>(options);
        // One address for all three, as behind a LAN/GPIB gateway, so one set of test ports serves.
        const std::string address = "127.5." + std::to_string(1 + static_cast<int>(c.protocol) * 2 +
                                                               static_cast<int>(c.wiring)) + ".1";
        std::vector<sim::server::ServedInstrument> served;
        for (auto [id, gpib] : {std::pair{sim::InstrumentId::Generator1, 28}, std::pair{sim::InstrumentId::Generator2, 27},
                                std::pair{sim::InstrumentId::Analyzer, 20}}) {
            served.push_back({sim::InstrumentName(id), bench->Instrument(id), address, "gpib0," + std::to_string(gpib),
                              "hislip" + std::to_string(gpib)});
        }
        sim::server::ServingOptions serving;
        serving.portmapPort = 0;
        serving.vxi11Port = 0;
        serving.hislipPort = 0;
        std::ostringstream diagnostics;
        ASSERT_TRUE(server.Start(served, serving, diagnostics)) << diagnostics.str();
        const auto& endpoint = server.Endpoints().at(0);
        ports = std::make_unique<visa::ScopedTestPorts>(visa::TestPorts{endpoint.portmapPort, 0, endpoint.hislipPort});
        auto name = [&](int gpib) {
            return "TCPIP::" + address + "::" +
                   (c.protocol == Protocol::Vxi11 ? "gpib0," : "hislip") + std::to_string(gpib) + "::INSTR";
        };
        values = ConnectValues{name(28), name(27), name(20), c.wiring == sim::Wiring::RfB ? 1 : 0};
        SetMessageSink([this](const std::string& text) { window.ShowWarning(text); });

        directory = std::filesystem::temp_directory_path() / ("korvel-network-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(directory);
        ASSERT_TRUE(sim::WriteWaveformFile("dc.wv", nullptr));
        ConnectInstruments(instruments, values, window);
        ASSERT_TRUE(instruments.connected) << instruments.connectionText;
        SetupGenerators(instruments, values.useRfB != 0);
    }
    void TearDown() override {
        instruments.Release();
        SetMessageSink({});
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(directory);
        server.Stop();
    }
    double Measure(double frequencyHz) {
        const bool rfB = values.useRfB != 0;
        instruments.generator1->Query("FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?");
        if (!rfB) instruments.generator2->Query("FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?");
        SetupAnalyzer(instruments, rfB);
        double phase = 0.0;
        return MeasurePhase(instruments, {rfB, 1, false}, phase, window);
    }

    std::unique_ptr<sim::Bench> bench;
    sim::server::SimServer server;
    std::unique_ptr<visa::ScopedTestPorts> ports;
    ConnectValues values;
    Instruments instruments;
    RecordingWindow window;
    std::filesystem::path directory, previous;
};

TEST_P(MeasureOverNetwork, FindsTheTruthAtThreeFrequenciesButNotWithTheOscillatorsUncoupled) {
    for (double frequencyHz : {10e6, 1234.5e6, 2000e6}) {
        const double measured = Measure(frequencyHz);
        EXPECT_LE(Distance(measured, bench->TruthPhaseDeg()), 0.1) << frequencyHz;
    }
    EXPECT_TRUE(window.warnings.empty());

    // Undo the coupling the set-up made: the second path then runs on its own oscillator.
    (values.useRfB ? instruments.generator1 : instruments.generator2)->Write("SOURCE1:FREQ:LOSC:MODE INT");
    const double first = Measure(500e6);
    const double second = Measure(500e6);
    EXPECT_GT(Distance(first, second), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Net, MeasureOverNetwork,
                         ::testing::Values(Case{Protocol::Vxi11, sim::Wiring::RfB}, Case{Protocol::Vxi11, sim::Wiring::Two}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.wiring == sim::Wiring::RfB ? "Vxi11RfB" : "Vxi11Two");
                         });

}  // namespace
