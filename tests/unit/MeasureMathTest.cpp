#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "measure/MeasurePhase.h"
#include "measure/NullFit.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"
#include "tests/support/TestSupport.h"

using namespace korvel;

namespace {

TEST(MeasureMath, TheMeanOfDifferencesIsTakenOnTheCircleAndIsExactAwayFromTheWrap) {
    EXPECT_NEAR(MeanOfDifferences({359.9, 0.1}), 0.0, 1e-9);
    EXPECT_NEAR(MeanOfDifferences({0.1, 359.9}), 0.0, 1e-9);
    EXPECT_NEAR(MeanOfDifferences({359.0, 0.5, 359.5}), 359.666666666667, 1e-9);
    EXPECT_EQ(MeanOfDifferences({12.0, 14.5, 13.25}), (12.0 + 14.5 + 13.25) / 3);
    EXPECT_EQ(MeanOfDifferences({100.0, 250.0}), 175.0);
}

TEST(MeasureMath, ThePhaseIsRoundedHalfUpToThreeDecimalsAnd360IsZero) {
    EXPECT_NEAR(RoundPhase(12.3456), 12.346, 1e-12);
    EXPECT_NEAR(RoundPhase(12.3454), 12.345, 1e-12);
    EXPECT_EQ(RoundPhase(359.9996), 0.0);
    EXPECT_NEAR(RoundPhase(359.9994), 359.999, 1e-9);
}

// The other edges (-49.9, -50, -70 dBm; the directory per model) show in the procedure traffic.
TEST(MeasureMath, EdgesOfTheBandwidthAndListDirectoryChoices) {
    EXPECT_STREQ(ResolutionBandwidthCommand(-69.9), "BAND:RES 100");
    EXPECT_STREQ(ListDirectory("VRTK,1"), "C:\\Program Files\\Maltoven\\VRQFirmware\\Lists");
}

// Two carriers of amplitude 1 and `second` (mW^0.5) beating, plus a floor (mW) that may
// fluctuate by a fraction, plus multiplicative reading noise (dB rms).
struct Bench {
    double nullDeg, second = 1.0, floorMw = 1e-9, floorSpread = 0.0, noiseDb = 0.0;
    std::mt19937 random{7};
    double operator()(double offsetDeg) {
        std::normal_distribution<double> unit;
        const double angle = (offsetDeg - nullDeg) * std::numbers::pi / 180.0;
        const double floor = floorMw * std::max(0.05, 1.0 + floorSpread * unit(random));
        const double mw = 1.0 + second * second - 2.0 * second * std::cos(angle) + floor;
        return 10.0 * std::log10(mw) + noiseDb * unit(random);
    }
};

TEST(NullFit, ThreeReadingsRoundTheCircleGiveTheNullInClosedFormAcrossTheWrap) {
    for (double truth : {0.0, 0.004, 123.456, 359.996}) {
        Bench bench{truth, 0.8};
        const NullFit fit =
            FitNull({{10.0, bench(10.0)}, {130.0, bench(130.0)}, {250.0, bench(250.0)}});
        EXPECT_TRUE(fit.fits) << fit.why;
        EXPECT_NEAR(CircleDistance(fit.nullDeg, truth), 0.0, 1e-9) << truth;
        EXPECT_GE(fit.nullDeg, 0.0);
        EXPECT_LT(fit.nullDeg, 360.0);
    }
}

TEST(NullFit, ASearchTakesEightReadingsAsSentAndFindsTheNullNearTheWrap) {
    for (double base : {0.0, 315.0}) {
        for (double truth : {0.003, 359.997, 180.0}) {
            Bench bench{truth};
            std::vector<NullReading> readings;
            const NullFit fit = FastNullSearch(base, std::ref(bench), &readings);
            EXPECT_TRUE(fit.fits) << fit.why;
            EXPECT_LT(CircleDistance(fit.nullDeg, truth), 1e-4) << base << " " << truth;
            ASSERT_EQ(readings.size(), 8u);
            for (const NullReading& r : readings) {
                EXPECT_EQ(r.offsetDeg, std::round(r.offsetDeg * 100.0) / 100.0);
                EXPECT_TRUE(r.offsetDeg >= 0.0 && r.offsetDeg <= 360.0) << r.offsetDeg;
            }
        }
    }
}

// Worst error over seeded trials, and how many fell back.
TEST(NullFit, NoisyBenchesGiveTheNullOrFallBack) {
    struct Case {
        double second, floorMw, floorSpread, noiseDb, worstDeg;
        int fallBacksAtMost;
    } cases[]{
        {0.891, 1e-9, 0.0, 0.05, 0.15, 20},  // 1 dB level mismatch
        {1.0, 1e-9, 0.0, 0.1, 0.02, 0},      // reading noise alone
        {1.0, 1e-4, 0.2, 0.02, 0.1, 10},     // the null in a fluctuating floor
        {1.0, 3e-3, 0.5, 0.02, 0.5, 100},    // the same, louder: loose
        {0.7, 1e-9, 0.0, 0.05, 0.3, 100},    // 3 dB level mismatch: shallow
        {0.5, 1e-9, 0.0, 0.05, 0.0, 100},    // 6 dB: no contrast
    };
    for (const Case& c : cases) {
        std::mt19937 random(20261207);
        double worst = 0.0;
        int fallBacks = 0;
        for (int trial = 0; trial < 100; ++trial) {
            Bench bench{std::uniform_real_distribution<double>(0.0, 360.0)(random), c.second,
                        c.floorMw, c.floorSpread, c.noiseDb};
            bench.random.seed(trial);
            const NullFit fit = FastNullSearch(trial * 3.6, std::ref(bench));
            if (fit.fits)
                worst = std::max(worst, CircleDistance(fit.nullDeg, bench.nullDeg));
            else
                ++fallBacks;
        }
        EXPECT_LE(worst, c.worstDeg) << c.second << " " << c.floorMw << " " << c.noiseDb;
        EXPECT_LE(fallBacks, c.fallBacksAtMost) << c.second << " " << c.floorMw;
    }
}

TEST(NullFit, EachTriggerOfTheFallBackIsNamed) {
    Bench bench{200.0};
    std::vector<NullReading> readings;
    EXPECT_TRUE(FastNullSearch(0.0, std::ref(bench), &readings).fits);
    // A reading that is a number, but far off the curve.
    for (size_t i : {0u, 4u, 7u}) {
        std::vector<NullReading> glitched = readings;
        glitched[i].dbm += 3.0;
        EXPECT_NE(FitNull(glitched).why.find("dB off the curve"), std::string::npos) << i;
    }
    bench.second = 0.6;
    EXPECT_EQ(FastNullSearch(0.0, std::ref(bench)).why.rfind("the null is too shallow", 0), 0u);
    EXPECT_EQ(FitNull({{0.0, -10.0}, {0.0, -20.0}, {0.0, -30.0}}).why,
              "the readings do not determine the curve");
    EXPECT_EQ(FitNull({{0.0, -10.0}, {120.0, -40.0}}).why, "too few readings");
}

}  // namespace
