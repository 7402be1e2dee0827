// The bench physics as a measurement meets it: what the numbers do on the bench, its clock and
// its seed. That a minimum search finds the truth, and only with coupled oscillators, is shown by
// the procedure tests with the program's own measurement.
#include <gtest/gtest.h>

#include <chrono>

#include "BenchRig.h"

using sim::InstrumentId;

namespace {

TEST(BenchPhysics, TheSeedDecidesEveryReading) {
    auto readings = [](std::uint64_t seed) {
        sim::BenchOptions options = FastBench(sim::Wiring::Two);
        options.seed = seed;
        BenchRig rig(options);
        std::unique_ptr<CVisaDevice> analyzer = rig.Open(InstrumentId::Analyzer);
        analyzer->Write("FREQ:SPAN 50Hz;:CALC1:MARK1:X 1000000000;:INIT:CONT OFF");
        std::vector<std::string> replies;
        for (int i = 0; i < 5; ++i)
            replies.push_back(analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?"));
        return replies;
    };
    EXPECT_EQ(readings(7), readings(7));
    EXPECT_NE(readings(7), readings(8));
}

// Fast mode skips the waits (bench time still advances, as the analyzer model test shows).
TEST(BenchPhysics, RealisticModeWaitsForTheSweep) {
    sim::BenchOptions realistic = FastBench();
    realistic.speed = sim::Speed{false, 1.0};
    BenchRig rig(realistic);
    std::unique_ptr<CVisaDevice> analyzer = rig.Open(InstrumentId::Analyzer);
    analyzer->Write("INIT:CONT OFF;:SWE:TIME 0.3");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(analyzer->Query("INIT;*WAI;*OPC?"), "1");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

// The documented physics defaults as the program meets them (korvel-sim --help pins the numbers).
TEST(BenchPhysics, DefaultsAreThoseOfTheRealBench) {
    WorkingDirectory directory;
    BenchRig rig;
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1),
                                 analyzer = rig.Open(InstrumentId::Analyzer);
    PlayBothPaths(*gen, 1e9, 0.0);
    analyzer->Write(
        "FREQ:CENT 1000000000;SPAN 50Hz;:BAND:RES 1000;:CALC1:MARK1:X 1000000000;:INIT:CONT OFF");

    // Depth of cancellation at the truth: 0 dBm carriers 0.05 dB apart leave 20 log10(10^(0.05/20)
    // - 1).
    const double truth = Number(analyzer->Query("SIM:CANC:PHAS?"));
    EXPECT_NEAR(rig.bench.TruthPhaseDeg(), truth, 1e-5);
    gen->Query("SOURCE1:BB:POFF " + FormatFixed(truth, 6) + ";*OPC?");
    double sum = 0.0, sumSquares = 0.0;
    for (int i = 0; i < 200; ++i) {
        const double reading = Number(analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?"));
        sum += reading;
        sumSquares += reading * reading;
    }
    const double mean = sum / 200, rms = std::sqrt(sumSquares / 200 - mean * mean);
    EXPECT_NEAR(mean, 20.0 * std::log10(std::pow(10.0, 0.05 / 20.0) - 1.0), 0.01);
    EXPECT_NEAR(rms, 0.02, 0.004);
    // Noise floor in 1 kHz: -174 dBm/Hz + 24 dB + 30 dB.
    gen->Write("OUTP1 OFF;OUTP2 OFF");
    EXPECT_NEAR(Number(analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?")), -120.0, 0.1);
    // 3.7 ns: the truth turns by -1.332 degrees per MHz.
    const double before = rig.bench.TruthPhaseDeg();
    gen->Query("FREQ 1001000000;*OPC?");
    EXPECT_NEAR(std::remainder(rig.bench.TruthPhaseDeg() - before, 360.0), -1.332, 0.01);
    // 0.12 degrees per kelvin as the generator warms up.
    const double warmingFrom = rig.bench.TruthPhaseDeg(),
                 warmedC = rig.bench.TemperatureC(InstrumentId::Generator1);
    rig.bench.Idle(1800.0);
    const double drift = std::remainder(rig.bench.TruthPhaseDeg() - warmingFrom, 360.0);
    EXPECT_NEAR(drift, 0.12 * (rig.bench.TemperatureC(InstrumentId::Generator1) - warmedC), 1e-6);
    EXPECT_GT(drift, 1.0);
}

}  // namespace
