// The phase measurement against the truth the bench knows, in both wirings, near the 0/360 wrap,
// and with the oscillators left uncoupled.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ProcedureRig.h"
#include "instrument/NumberText.h"
#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"

using namespace korvel;

namespace {

TEST(PhaseAccuracy, MeasuredPhaseMatchesTheTruthInBothWiringsOnlyWithCoupledOscillators) {
    std::mt19937 random(20261206);
    int straddled = 0;
    for (sim::Wiring wiring : {sim::Wiring::RfB, sim::Wiring::Two}) {
        ProcedureRig rig(wiring);
        rig.Connect();
        ASSERT_TRUE(rig.instruments.connected);
        SetupGenerators(rig.instruments, rig.UseRfB());
        // Random points, and two whose truth is searched near 0/360 right before each measurement
        // (the generators warm up, so the truth drifts a little while the bench runs).
        struct Point {
            double frequencyHz;
            double levelDbm;
            bool nearZero;
        };
        std::vector<Point> points;
        for (int i = 0; i < 4; ++i) {
            points.push_back(
                {std::uniform_real_distribution<double>(10e6, 2000e6)(random),
                 std::round(std::uniform_real_distribution<double>(-40.0, 0.0)(random)), false});
        }
        points.push_back({500e6, -10.0, true});
        points.push_back({1500e6, -20.0, true});

        for (const Point& point : points) {
            for (auto [passes, search] : {std::pair{1u, Search::Standard},
                                          {8u, Search::Standard},
                                          {1u, Search::Fast},
                                          {8u, Search::Fast}}) {
                const double frequencyHz =
                    point.nearZero
                        ? FrequencyWithTruthNearZero(rig, point.frequencyHz, point.levelDbm)
                        : point.frequencyHz;
                const double levelDbm = point.levelDbm;
                rig.Tune(frequencyHz, levelDbm);
                SetupAnalyzer(rig.instruments, rig.UseRfB());
                double phase = 0.0;
                MeasureReport report;
                const double measured =
                    MeasurePhase(rig.instruments, {rig.UseRfB(), passes, passes > 1, search}, phase,
                                 rig.window, &report);
                const double truth = rig.bench->TruthPhaseDeg();
                double plain = 0.0;
                for (double d : report.passDifferencesDeg)
                    plain += d;
                plain /= passes;
                // The fit is bound by no step: its error is the result's rounding and the
                // offsets' two decimals.
                const double bound = search == Search::Fast ? 0.01 : passes == 1 ? 0.1 : 0.05;
                EXPECT_LE(CircleDistance(measured, truth), bound)
                    << frequencyHz << " Hz, " << levelDbm << " dBm";
                EXPECT_EQ(report.fellBack, 0) << report.fallBackReason;
                // Where the passes fall on both sides of 0/360 a plain mean lands near the opposite
                // phase.
                const bool bothSides =
                    std::any_of(report.passDifferencesDeg.begin(), report.passDifferencesDeg.end(),
                                [](double d) { return d > 180; }) &&
                    std::any_of(report.passDifferencesDeg.begin(), report.passDifferencesDeg.end(),
                                [](double d) { return d < 180; });
                if (bothSides && CircleDistance(truth, 0.0) < 0.2) {
                    ++straddled;
                    EXPECT_GT(CircleDistance(plain, truth), 10.0);
                }
            }
        }
        // With the coupling undone the second path runs on its own oscillator: no two
        // measurements agree.
        (rig.UseRfB() ? rig.instruments.generator1 : rig.instruments.generator2)
            ->Write("SOURCE1:FREQ:LOSC:MODE INT");
        double uncoupled[2];
        for (double& measured : uncoupled) {
            rig.Tune(500e6, -10.0);
            SetupAnalyzer(rig.instruments, rig.UseRfB());
            double phase = 0.0;
            measured = MeasurePhase(rig.instruments, {rig.UseRfB(), 1, false}, phase, rig.window);
        }
        EXPECT_GT(CircleDistance(uncoupled[0], uncoupled[1]), 1.0);
    }
    EXPECT_GT(straddled, 0) << "no measurement near 0/360 had passes on both sides of the wrap";
}

}  // namespace
