#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "CFileError.h"
#include "MeasurePhase.h"
#include "MeasurementCore.h"
#include "MemorySettingsStore.h"
#include "NumberText.h"
#include "ProcedureRig.h"
#include "SetupAnalyzer.h"
#include "SetupGenerators.h"

namespace {

// Runs with the rig's directory as working directory, holding a valid dc.wv unless told not to.
class InDirectory {
public:
    InDirectory(const std::filesystem::path& path, bool waveform = true) : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
        if (waveform) sim::WriteWaveformFile("dc.wv", nullptr);
    }
    ~InDirectory() { std::filesystem::current_path(m_previous); }

private:
    std::filesystem::path m_previous;
};

double CircleDistanceTo(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

double Offset(const std::string& command) {
    return ParseLeadingDouble(command.substr(command.find("POFF ") + 5));
}

TEST(ProcedureTraffic, OnePassSendsTheDocumentedTraceWithTwoGenerators) {
    ProcedureRig rig(sim::Wiring::Two);
    InDirectory dir(rig.Directory());
    rig.Connect();
    ASSERT_TRUE(rig.instruments.connected);
    SetupGenerators(rig.instruments, false);
    SetupAnalyzer(rig.instruments, false);
    rig.Traffic();

    double phase = 0.0;
    MeasurePhase(rig.instruments, {false, 1, false}, phase, rig.window);
    const auto traffic = rig.Traffic();
    EXPECT_EQ(ProcedureRig::CountReceived(traffic), 146u + 4u);

    std::vector<std::string> order;
    for (const auto& m : traffic) {
        if (m.direction == '<') order.push_back(m.instrument + " " + m.text);
    }
    const std::vector<std::string> opening{
        "analyzer INIT:CONT OFF",       "gen1 SOURCE1:BB:POFF 0.00DEG", "gen2 SOURCE1:BB:POFF 0.00DEG",
        "gen1 SOURCE1:BB:POFF 240.00DEG", "gen1 *OPC?", "analyzer INIT;*WAI", "analyzer CALC1:MARK1:Y?",
        "gen1 SOURCE1:BB:POFF 0.00DEG", "gen1 *OPC?", "analyzer INIT;*WAI", "analyzer CALC1:MARK1:Y?",
        "gen1 SOURCE1:BB:POFF 120.00DEG", "gen1 *OPC?", "analyzer INIT;*WAI", "analyzer CALC1:MARK1:Y?"};
    ASSERT_GE(order.size(), opening.size());
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + opening.size()), opening);
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[order.size() - 3].substr(0, 21), "gen1 SOURCE1:BB:POFF ");
    EXPECT_EQ(order[order.size() - 2], "gen1 *OPC?");
    EXPECT_EQ(order.back(), "analyzer INIT:CONT ON");
    // The closing setting carries one decimal.
    const std::string closing = order[order.size() - 3];
    EXPECT_EQ(closing.size() - closing.find('.'), 5u) << closing;

    // Twelve stages, the step halved from 120 to 0.05859375 degrees.
    const auto gen1 = ProcedureRig::Received(traffic, "gen1");
    std::vector<double> points;
    for (const auto& text : gen1) {
        if (text.rfind("SOURCE1:BB:POFF", 0) == 0) points.push_back(Offset(text));
    }
    ASSERT_EQ(points.size(), 1u + 36u + 1u);
    double step = 120.0;
    for (int stage = 0; stage < 12; ++stage, step *= 0.5) {
        const double low = points[1 + 3 * stage], centre = points[2 + 3 * stage], high = points[3 + 3 * stage];
        EXPECT_NEAR(std::fmod(centre - low + 360.0, 360.0), step, 0.011) << stage;
        EXPECT_NEAR(std::fmod(high - centre + 360.0, 360.0), step, 0.011) << stage;
    }
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen2"), std::vector<std::string>{"SOURCE1:BB:POFF 0.00DEG"});
    EXPECT_EQ(std::count(order.begin(), order.end(), "analyzer CALC1:MARK1:Y?"), 36);
}

TEST(ProcedureTraffic, RotationSpreadsThePassBasesAndRfBAddressesSourceTwo) {
    for (unsigned passes : {4u, 7u}) {
        SCOPED_TRACE(passes);
        ProcedureRig rig(sim::Wiring::RfB);
        InDirectory dir(rig.Directory());
        rig.Connect();
        SetupGenerators(rig.instruments, true);
        SetupAnalyzer(rig.instruments, true);
        rig.Traffic();
        double phase = 0.0;
        MeasurePhase(rig.instruments, {true, passes, true}, phase, rig.window);
        const auto traffic = rig.Traffic();
        EXPECT_EQ(ProcedureRig::CountReceived(traffic), 146u * passes + 4u);
        EXPECT_TRUE(ProcedureRig::Received(traffic, "gen2").empty());
        std::vector<std::string> bases;
        for (const auto& text : ProcedureRig::Received(traffic, "gen1")) {
            if (text.rfind("SOURCE2:BB:POFF", 0) == 0) bases.push_back(text);
        }
        ASSERT_EQ(bases.size(), passes);
        if (passes == 4) {
            EXPECT_EQ(bases, (std::vector<std::string>{"SOURCE2:BB:POFF 0.00DEG", "SOURCE2:BB:POFF 90.00DEG",
                                                       "SOURCE2:BB:POFF 180.00DEG", "SOURCE2:BB:POFF 270.00DEG"}));
        } else {
            EXPECT_EQ(bases[1], "SOURCE2:BB:POFF 51.43DEG");
        }
    }
}

