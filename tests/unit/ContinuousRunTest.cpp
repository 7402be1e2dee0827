#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "runs/ContinuousRun.h"
#include "runs/SearchStatus.h"
#include "runs/SweepEngine.h"
#include "tests/support/RecordingWindow.h"

using namespace korvel;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ContinuousRun, PeriodsBecomeTicksOrAreRefused) {
    std::string refusal;
    EXPECT_EQ(PeriodTicks(10.0, &refusal), 100);
    EXPECT_EQ(PeriodTicks(0.05, &refusal), 0);
    EXPECT_TRUE(refusal.empty());
    for (double bad : {-1.0, 1e300, kInf, std::nan("")}) {
        refusal.clear();
        EXPECT_EQ(PeriodTicks(bad, &refusal), -1) << bad;
        EXPECT_FALSE(refusal.empty());
    }
}

TEST(ContinuousRun, StatisticsStayTogetherAcrossTheWrapAndKeepTheLast999Samples) {
    PhaseStatistics s;
    for (double v : {359.8, 0.2, 359.9, 0.1})
        s.Add(v);
    EXPECT_NEAR(s.Average(), 0.0, 1e-9);
    EXPECT_LT(s.Deviation(), 0.2);
    s.Reset();
    for (double v : {0.1, 359.7})
        s.Add(v);
    EXPECT_NEAR(s.Average(), 359.9, 1e-9);

    // Sample deviation of two readings is |d| / sqrt(2); the bar shows hundredths, held at 100.
    for (auto [spread, bar] : {std::pair{0.456, 45}, std::pair{1.7, 100}}) {
        s.Reset();
        s.Add(10.0);
        s.Add(10.0 + spread * std::sqrt(2.0));
        EXPECT_NEAR(s.Deviation(), spread, 1e-12);
        EXPECT_EQ(s.BarPosition(), bar);
    }

    s.Reset();
    for (int i = 0; i < 999; ++i)
        s.Add(10.0);
    for (int i = 0; i < 999; ++i)
        s.Add(20.0);  // every old sample replaced
    EXPECT_EQ(s.Count(), 999);
    EXPECT_DOUBLE_EQ(s.Average(), 20.0);
    EXPECT_EQ(s.Deviation(), 0.0);
    EXPECT_EQ(s.BarPosition(), 0);
    s.Add(21.0);
    EXPECT_NEAR(s.Average(), 20.0 + 1.0 / 999, 1e-9);
}

// Each sample is unwrapped against the one before it, so neither a jump nor a long drift away
// from the first sample splits the run into two clusters a turn apart.
TEST(ContinuousRun, StatisticsFollowAJumpAndADriftOfTwoTurns) {
    PhaseStatistics s;
    s.Add(10.0);
    for (int i = 0; i < 200; ++i)
        s.Add(190.0 + (i % 2 ? 0.2 : -0.2));
    EXPECT_NEAR(s.Average(), (10.0 + 200 * 190.0) / 201, 1e-9);
    EXPECT_NEAR(s.Deviation(), std::sqrt(180.0 * 180.0 * 200 / 201 + 0.04 * 200) / std::sqrt(200.0),
                1e-9);
    for (int i = 0; i < 999; ++i)
        s.Add(190.0);
    EXPECT_NEAR(s.Average(), 190.0, 1e-9);
    EXPECT_EQ(s.Deviation(), 0.0);

    // 720 degrees in steps of 0.5, with a small ripple, fed wrapped as the analyzer reports them.
    s.Reset();
    std::vector<double> unwrapped;
    for (int i = 0; i <= 1440; ++i) {
        const double phase = 350.0 + 0.5 * i + 0.03 * std::sin(i);
        unwrapped.push_back(phase);
        s.Add(std::fmod(phase, 360.0));
        const size_t n = std::min<size_t>(unwrapped.size(), 999);
        if (n < 2 || i % 97 != 0)
            continue;
        double mean = 0.0, squares = 0.0;
        for (size_t k = unwrapped.size() - n; k < unwrapped.size(); ++k)
            mean += unwrapped[k] / n;
        for (size_t k = unwrapped.size() - n; k < unwrapped.size(); ++k)
            squares += std::pow(unwrapped[k] - mean, 2);
        EXPECT_NEAR(s.Average(), std::fmod(mean, 360.0), 1e-6) << i;
        EXPECT_NEAR(s.Deviation(), std::sqrt(squares / (n - 1)), 1e-6) << i;
    }
    EXPECT_EQ(s.Count(), 999);
}

