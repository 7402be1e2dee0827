#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <fstream>
#include <sstream>

#include "ContinuousRun.h"
#include "SweepEngine.h"

namespace {

TEST(ContinuousRun, PeriodsBecomeTicksOrAreRefused) {
    std::string refusal;
    EXPECT_EQ(PeriodTicks(10.0, &refusal), 100);
    EXPECT_EQ(PeriodTicks(0.05, &refusal), 0);
    EXPECT_EQ(PeriodTicks(0.0, &refusal), 0);
    EXPECT_TRUE(refusal.empty());
    for (double bad : {-1.0, 1e300, std::numeric_limits<double>::infinity(), std::nan("")}) {
        refusal.clear();
        EXPECT_EQ(PeriodTicks(bad, &refusal), -1) << bad;
        EXPECT_FALSE(refusal.empty());
    }
}

TEST(ContinuousRun, TimeStampsUseTheCLocaleForms) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 4;
    t.tm_min = 3;
    t.tm_sec = 17;
    EXPECT_EQ(TimeStamp(t), "12/06/26;04:03:17;");
}

TEST(PhaseStatisticsTest, DeviationAndBar) {
    PhaseStatistics s;
    for (int i = 0; i < 5; ++i) s.Add(123.456);
    EXPECT_EQ(s.Deviation(), 0.0);
    EXPECT_EQ(s.BarPosition(), 0);
    EXPECT_DOUBLE_EQ(s.Average(), 123.456);

    s.Reset();
    s.Add(10.0);
    s.Add(10.0 + 0.456 * std::sqrt(2.0));  // sample deviation of two readings: |d| / sqrt(2)
    EXPECT_NEAR(s.Deviation(), 0.456, 1e-12);
    EXPECT_EQ(s.BarPosition(), 45);

    s.Reset();
    s.Add(10.0);
    s.Add(10.0 + 1.7 * std::sqrt(2.0));
    EXPECT_EQ(s.BarPosition(), 100);  // held at full scale
}

TEST(PhaseStatisticsTest, ReadingsAroundTheWrapStayTogether) {
    PhaseStatistics s;
    for (double v : {359.8, 0.2, 359.9, 0.1}) s.Add(v);
    EXPECT_NEAR(s.Average(), 0.0, 1e-9);
    EXPECT_LT(s.Deviation(), 0.2);
    s.Reset();
    for (double v : {0.1, 359.7}) s.Add(v);
    EXPECT_NEAR(s.Average(), 359.9, 1e-9);
}

TEST(PhaseStatisticsTest, AfterTheFullStoreTheLast999SamplesCount) {
    PhaseStatistics s;
    for (int i = 0; i < 999; ++i) s.Add(100.0);
    EXPECT_EQ(s.Count(), 999);
    s.Add(100.0 + 999.0);  // wraps: 1099 is 19 degrees, unwrapped to within 180 of 100
    EXPECT_EQ(s.Count(), 999);
    s.Reset();
    for (int i = 0; i < 999; ++i) s.Add(10.0);
    for (int i = 0; i < 999; ++i) s.Add(20.0);  // every old sample replaced
    EXPECT_EQ(s.Count(), 999);
    EXPECT_DOUBLE_EQ(s.Average(), 20.0);
    EXPECT_EQ(s.Deviation(), 0.0);
    s.Add(21.0);
    EXPECT_NEAR(s.Average(), 20.0 + 1.0 / 999, 1e-9);
}

TEST(ContinuousRun, TheLogIsWrittenThroughLineByLine) {
    const auto path = std::filesystem::temp_directory_path() / ("korvel-cont-" + std::to_string(::getpid()) + ".csv");
    ContinuousLog log;
    ASSERT_TRUE(log.Open(path));
    ASSERT_TRUE(log.WriteLine("first"));
    std::ifstream reader(path, std::ios::binary);
    std::stringstream text;
    text << reader.rdbuf();
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

TEST(SweepGridTest, CountsAreTruncatedAndCapped) {
    EXPECT_EQ(PointCount(10, 95, 10, 500), 9);
    EXPECT_EQ(PointCount(0, 0.3, 0.1, 500), 3);
    EXPECT_EQ(PointCount(10, 2000, 1, 500), 500);
    EXPECT_EQ(PointCount(-100, 100, 0.5, 200), 200);
    EXPECT_EQ(PointCount(5, 5, 1, 200), 1);
    EXPECT_EQ(PointCount(-1e308, 1e308, 1e-300, 500), 500);  // no integer overflow on the way
    EXPECT_FALSE(CheckSweepLimits({10, 20, 0, 0, 1, 1}).empty());
    EXPECT_FALSE(CheckSweepLimits({10, 20, 1, 0, 1, -1}).empty());
    EXPECT_FALSE(CheckSweepLimits({10, std::numeric_limits<double>::infinity(), 1, 0, 1, 1}).empty());
    EXPECT_FALSE(CheckSweepLimits({10, 20, 1, std::nan(""), 1, 1}).empty());
    EXPECT_TRUE(CheckSweepLimits({20, 10, 1, 1, 0, 1}).empty());  // swapped limits are fine
}

}  // namespace
