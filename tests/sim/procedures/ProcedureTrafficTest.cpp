// What the connection, the set-ups and the phase measurement send, as the bench logged it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "ProcedureRig.h"
#include "app/core/MeasurementCore.h"
#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"
#include "tests/support/MemorySettingsStore.h"

using namespace korvel;

namespace {

TEST(ProcedureTraffic, OnePassSendsTheDocumentedTraceWithTwoGenerators) {
    ProcedureRig rig(sim::Wiring::Two);
    rig.Connect();
    ASSERT_TRUE(rig.instruments.connected);
    SetupGenerators(rig.instruments, false);
    SetupAnalyzer(rig.instruments, false);
    rig.Traffic();

    double phase = 0.0;
    MeasurePhase(rig.instruments, {false, 1, false}, phase, rig.window);
    const auto traffic = rig.Traffic();
    const Texts order = ProcedureRig::Received(traffic);
    ASSERT_EQ(order.size(), 146u + 4u);
    const Texts opening{"analyzer INIT:CONT OFF",
                        "gen1 SOURCE1:BB:POFF 0.00DEG",
                        "gen2 SOURCE1:BB:POFF 0.00DEG",
                        "gen1 SOURCE1:BB:POFF 240.00DEG",
                        "gen1 *OPC?",
                        "analyzer INIT;*WAI",
                        "analyzer CALC1:MARK1:Y?",
                        "gen1 SOURCE1:BB:POFF 0.00DEG",
                        "gen1 *OPC?",
                        "analyzer INIT;*WAI",
                        "analyzer CALC1:MARK1:Y?",
                        "gen1 SOURCE1:BB:POFF 120.00DEG",
                        "gen1 *OPC?",
                        "analyzer INIT;*WAI",
                        "analyzer CALC1:MARK1:Y?"};
    EXPECT_EQ(Texts(order.begin(), order.begin() + opening.size()), opening);
    // The closing setting carries one decimal.
    const std::string& closing = order[order.size() - 3];
    EXPECT_EQ(closing.rfind("gen1 SOURCE1:BB:POFF ", 0), 0u);
    EXPECT_EQ(closing.size() - closing.find('.'), 5u) << closing;
    EXPECT_EQ(Texts(order.end() - 2, order.end()), (Texts{"gen1 *OPC?", "analyzer INIT:CONT ON"}));
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen2"), Texts{"SOURCE1:BB:POFF 0.00DEG"});
    EXPECT_EQ(std::count(order.begin(), order.end(), "analyzer CALC1:MARK1:Y?"), 36);

    // Twelve stages, the step halved from 120 to 0.05859375 degrees.
    const Texts settings =
        ProcedureRig::Starting(ProcedureRig::Received(traffic, "gen1"), "SOURCE1:BB:POFF ");
    ASSERT_EQ(settings.size(), 1u + 36u + 1u);
    auto point = [&](size_t i) { return ParseLeadingDouble(settings[i].substr(16)); };
    double step = 120.0;
    for (size_t stage = 0; stage < 12; ++stage, step *= 0.5) {
        EXPECT_NEAR(std::fmod(point(2 + 3 * stage) - point(1 + 3 * stage) + 360.0, 360.0), step,
                    0.011)
            << stage;
        EXPECT_NEAR(std::fmod(point(3 + 3 * stage) - point(2 + 3 * stage) + 360.0, 360.0), step,
                    0.011)
            << stage;
    }
}

TEST(ProcedureTraffic, RotationSpreadsThePassBasesAndRfBAddressesSourceTwo) {
    for (unsigned passes : {4u, 7u}) {
        SCOPED_TRACE(passes);
        ProcedureRig rig(sim::Wiring::RfB);
        rig.Connect();
        SetupGenerators(rig.instruments, true);
        SetupAnalyzer(rig.instruments, true);
        rig.Traffic();
        double phase = 0.0;
        MeasurePhase(rig.instruments, {true, passes, true}, phase, rig.window);
        const auto traffic = rig.Traffic();
        EXPECT_EQ(ProcedureRig::Received(traffic).size(), 146u * passes + 4u);
        EXPECT_TRUE(ProcedureRig::Received(traffic, "gen2").empty());
        const Texts bases =
            ProcedureRig::Starting(ProcedureRig::Received(traffic, "gen1"), "SOURCE2:BB:POFF");
        ASSERT_EQ(bases.size(), passes);
        if (passes == 4) {
            EXPECT_EQ(bases, (Texts{"SOURCE2:BB:POFF 0.00DEG", "SOURCE2:BB:POFF 90.00DEG",
                                    "SOURCE2:BB:POFF 180.00DEG", "SOURCE2:BB:POFF 270.00DEG"}));
        } else {
            EXPECT_EQ(bases[1], "SOURCE2:BB:POFF 51.43DEG");
        }
    }
}

// Eight readings a pass in both wirings, and nothing the standard search does not send: offsets
// with two decimals (the closing one with one), *OPC?, INIT;*WAI and the marker query.
TEST(ProcedureTraffic, TheFastSearchReadsEightTimesAPassWithTheStandardCommands) {
    const std::regex allowed(
        R"((gen[12] SOURCE[12]:BB:POFF \d+\.\d\dDEG|gen1 \*OPC\?|analyzer INIT;\*WAI|)"
        R"(analyzer CALC1:MARK1:Y\?|analyzer INIT:CONT (OFF|ON)))");
    for (sim::Wiring wiring : {sim::Wiring::RfB, sim::Wiring::Two}) {
        ProcedureRig rig(wiring);
        rig.Connect();
        SetupGenerators(rig.instruments, rig.UseRfB());
        SetupAnalyzer(rig.instruments, rig.UseRfB());
        rig.Traffic();
        double phase = 0.0;
        MeasureReport report;
        MeasurePhase(rig.instruments, {rig.UseRfB(), 3, true, Search::Fast}, phase, rig.window,
                     &report);
        EXPECT_EQ(report.fellBack, 0) << report.fallBackReason;
        Texts order = ProcedureRig::Received(rig.Traffic());
        EXPECT_EQ(std::count(order.begin(), order.end(), "analyzer CALC1:MARK1:Y?"), 3 * 8);
        EXPECT_EQ(order.size(), 3u * (2u + 8u * 4u) + 4u);
        order.erase(order.end() - 3);  // the closing offset, one decimal
        for (const std::string& line : order)
            EXPECT_TRUE(std::regex_match(line, allowed)) << line;
    }
}

// A 6 dB level mismatch leaves too shallow a null for the fit: each pass searches again the
// standard way, after its eight readings, and the report counts it.
TEST(ProcedureTraffic, APassWhoseReadingsDoNotFitFallsBackToTheStandardSearch) {
    sim::BenchOptions options;
    options.physics.levelMismatchDb = 6.0;
    ProcedureRig rig(sim::Wiring::RfB, options);
    rig.Connect();
    SetupGenerators(rig.instruments, true);
    SetupAnalyzer(rig.instruments, true);
    rig.Traffic();
    double phase = 0.0;
    MeasureReport report;
    EXPECT_NE(
        MeasurePhase(rig.instruments, {true, 2, true, Search::Fast}, phase, rig.window, &report),
        kNotMeasured);
    EXPECT_EQ(report.fellBack, 2);
    EXPECT_EQ(report.fallBackReason.rfind("the null is too shallow (", 0), 0u)
        << report.fallBackReason;
    const Texts analyzer = ProcedureRig::Received(rig.Traffic(), "analyzer");
    EXPECT_EQ(std::count(analyzer.begin(), analyzer.end(), "CALC1:MARK1:Y?"), 2 * (8 + 36));
}

TEST(ProcedureTraffic, ConnectingIdentifiesAndClearsAndAFailedProbeIsAllAnInstrumentGets) {
    sim::BenchOptions options;
    options.faults.push_back({sim::InstrumentId::Analyzer, sim::FaultKind::HangAfter, 0});
    ProcedureRig rig(sim::Wiring::Two, options);
    rig.Connect();
    const auto traffic = rig.Traffic();
    const Texts sequence{"*IDN?", "*IDN?", "*CLS"};
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen1"), sequence);
    EXPECT_EQ(ProcedureRig::Received(traffic, "gen2"), sequence);
    EXPECT_EQ(ProcedureRig::Received(traffic, "analyzer"), Texts{"*IDN?"});
    EXPECT_EQ(rig.window.warnings, Texts{"Cannot read *IDN from device GPIB0::20::INSTR"});
    EXPECT_EQ(
        rig.instruments.connectionText,
        "Maltoven,VRQ200A,100023,4.70\nMaltoven,VRT100A,100057,3.20\nNo analyzer found on 20!");
    EXPECT_FALSE(rig.instruments.generator1IsVrt);
    EXPECT_TRUE(rig.instruments.generator2IsVrt);
    EXPECT_FALSE(rig.instruments.connected);
}

TEST(ProcedureTraffic,
     WithRfBGeneratorTwoIsNeverOpenedAndOtherwiseItsAbsenceLeavesTheBenchUnconnected) {
    for (const bool rfB : {true, false}) {
        sim::BenchOptions options;
        if (!rfB)
            options.faults.push_back({sim::InstrumentId::Generator2, sim::FaultKind::Refuse, 0});
        ProcedureRig rig(rfB ? sim::Wiring::RfB : sim::Wiring::Two, options);
        rig.Connect();
        EXPECT_EQ(ProcedureRig::Received(rig.Traffic(), "gen2"), Texts{}) << rfB;
        EXPECT_EQ(rig.instruments.generator2 != nullptr, !rfB);
        EXPECT_EQ(rig.instruments.connected, rfB);
    }
}

TEST(ProcedureTraffic, TheAnalyzerBandwidthFollowsTheGeneratorLevel) {
    const struct {
        const char *level, *rlev, *bandwidth;
    } cases[] = {{"-49.9", "DISP:WIND:TRAC:Y:RLEV -49.900000dBm", "BAND:RES 1000"},
                 {"-50", "DISP:WIND:TRAC:Y:RLEV -50.000000dBm", "BAND:RES 100"},
                 {"-70", "DISP:WIND:TRAC:Y:RLEV -70.000000dBm", "BAND:RES 10"}};
    ProcedureRig rig(sim::Wiring::RfB);
    rig.Connect();
    for (const auto& [level, rlev, bandwidth] : cases) {
        SCOPED_TRACE(level);
        rig.instruments.generator1->Write(std::string("SOURCE1:POW:POW ") + level);
        rig.Traffic();
        SetupAnalyzer(rig.instruments, true);
        const Texts analyzer = ProcedureRig::Received(rig.Traffic(), "analyzer");
        ASSERT_EQ(analyzer.size(), 9u);
        EXPECT_EQ(analyzer[0], "*RST");
        EXPECT_EQ(analyzer[1].substr(0, 10), "FREQ:CENT ");
        EXPECT_EQ(analyzer[5], rlev);
        EXPECT_EQ(analyzer[6], bandwidth);
    }
}

TEST(ProcedureTraffic, GeneratorSetupChoosesTheListDirectoryByModel) {
    const std::string vrq = "MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'";
    sim::BenchOptions options;
    options.idnGenerator1 = "Maltoven,VRTK200,100099,1.10";
    ProcedureRig two(sim::Wiring::Two, options);
    two.Connect();
    two.Traffic();
    SetupGenerators(two.instruments, false);
    const auto traffic = two.Traffic();
    const Texts gen1 = ProcedureRig::Received(traffic, "gen1"),
                gen2 = ProcedureRig::Received(traffic, "gen2");
    EXPECT_EQ(ProcedureRig::Starting(gen1, "MMEM:CDIR"), Texts{"MMEM:CDIR '/var/vrtk/Lists'"});
    EXPECT_EQ(ProcedureRig::Starting(gen2, "MMEM:CDIR"), Texts{vrq});

    // One generator: the default directory whatever its model, and both paths played.
    ProcedureRig rfb(sim::Wiring::RfB, options);
    rfb.Connect();
    rfb.Traffic();
    SetupGenerators(rfb.instruments, true);
    const Texts one = ProcedureRig::Received(rfb.Traffic(), "gen1");
    ASSERT_EQ(one.size(), 15u);
    EXPECT_EQ(one[3], vrq);
    EXPECT_EQ(one[4].substr(0, 19), "MMEM:DATA 'dc.wv',#");
    EXPECT_EQ(
        Texts(one.begin() + 5, one.end()),
        (Texts{"SOURCE1:BB:ARB:WAV:SEL 'dc.wv'", "SOURCE1:BB:ARB:STAT ON",
               "SOURCE2:BB:ARB:WAV:SEL 'dc.wv'", "SOURCE2:BB:ARB:STAT ON", "SOURCE1:IQ:STAT ON",
               "SOURCE2:IQ:STAT ON", "SOURCE1:POW 0", "SOURCE2:POW 0", "OUTP1 ON", "OUTP2 ON"}));
}

TEST(ProcedureTraffic, AMissingWaveformEndsTheSetupAtTheTransferWithAnErrorBox) {
    ProcedureRig rig(sim::Wiring::RfB);
    std::filesystem::remove("dc.wv");
    MemorySettingsStore store;
    MeasurementCore core(store, rig.window);
    core.ConnectInstruments();
    ASSERT_TRUE(core.IsConnected());
    rig.Traffic();
    core.SetupGenerators();
    EXPECT_EQ(ProcedureRig::Received(rig.Traffic(), "gen1"),
              (Texts{"*RST", "*OPC?", "SOURCE1:FREQ:LOSC:MODE COUPLED",
                     "MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'"}));
    ASSERT_EQ(rig.window.errors.size(), 1u);
    EXPECT_NE(rig.window.errors[0].find("dc.wv"), std::string::npos);
    EXPECT_NE(rig.window.errors[0].find("No such file"), std::string::npos);
    EXPECT_TRUE(core.IsConnected());  // the program goes on
}

// The fast search fails alike and does not fall back: its readings are stale, not off the curve.
TEST(ProcedureTraffic, ASessionFailingMidMeasurementShowsOneBoxGoesOnAndGivesNoResult) {
    for (auto [search, gen1Lines] :
         {std::pair{Search::Standard, 2u + 72u + 2u}, {Search::Fast, 2u + 16u + 2u}}) {
        sim::BenchOptions options;
        // The analyzer drops its link after its first marker query of the measurement (message 15:
        // three at connecting, nine in the set-up, INIT:CONT OFF, INIT;*WAI, CALC1:MARK1:Y?).
        options.faults.push_back({sim::InstrumentId::Analyzer, sim::FaultKind::DropAfter, 15});
        ProcedureRig rig(sim::Wiring::RfB, options);
        rig.Connect();
        SetupAnalyzer(rig.instruments, true);
        rig.Traffic();
        double phase = 123.0;
        MeasureReport report;
        EXPECT_EQ(
            MeasurePhase(rig.instruments, {true, 1, false, search}, phase, rig.window, &report),
            kNotMeasured);
        EXPECT_EQ(report.fellBack, 0);
        EXPECT_EQ(phase, 123.0);
        EXPECT_EQ(report.failure, "the session to GPIB0::20::INSTR failed");
        EXPECT_EQ(rig.window.warnings, Texts{"Cannot read from device GPIB0::20::INSTR"});
        const auto traffic = rig.Traffic();
        EXPECT_EQ(ProcedureRig::Received(traffic, "analyzer").size(), 3u);
        EXPECT_EQ(ProcedureRig::Received(traffic, "gen1").size(), gen1Lines);  // the rest goes on
    }
}

// KORVEL_TRACE against the bench's own log: the same lines, resource strings for instrument
// names, replies read in pieces traced whole, and a failed open or read named.
TEST(ProcedureTraffic, KorvelsTraceOfGetPhaseSingleIsTheBenchsLogLineForLine) {
    const struct {
        const char* name;
        std::vector<sim::Fault> faults;
        const char* failure;  // the trace lines that the log lacks
        size_t logged;        // at least this many lines: the measurement ran
    } cases[] = {
        {"clean", {}, nullptr, 150},
        {"huge replies",
         {{sim::InstrumentId::Analyzer, sim::FaultKind::HugeReply, 0}},
         nullptr,
         150},
        {"dropped",
         {{sim::InstrumentId::Analyzer, sim::FaultKind::DropAfter, 15}},
         "GPIB0::20::INSTR ! read failed: VI_ERROR_CONN_LOST",
         80},
        {"refused",
         {{sim::InstrumentId::Analyzer, sim::FaultKind::Refuse, 0}},
         "GPIB0::20::INSTR ! open failed: VI_ERROR_RSRC_NFOUND",
         10},
    };
    const std::map<std::string, std::string> names{{"GPIB0::28::INSTR", "gen1"},
                                                   {"GPIB0::27::INSTR", "gen2"},
                                                   {"GPIB0::20::INSTR", "analyzer"}};
    // "<seconds, six decimals> <name> <direction> <text>". Only the time goes through std::regex:
    // its recursive matcher overflows the stack on the 20,000-byte replies.
    const std::regex time(R"(\d+\.\d{6})");
    auto read = [&](const std::filesystem::path& path, bool mapped) {
        Texts lines;
        std::ifstream in(path, std::ios::binary);
        for (std::string text; std::getline(in, text);) {
            const size_t a = text.find(' ');
            const size_t b = a == std::string::npos ? a : text.find(' ', a + 1);
            const std::string rest = b == std::string::npos ? "" : text.substr(b + 1);
            if (b == std::string::npos || !std::regex_match(text.substr(0, a), time) ||
                rest.size() < 2 || std::string("<>!").find(rest[0]) == std::string::npos ||
                rest[1] != ' ') {
                ADD_FAILURE() << text.substr(0, 200);
                continue;
            }
            const std::string name = text.substr(a + 1, b - a - 1);
            lines.push_back((mapped && names.count(name) ? names.at(name) : name) + " " + rest);
        }
        return lines;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::BenchOptions options;
        options.faults = c.faults;
        ProcedureRig rig(sim::Wiring::RfB, options);
        const std::filesystem::path trace = rig.Directory() / "korvel.trace";
        ::setenv("KORVEL_TRACE", trace.string().c_str(), 1);
        MemorySettingsStore store;
        MeasurementCore core(store, rig.window);
        core.ConnectInstruments();
        core.SetupGenerators();
        core.OnGetPhaseSingle();
        ::unsetenv("KORVEL_TRACE");
        Texts traced = read(trace, true);  // with the sessions still open: each line is on disk
        const Texts logged = read(rig.Directory() / "traffic.log", false);
        ASSERT_GE(logged.size(), c.logged);
        Texts failures;
        for (const std::string& text : read(trace, false)) {
            if (text.find(" ! ") != std::string::npos)
                failures.push_back(text);
        }
        std::erase_if(
            traced, [](const std::string& text) { return text.find(" ! ") != std::string::npos; });
        EXPECT_EQ(failures.empty(), !c.failure);
        for (const std::string& failure : failures)
            EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(traced, logged);
    }
}

TEST(GetPhaseSingle, RefusesACountOutsideOneToHundredSendsNothingAndTheRefusalGoesWithASuccess) {
    ProcedureRig rig(sim::Wiring::RfB);
    MemorySettingsStore store;
    MeasurementCore core(store, rig.window);
    core.ConnectInstruments();
    ASSERT_TRUE(core.IsConnected());
    rig.Traffic();
    for (std::uint32_t bad : {0u, 101u, 4294967295u}) {
        core.Settings().Average = bad;
        const double previous = core.PhaseResult();
        core.OnGetPhaseSingle();
        EXPECT_TRUE(rig.Traffic().empty()) << bad;
        EXPECT_EQ(core.PhaseResult(), previous);
        EXPECT_EQ(core.StatusText(), "No measurement: Avg. must be a whole number from 1 to 100.");
    }
    // A later measurement or level adjustment that succeeds removes the failure text, and only it.
    core.Settings().Average = 1;
    core.OnGetPhaseSingle();
    EXPECT_EQ(core.StatusText(), "");
    core.Settings().Average = 0;
    core.OnGetPhaseSingle();
    core.OnAdjustLevels();
    EXPECT_EQ(core.StatusText(), "");
    core.Settings().Average = 0;
    core.OnGetPhaseSingle();
    core.OnStop();  // a text of its own over the refusal
    core.Settings().Average = 1;
    core.OnGetPhaseSingle();
    EXPECT_EQ(core.StatusText(), kContinuousFileWritten);
}

}  // namespace
