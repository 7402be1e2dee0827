// The bench physics as a phase measurement meets it: a minimum search finds the truth, and only
// when the generators are set up as the program sets them up.
#include <gtest/gtest.h>

#include <chrono>

#include "ProgramSequences.h"

using sim::InstrumentId;
using sim::Wiring;

namespace sim {
void PrintTo(Wiring wiring, std::ostream* os) { *os << (wiring == Wiring::RfB ? "rfb" : "two"); }
}  // namespace sim

namespace {

class MinimumSearch : public ::testing::TestWithParam<Wiring> {};

TEST_P(MinimumSearch, FindsTheTruthWithinATenthOfADegree) {
    WorkingDirectory directory;
    BenchRig rig(FastBench(GetParam()));
    BenchSessions s(rig);
    SetupGenerators(s);
    struct Point {
        double frequencyHz, levelDbm, secondOffsetDeg;
    } points[] = {{10e6, 0.0, 0.0}, {1234.5e6, -10.0, 77.7}, {2e9, -60.0, 300.0}};
    for (const Point& p : points) {
        SCOPED_TRACE(p.frequencyHz);
        TuneGenerators(s, p.frequencyHz, p.levelDbm);
        SetupAnalyzer(s);
        const double measured = SearchMinimumDeg(s, p.secondOffsetDeg);
        const double truth = Number(s.analyzer->Query("SIM:CANC:PHAS?"));
        EXPECT_LT(AngleDistanceDeg(measured, truth), 0.1) << "measured " << measured << ", truth " << truth;
        EXPECT_NEAR(rig.bench.TruthPhaseDeg(), truth, 1e-5);
    }
}

TEST_P(MinimumSearch, DoesNotSettleWithTheOscillatorsLeftUncoupled) {
    WorkingDirectory directory;
    BenchRig rig(FastBench(GetParam()));
    BenchSessions s(rig);
    SetupGenerators(s, /*coupleLo=*/false);
    TuneGenerators(s, 1e9, 0.0);
    SetupAnalyzer(s);
    if (s.rfB) s.gen1->Write("SOURCE2:FREQ 1000000000");  // same frequency, own synthesizer
    double results[3];
    for (double& result : results) result = SearchMinimumDeg(s);
    // Settled searches agree to a few hundredths of a degree (see above).
    for (int i = 0; i < 2; ++i) EXPECT_GT(AngleDistanceDeg(results[i], results[i + 1]), 1.0);
}

INSTANTIATE_TEST_SUITE_P(BothWirings, MinimumSearch, ::testing::Values(Wiring::RfB, Wiring::Two),
                         [](const auto& info) { return info.param == Wiring::RfB ? "RfB" : "TwoGenerators"; });

TEST(BenchPhysics, TheSeedDecidesEveryReading) {
    auto readings = [](std::uint64_t seed) {
        WorkingDirectory directory;
        sim::BenchOptions options = FastBench(Wiring::Two);
        options.seed = seed;
        BenchRig rig(options);
        BenchSessions s(rig);
        SetupGenerators(s, false);
        SetupAnalyzer(s);
        s.analyzer->Write("INIT:CONT OFF");
        std::vector<std::string> replies;
        for (int i = 0; i < 5; ++i) replies.push_back(s.analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?"));
        return replies;
    };
    EXPECT_EQ(readings(7), readings(7));
    EXPECT_NE(readings(7), readings(8));
}

TEST(BenchPhysics, FastModeNeverWaitsAndRealisticModeDoes) {
    WorkingDirectory directory;
    BenchRig rig;
    BenchSessions s(rig);
    SetupGenerators(s);
    TuneGenerators(s, 1e9, -80.0);
    SetupAnalyzer(s);  // RBW 10 Hz
    const auto wallStart = std::chrono::steady_clock::now();
    const double benchStartS = rig.bench.NowS();
    s.analyzer->Write("INIT:CONT OFF");
    for (int i = 0; i < 36; ++i) ReadMarkerDbm(*s.analyzer);
    EXPECT_GT(rig.bench.NowS() - benchStartS, 36.0);  // seconds of sweeping on a real bench
    EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::seconds(2));

    sim::BenchOptions realistic = FastBench();
    realistic.speed = sim::Speed{false, 1.0};
    BenchRig realRig(realistic);
    std::unique_ptr<CVisaDevice> analyzer = realRig.Open(InstrumentId::Analyzer);
    analyzer->Write("INIT:CONT OFF;:SWE:TIME 0.3");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(analyzer->Query("INIT;*WAI;*OPC?"), "1");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

// The documented physics defaults as the program meets them (korvel-sim --help pins the numbers).
TEST(BenchPhysics, DefaultsAreThoseOfTheRealBench) {
    WorkingDirectory directory;
    sim::BenchOptions options = FastBench();
    BenchRig rig(options);
    BenchSessions s(rig);
    SetupGenerators(s);
    TuneGenerators(s, 1e9, 0.0);
    SetupAnalyzer(s);
    s.analyzer->Write("INIT:CONT OFF");

    // Depth of cancellation at the truth: 0 dBm carriers 0.05 dB apart leave 20 log10(10^(0.05/20) - 1).
    const double truth = Number(s.analyzer->Query("SIM:CANC:PHAS?"));
    s.gen1->Query("SOURCE1:BB:POFF " + FormatFixed(truth, 6) + ";*OPC?");
    double sum = 0.0, sumSquares = 0.0;
    for (int i = 0; i < 200; ++i) {
        const double reading = ReadMarkerDbm(*s.analyzer);
        sum += reading;
        sumSquares += reading * reading;
    }
    const double mean = sum / 200, rms = std::sqrt(sumSquares / 200 - mean * mean);
    EXPECT_NEAR(mean, 20.0 * std::log10(std::pow(10.0, 0.05 / 20.0) - 1.0), 0.01);
    EXPECT_NEAR(rms, 0.02, 0.004);
    // Noise floor in 1 kHz: -174 dBm/Hz + 24 dB + 30 dB.
    s.gen1->Write("OUTP1 OFF;OUTP2 OFF");
    EXPECT_NEAR(ReadMarkerDbm(*s.analyzer), -120.0, 0.1);
    // 3.7 ns: the truth turns by -1.332 degrees per MHz.
    const double before = rig.bench.TruthPhaseDeg();
    s.gen1->Query("FREQ 1001000000;*OPC?");
    EXPECT_NEAR(std::remainder(rig.bench.TruthPhaseDeg() - before, 360.0), -1.332, 0.01);
}

TEST(BenchPhysics, TruthDriftsAsTheGeneratorsWarmUp) {
    WorkingDirectory directory;
    BenchRig rig(FastBench(Wiring::Two));
    BenchSessions s(rig);
    SetupGenerators(s);
    SetupAnalyzer(s);
    const double before = rig.bench.TruthPhaseDeg();
    const double warmedK = rig.bench.TemperatureC(InstrumentId::Generator2);
    rig.bench.Idle(1800.0);
    const double drift = std::remainder(rig.bench.TruthPhaseDeg() - before, 360.0);
    EXPECT_NEAR(drift, 0.12 * (rig.bench.TemperatureC(InstrumentId::Generator2) - warmedK), 1e-6);
    EXPECT_GT(drift, 1.0);
    // A measurement after the warm-up still finds the truth of the moment.
    EXPECT_LT(AngleDistanceDeg(SearchMinimumDeg(s), rig.bench.TruthPhaseDeg()), 0.1);
}

}  // namespace