TEST(ProcedureTraffic, ConnectingIdentifiesAndClearsAndAFailedProbeIsAllAnInstrumentGets) {
    sim::BenchOptions options;
    options.faults.push_back({sim::InstrumentId::Analyzer, sim::FaultKind::HangAfter, 0});
    ProcedureRig rig(sim::Wiring::Two, options);
    rig.Connect();
    const auto traffic = rig.Traffic();
    const std::vector<std::string> sequence{"*IDN?", "*IDN?", "*CLS"};
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen1"), sequence);
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen2"), sequence);
    EXPECT_EQ(ProcedureRig::Received(traffic, "analyzer"), std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(rig.window.warnings, std::vector<std::string>{"Cannot read *IDN from device GPIB0::20::INSTR"});
    EXPECT_EQ(rig.instruments.connectionText,
              "Maltoven,VRQ200A,100023,4.70\nMaltoven,VRT100A,100057,3.20\nNo analyzer found on 20!");
    EXPECT_FALSE(rig.instruments.generator1IsVrt);
    EXPECT_TRUE(rig.instruments.generator2IsVrt);
    EXPECT_FALSE(rig.instruments.connected);
}

TEST(ProcedureTraffic, TheAnalyzerBandwidthFollowsTheGeneratorLevel) {
    const struct {
        const char* level;
        const char* rlev;
        const char* bandwidth;
    } cases[] = {{"-49.9", "DISP:WIND:TRAC:Y:RLEV -49.900000dBm", "BAND:RES 1000"},
                 {"-50", "DISP:WIND:TRAC:Y:RLEV -50.000000dBm", "BAND:RES 100"},
                 {"-70", "DISP:WIND:TRAC:Y:RLEV -70.000000dBm", "BAND:RES 10"}};
    ProcedureRig rig(sim::Wiring::RfB);
    rig.Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        rig.instruments.generator1->Write(std::string("SOURCE1:POW:POW ") + c.level);
        rig.Traffic();
        SetupAnalyzer(rig.instruments, true);
        const auto analyzer = ProcedureRig::Received(rig.Traffic(), "analyzer");
        ASSERT_EQ(analyzer.size(), 9u);
        EXPECT_EQ(analyzer[0], "*RST");
        EXPECT_EQ(analyzer[1].substr(0, 10), "FREQ:CENT ");
        EXPECT_EQ(analyzer[5], c.rlev);
        EXPECT_EQ(analyzer[6], c.bandwidth);
    }
}

TEST(ProcedureTraffic, GeneratorSetupChoosesTheListDirectoryByModel) {
    sim::BenchOptions options;
    options.idnGenerator1 = "Maltoven,VRTK200,100099,1.10";
    ProcedureRig two(sim::Wiring::Two, options);
    InDirectory dir(two.Directory());
    two.values.useRfB = 0;
    two.Connect();
    two.Traffic();
    SetupGenerators(two.instruments, false);
    const auto traffic = two.Traffic();
    const auto gen1 = ProcedureRig::Received(traffic, "gen1");
    const auto gen2 = ProcedureRig::Received(traffic, "gen2");
    EXPECT_NE(std::find(gen1.begin(), gen1.end(), "MMEM:CDIR '/var/vrtk/Lists'"), gen1.end());
    EXPECT_NE(std::find(gen2.begin(), gen2.end(), "MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'"),
              gen2.end());
    EXPECT_EQ(gen1.front(), "*RST");
    EXPECT_EQ(gen1.back(), "OUTP1 ON");
    EXPECT_EQ(gen2.back(), "OUTP1 ON");

    // One generator: the default directory whatever its model, and both paths played.
    ProcedureRig rfb(sim::Wiring::RfB, options);
    InDirectory dir2(rfb.Directory());
    rfb.Connect();
    rfb.Traffic();
    SetupGenerators(rfb.instruments, true);
    const auto one = ProcedureRig::Received(rfb.Traffic(), "gen1");
    ASSERT_EQ(one.size(), 15u);
    EXPECT_EQ(one[3], "MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'");
    EXPECT_EQ(one[4].substr(0, 19), "MMEM:DATA 'dc.wv',#");
    const std::vector<std::string> tail(one.begin() + 5, one.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"SOURCE1:BB:ARB:WAV:SEL 'dc.wv'", "SOURCE1:BB:ARB:STAT ON",
                                              "SOURCE2:BB:ARB:WAV:SEL 'dc.wv'", "SOURCE2:BB:ARB:STAT ON",
                                              "SOURCE1:IQ:STAT ON", "SOURCE2:IQ:STAT ON", "SOURCE1:POW 0",
                                              "SOURCE2:POW 0", "OUTP1 ON", "OUTP2 ON"}));
}

