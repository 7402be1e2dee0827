#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "MeasurePhase.h"
#include "NumberText.h"
#include "ProcedureRig.h"
#include "SetupAnalyzer.h"
#include "SetupGenerators.h"

namespace {

double CircleDistance(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

class WorkIn {
public:
    explicit WorkIn(const std::filesystem::path& path) : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
        sim::WriteWaveformFile("dc.wv", nullptr);
    }
    ~WorkIn() { std::filesystem::current_path(m_previous); }

private:
    std::filesystem::path m_previous;
};

// Tunes the bench as a sweep step does.
void Tune(ProcedureRig& rig, double frequencyHz, double levelDbm) {
    const std::string frequency = "FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?";
    const std::string level = FormatFixed(levelDbm, 1) + ";*OPC?";
    rig.instruments.generator1->Query(frequency);
    rig.instruments.generator1->Query("SOURCE1:POW:POW " + level);
    if (rig.UseRfB()) {
        rig.instruments.generator1->Query("SOURCE2:POW:POW " + level);
    } else {
        rig.instruments.generator2->Query(frequency);
        rig.instruments.generator2->Query("SOURCE1:POW:POW " + level);
    }
}

// A frequency near start at which the truth lies just below 360, halfway between the last two
// points of the search grid (its finest step is 0.05859375 degrees), so that the passes of a
// measurement end on either side of the wrap. Generator 1 must be on the external reference
// first, or its paths are not coherent.
double FrequencyWithTruthNearZero(ProcedureRig& rig, double startHz, double levelDbm) {
    const double target = 360.0 - 0.05859375 / 2;
    rig.instruments.generator1->Write("SOUR:ROSC:SOUR EXT");
    auto distance = [&](double f) {
        Tune(rig, f, levelDbm);
        return CircleDistance(rig.bench->TruthPhaseDeg(), target);
    };
    double f = startHz;
    while (distance(f) > 0.2 && f < startHz + 400e6) f += 100e3;
    double best = f;
    for (double g = f - 200e3; g <= f + 200e3; g += 2e3) {
        if (distance(g) < distance(best)) best = g;
    }
    const double coarse = best;
    for (double g = coarse - 2e3; g <= coarse + 2e3; g += 50.0) {
        if (distance(g) < distance(best)) best = g;
    }
    return best;
}

TEST(PhaseAccuracy, MeasuredPhaseMatchesTheTruthInBothWirings) {
    std::mt19937 random(20261206);
    std::printf("%-6s %14s %8s %4s %10s %10s %8s %12s\n", "wiring", "MHz", "dBm", "N", "truth", "measured", "error",
                "plain mean");
    int straddled = 0;
    for (sim::Wiring wiring : {sim::Wiring::RfB, sim::Wiring::Two}) {
        ProcedureRig rig(wiring);
        WorkIn dir(rig.Directory());
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
            points.push_back({std::uniform_real_distribution<double>(10e6, 2000e6)(random),
                              std::round(std::uniform_real_distribution<double>(-40.0, 0.0)(random)), false});
        }
        points.push_back({500e6, -10.0, true});
        points.push_back({1500e6, -20.0, true});

        for (const Point& point : points) {
            for (unsigned passes : {1u, 8u}) {
                const double frequencyHz =
                    point.nearZero ? FrequencyWithTruthNearZero(rig, point.frequencyHz, point.levelDbm) : point.frequencyHz;
                const double levelDbm = point.levelDbm;
                Tune(rig, frequencyHz, levelDbm);
                SetupAnalyzer(rig.instruments, rig.UseRfB());
                double phase = 0.0;
                MeasureReport report;
                const double measured =
                    MeasurePhase(rig.instruments, {rig.UseRfB(), passes, passes > 1}, phase, rig.window, &report);
                const double truth = rig.bench->TruthPhaseDeg();
                double plain = 0.0;
                for (double d : report.passDifferencesDeg) plain += d;
                plain /= passes;
                const double error = CircleDistance(measured, truth);
                std::printf("%-6s %14.6f %8.1f %4u %10.3f %10.3f %8.3f %12.3f\n", rig.UseRfB() ? "rfb" : "two",
                            frequencyHz / 1e6, levelDbm, passes, truth, measured, error, plain);
                EXPECT_LE(error, passes == 1 ? 0.1 : 0.05) << frequencyHz << " Hz, " << levelDbm << " dBm";
                // Where the passes fall on both sides of 0/360 a plain mean lands near the opposite phase.
                const bool bothSides =
                    std::any_of(report.passDifferencesDeg.begin(), report.passDifferencesDeg.end(), [](double d) { return d > 180; }) &&
                    std::any_of(report.passDifferencesDeg.begin(), report.passDifferencesDeg.end(), [](double d) { return d < 180; });
                if (bothSides && CircleDistance(truth, 0.0) < 0.2) {
                    ++straddled;
                    EXPECT_GT(CircleDistance(plain, truth), 10.0);
                }
            }
        }
    }
    EXPECT_GT(straddled, 0) << "no measurement near 0/360 had passes on both sides of the wrap";
}

}  // namespace
