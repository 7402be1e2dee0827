#include <gtest/gtest.h>

#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"

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

}  // namespace