TEST(ProcedureTraffic, AMissingWaveformEndsTheSetupAtTheTransferWithAnErrorBox) {
    ProcedureRig rig(sim::Wiring::RfB);
    InDirectory dir(rig.Directory(), false);
    MemorySettingsStore store;
    RecordingWindow window;
    SetMessageSink([&](const std::string& text) { window.ShowWarning(text); });
    {
        MeasurementCore core(store, window);
        core.ConnectInstruments();
        ASSERT_TRUE(core.IsConnected());
        rig.Traffic();
        core.SetupGenerators();
        EXPECT_EQ(ProcedureRig::Received(rig.Traffic(), "gen1"),
                  (std::vector<std::string>{"*RST", "*OPC?", "SOURCE1:FREQ:LOSC:MODE COUPLED",
                                            "MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'"}));
        ASSERT_EQ(window.errors.size(), 1u);
        EXPECT_NE(window.errors[0].find("dc.wv"), std::string::npos);
        EXPECT_NE(window.errors[0].find("No such file"), std::string::npos);
        EXPECT_TRUE(core.IsConnected());  // the program goes on
    }
}

TEST(ProcedureTraffic, ASessionFailingMidMeasurementGivesNoResult) {
    sim::BenchOptions options;
    // The analyzer drops its link after its first marker query of the measurement (message 15:
    // three at connecting, nine in the set-up, INIT:CONT OFF, INIT;*WAI, CALC1:MARK1:Y?).
    options.faults.push_back({sim::InstrumentId::Analyzer, sim::FaultKind::DropAfter, 15});
    ProcedureRig rig(sim::Wiring::RfB, options);
    InDirectory dir(rig.Directory());
    rig.Connect();
    SetupAnalyzer(rig.instruments, true);
    rig.Traffic();
    double phase = 123.0;
    EXPECT_EQ(MeasurePhase(rig.instruments, {true, 1, false}, phase, rig.window), kNotMeasured);
    EXPECT_EQ(phase, 123.0);
    EXPECT_EQ(rig.window.warnings, std::vector<std::string>{"Cannot read from device GPIB0::20::INSTR"});
    const auto traffic = rig.Traffic();
    EXPECT_EQ(ProcedureRig::Received(traffic, "analyzer").size(), 3u);
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen1").size(), 2u + 72u + 2u);  // the rest goes on
}

}  // namespace

namespace {

TEST(GetPhaseSingle, MeasuresWithTheButtonsOffAndRefusesACountOutsideOneToHundred) {
    ProcedureRig rig(sim::Wiring::RfB);
    InDirectory dir(rig.Directory());
    MemorySettingsStore store;
    RecordingWindow window;
    SetMessageSink([&](const std::string& text) { window.ShowWarning(text); });
    MeasurementCore core(store, window);
    core.ConnectInstruments();
    core.SetupGenerators();
    rig.Traffic();
    window.log.clear();

    core.OnGetPhaseSingle();
    EXPECT_EQ(ProcedureRig::CountReceived(rig.Traffic()), 3u + 9u + 2u + 146u + 4u);  // set-up, then one pass
    const std::vector<std::string> before(window.log.begin(), window.log.begin() + 6);
    EXPECT_EQ(before, (std::vector<std::string>{"read", "enable StartSweep 0", "enable GetPhaseCont 0", "enable Stop 0",
                                                "enable GetPhaseSingle 0", "enable AdjustLevels 0"}));
    const std::vector<std::string> after(window.log.end() - 5, window.log.end());
    EXPECT_EQ(after, (std::vector<std::string>{"enable StartSweep 1", "enable GetPhaseCont 1", "enable GetPhaseSingle 1",
                                               "enable AdjustLevels 1", "enable Stop 0"}));
    EXPECT_LT(CircleDistanceTo(core.PhaseResult(), rig.bench->TruthPhaseDeg()), 0.1);

    for (std::uint32_t bad : {0u, 101u, 4294967295u}) {
        core.Settings().Average = bad;
        const double previous = core.PhaseResult();
        core.OnGetPhaseSingle();
        EXPECT_EQ(ProcedureRig::CountReceived(rig.Traffic()), 0u) << bad;
        EXPECT_EQ(core.PhaseResult(), previous);
        EXPECT_EQ(core.StatusText(), "No measurement: Avg. must be a whole number from 1 to 100.");
    }
    SetMessageSink({});
}

}  // namespace
