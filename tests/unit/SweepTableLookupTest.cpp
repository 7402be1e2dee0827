#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "CSweepTable.h"

namespace fs = std::filesystem;

namespace {

// Writes a sweep file whose rows are given as cell texts and loads it.
CSweepTable Load(const std::string& header, const std::vector<std::string>& rows) {
    const fs::path path = fs::temp_directory_path() /
                          ("korvel-lookup-" + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".csv");
    {
        std::ofstream out(path, std::ios::binary);
        out << "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 35.000;\r\n" << header << "\r\n";
        for (const std::string& row : rows) out << row << "\r\n";
    }
    CSweepTable table(path.string());
    fs::remove(path);
    return table;
}

double At(const CSweepTable& table, double frequencyMHz, double levelDbm) {
    double result = -12345.0;
    EXPECT_NE(table.Interpolate(frequencyMHz, levelDbm, result, CSweepTable::Automatic), CSweepTable::NotLoaded);
    return result;
}

TEST(SweepTableLookup, InterpolatesAlongALineAndShiftsBy180) {
    CSweepTable table = Load("Level ;10.00;20.00;", {"-10.00;170.000;190.000;"});
    ASSERT_TRUE(table.IsLoaded());
    EXPECT_NEAR(At(table, 15.0, -10.0), 0.0, 1e-9);  // 180 + 180 wraps to 0
    EXPECT_NEAR(At(table, 10.0, -10.0), 350.0, 1e-9);
    EXPECT_NEAR(At(table, 20.0, -10.0), 10.0, 1e-9);  // the last column, nothing read beyond it
    // Beyond the last frequency the fitted line (slope 2 per MHz) continues.
    EXPECT_NEAR(At(table, 30.0, -10.0), 30.0, 1e-9);
    double result = 0.0;
    EXPECT_EQ(table.Interpolate(30.0, -10.0, result, CSweepTable::Table), CSweepTable::Outside);
    EXPECT_EQ(table.Interpolate(30.0, -10.0, result, CSweepTable::Automatic), CSweepTable::Inside);
}

TEST(SweepTableLookup, ShiftedValuesKeepTheirSignAsTheGeneratorTakesThem) {
    CSweepTable single = Load("Level ;100.00;", {"-10.00;10.000;"});
    EXPECT_NEAR(At(single, 100.0, -10.0), 190.0, 1e-9);
    EXPECT_NEAR(At(single, 5000.0, 99.0), 190.0, 1e-9);  // one line, one column: nothing else counts
    CSweepTable negative = Load("Level ;100.00;", {"-10.00;-190.000;"});
    EXPECT_NEAR(At(negative, 100.0, -10.0), -10.0, 1e-9);
}

TEST(SweepTableLookup, LevelsInterpolateBetweenLinesAndHoldOrExtrapolateOutside) {
    CSweepTable table = Load("Level ;10.00;20.00;", {"-40.00;10.000;10.000;", "-30.00;30.000;30.000;",
                                                      "-20.00;70.000;70.000;"});
    ASSERT_TRUE(table.IsLoaded());
    EXPECT_NEAR(At(table, 15.0, -35.0), 200.0, 1e-9);
    EXPECT_NEAR(At(table, 15.0, -25.0), 230.0, 1e-9);
    EXPECT_NEAR(At(table, 15.0, -10.0), 250.0, 1e-9);  // above the last level: the last line
    EXPECT_NEAR(At(table, 15.0, -45.0), 180.0, 1e-9);  // half a step below: extrapolated
    EXPECT_NEAR(At(table, 15.0, -60.0), 190.0, 1e-9);  // two steps below: the first line
    EXPECT_NEAR(At(table, 15.0, -1e300), 190.0, 1e-9);
    EXPECT_NEAR(At(table, 15.0, 1e300), 250.0, 1e-9);
}

TEST(SweepTableLookup, LinesAcrossTheWrapMeetTheShortWayRound) {
    // Shifted by 180 the two lines read 350 and 10: halfway is 0, not the opposite phase.
    CSweepTable table = Load("Level ;10.00;20.00;", {"-40.00;170.000;170.000;", "-30.00;190.000;190.000;"});
    ASSERT_TRUE(table.IsLoaded());
    EXPECT_NEAR(At(table, 15.0, -35.0), 0.0, 1e-9);
    EXPECT_NEAR(At(table, 15.0, -32.5), 5.0, 1e-9);
    EXPECT_NEAR(At(table, 15.0, -37.5), 355.0, 1e-9);
}

}  // namespace