TEST(ContinuousRun, TheLogIsWrittenThroughLineByLineAndAFullDiskIsReported) {
    auto path = std::filesystem::temp_directory_path() / std::filesystem::path(u8"korvel-\u76f8-");
    path += std::to_string(::getpid()) + ".csv";
    ContinuousLog log;
    ASSERT_TRUE(log.Open(path));
    ASSERT_TRUE(log.WriteLine("first"));
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), "first\r\n");  // readable while the run goes on
    EXPECT_TRUE(log.Close());
    std::filesystem::remove(path);

    ContinuousLog full;
    if (std::filesystem::exists("/dev/full")) {
        ASSERT_TRUE(full.Open("/dev/full"));
        EXPECT_FALSE(full.WriteLine("lost"));
        EXPECT_FALSE(full.Close());
    }
}

TEST(SweepGrid, CountsAreTruncatedAndCappedWithoutOverflow) {
    EXPECT_EQ(PointCount(10, 95, 10, 500), 9);
    EXPECT_EQ(PointCount(0, 0.3, 0.1, 500), 3);
    EXPECT_EQ(PointCount(10, 2000, 1, 500), 500);
    EXPECT_EQ(PointCount(5, 5, 1, 200), 1);
    EXPECT_EQ(PointCount(-1e308, 1e308, 1e-300, 500), 500);
    EXPECT_FALSE(CheckSweepLimits({10, kInf, 1, 0, 1, 1}).empty());
    EXPECT_FALSE(CheckSweepLimits({10, 20, 1, std::nan(""), 1, 1}).empty());
}

// The standard search's texts stay as they were; the fast search's run texts say so, and count
// the passes that fell back once there are any.
TEST(RunTexts, TheFastSearchIsNamedAndItsFallBacksCounted) {
    EXPECT_EQ(SearchSuffix(Search::Standard, 3), "");
    EXPECT_EQ(SearchSuffix(Search::Fast, 0), " (fast search)");
    EXPECT_EQ(SearchSuffix(Search::Fast, 1), " (fast search, 1 pass fell back)");
    EXPECT_EQ(SearchSuffix(Search::Fast, 2), " (fast search, 2 passes fell back)");

    MeasureReport report;
    EXPECT_EQ(FallBackText(report, 8), "");  // a clean measurement writes no text
    report.fellBack = 2;
    report.fallBackReason = "no contrast between peak and null";
    EXPECT_EQ(FallBackText(report, 8),
              "Fast search: 2 of 8 passes fell back to the standard "
              "search (no contrast between peak and null).");

    // Through the runs, without instruments: nothing is measured, the texts still follow.
    for (const auto& [search, suffix] :
         {std::pair{Search::Standard, ""}, std::pair{Search::Fast, " (fast search)"}}) {
        Instruments instruments;
        RecordingWindow window;
        MeasureOptions options;
        options.search = search;
        double phase = 0.0;
        SweepEngine sweep;
        SweepLimits limits{10, 20, 10, -10, -10, 1};
        sweep.Start(limits);
        sweep.Step(instruments, options, phase, window);
        EXPECT_EQ(sweep.StepStatus(search),
                  std::string("Sweep measurement running step 1 / 2") + suffix);

        ContinuousRun run(instruments, window);
        const auto path = std::filesystem::temp_directory_path() /
                          ("korvel-texts-" + std::to_string(::getpid()) + ".csv");
        ASSERT_TRUE(run.Open(path, 0));
        std::string status;
        EXPECT_EQ(run.Take(options, phase, status), ContinuousRun::Sample::Skipped);
        EXPECT_EQ(status, std::string("Sample skipped: no measurement (instrument not connected)") +
                              suffix);
        EXPECT_EQ(run.RunningText(search), std::string(kContinuousRunning) + suffix);
        run.Close();
        std::filesystem::remove(path);
    }
}

}  // namespace
