#include <gtest/gtest.h>

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "runs/CSweepTable.h"
#include "runs/ContinuousRun.h"
#include "runs/SweepFile.h"

using namespace korvel;

namespace fs = std::filesystem;

namespace {

class SweepFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder name outside any ANSI code page, which Windows' narrow file names cannot reach.
        dir = fs::temp_directory_path() / fs::path(u8"korvel-sweep-\u00e9\u76f8\u4f4d-");
        dir += std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
        table.assign(kMaxLevelPoints * kMaxFrequencyPoints, 0.0);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Read() const {
        std::stringstream text;
        text << std::ifstream(dir / kSweepFileName, std::ios::binary).rdbuf();
        return text.str();
    }
    void Write(const std::string& text) const {
        std::ofstream(dir / kSweepFileName, std::ios::binary) << text;
    }
    // A file of the given header and rows, as the sweep writes it, loaded.
    CSweepTable Load(const std::string& header, const std::vector<std::string>& rows) const {
        std::string text =
            "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 35.000;\r\n" +
            header;
        for (const std::string& row : rows)
            text += "\r\n" + row;
        Write(text + "\r\n");
        return CSweepTable((dir / kSweepFileName).string());
    }
    std::string Written(bool rfB, const std::function<double(int)>& temperature) {
        return WriteSweepFile(dir / kSweepFileName, grid, table.data(), rfB, temperature);
    }
    static double Temperatures(int generator) { return generator == 1 ? 35.2 : 36.1; }

    fs::path dir;
    std::vector<double> table;
    SweepGrid grid{10.0, 10.0, 2, -40.0, 5.0, 2};
};

TEST_F(SweepFileTest, WritesTheDocumentedFileByteForByteAlsoUnderACommaLocale) {
    const char kExample[] =
        "DeltaPhase Measurement (Sweep)\r\n"
        "Temperature Generator 1/Degree = 35.200;Temperature Generator 2/Degree = 36.100;\r\n"
        "Level ;10.00;20.00;\r\n"
        "-40.00;183.125;190.500;\r\n"
        "-35.00;183.300;190.720;\r\n";
    table[0] = 183.125;
    table[1] = 190.5;
    table[kMaxFrequencyPoints] = 183.3;
    table[kMaxFrequencyPoints + 1] = 190.72;
    EXPECT_EQ(Written(false, Temperatures), kSweepFileWritten);
    EXPECT_EQ(Read(), kExample);

    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "German_Germany"));
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");
    fs::remove(dir / kSweepFileName);
    EXPECT_EQ(Written(false, Temperatures), kSweepFileWritten);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(Read(), kExample);
    EXPECT_FALSE(fs::exists(dir / "PhaseLogSweep.csv.tmp"));

    // RF B: one temperature, and only generator 1 is asked.
    grid = {100.0, 0.0, 1, 0.0, 0.0, 1};
    table[0] = -999.0;
    std::vector<int> asked;
    Written(true, [&](int g) {
        asked.push_back(g);
        return 1.0;
    });
    EXPECT_EQ(asked, std::vector<int>{1});
    EXPECT_EQ(Read(),
              "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 1.000;\r\n"
              "Level ;100.00;\r\n0.00;-999.000;\r\n");
}

TEST_F(SweepFileTest, AFailedWriteKeepsThePreviousFile) {
    Write("previous result");
#ifdef _WIN32
    // Held open without sharing, as a spreadsheet holds it: nothing can replace or open it.
    const HANDLE held = CreateFileW((dir / kSweepFileName).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Written(false, Temperatures), kSweepFileError);
    EXPECT_FALSE(ContinuousLog().Open(dir / kSweepFileName));  // shown as kContinuousFileError
    CloseHandle(held);
    EXPECT_FALSE(fs::exists(dir / "PhaseLogSweep.csv.tmp"));
#else
    // Written beside its name on a full device: every write fails, and the old file still stands.
    ASSERT_TRUE(fs::exists("/dev/full"));
    fs::create_symlink("/dev/full", dir / "PhaseLogSweep.csv.tmp");
    grid.frequencyCount = 500;
    grid.levelCount = 200;
    EXPECT_EQ(Written(false, Temperatures), kSweepFileError);
#endif
    EXPECT_EQ(Read(), "previous result");
}

TEST_F(SweepFileTest, LoadingUnwrapsAndFitsEachLevelLineAndTakesOneColumnOneRowAndLongHeaders) {
    CSweepTable sweep =
        Load("Level ;10.00;20.00;30.00;",
             {"-40.00;10.000;350.000;20.000;", "-35.00;100.000;300.000;100.000;", "", ""});
    ASSERT_TRUE(sweep.IsLoaded());
    EXPECT_EQ(sweep.RowCount(), 2);
    EXPECT_EQ(sweep.Cell(0, 1), -10.0);
    EXPECT_EQ(sweep.Cell(0, 2), 20.0);
    EXPECT_EQ(sweep.Cell(1, 1), 300.0);  // a difference of exactly 200 stays
    EXPECT_NEAR(sweep.Slope(0), 0.5, 1e-12);
    EXPECT_NEAR(sweep.Offset(0), 20.0 / 3 - 0.5 * 20.0, 1e-9);

    CSweepTable oneColumn = Load("Level ;100.00;", {"-40.00;12.500;", "-30.00;13.500;"});
    ASSERT_TRUE(oneColumn.IsLoaded());
    EXPECT_EQ(oneColumn.Slope(1), 0.0);
    EXPECT_TRUE(Load("Level ;10.00;20.00;", {"-40.00;1.000;2.000;"}).IsLoaded());
    std::string header = "Level ;", row = "-40.00;";  // a header line of more than 1400 bytes
    for (int c = 0; c < 200; ++c)
        header += std::to_string(10 + 10 * c) + ".00;", row += "1.000;";
    CSweepTable wide = Load(header, {row});
    ASSERT_TRUE(wide.IsLoaded());
    EXPECT_EQ(wide.ColumnCount(), 200);
    EXPECT_EQ(wide.FrequencyStep(), 10.0);
}

// Each refusal and its reason is shown by the plot tests; here, what a refused table answers.
// Steps whose reciprocal overflows would turn the cell index into NaN.
TEST_F(SweepFileTest, ARefusedOrMissingTableLooksNothingUp) {
    for (const CSweepTable& sweep :
         {Load("Level ;10.00;20.00;", {"-40.00;1.000;-999.000;"}),
          CSweepTable((dir / "no-such-file.csv").string()),
          Load("Level ;0;1e-310;", {"-40.00;1.000;2.000;"}),
          Load("Level ;-1e308;1e308;", {"-40.00;1.000;2.000;"}),
          Load("Level ;10.00;20.00;", {"0;1.000;2.000;", "1e-310;1.000;2.000;"})}) {
        EXPECT_FALSE(sweep.IsLoaded());
        EXPECT_FALSE(sweep.Error().empty());
        double result = 77.0;
        EXPECT_EQ(sweep.Interpolate(10, -40, result, CSweepTable::Automatic),
                  CSweepTable::NotLoaded);
        EXPECT_EQ(result, 77.0);
    }
}

// Looking up the phase that puts the paths in phase: the stored phase shifted by 180, kept with
// its sign as the generator takes it, interpolated the short way round the circle.
TEST_F(SweepFileTest, LookupShiftsBy180AndHoldsOrExtrapolatesOutsideTheGrid) {
    const std::vector<std::string> line{"-10.00;170.000;190.000;"};
    const std::vector<std::string> three{"-40.00;10.000;10.000;", "-30.00;30.000;30.000;",
                                         "-20.00;70.000;70.000;"};
    const std::vector<std::string> acrossWrap{"-40.00;170.000;170.000;", "-30.00;190.000;190.000;"};
    const std::vector<std::string> wrapDown{"-40.00;190.000;190.000;", "-30.00;170.000;170.000;"};
    const std::vector<std::string> negativeLines{"-40.00;-190.000;-190.000;",
                                                 "-30.00;-190.000;-190.000;"};
    const std::vector<std::string> positive{"-10.00;10.000;"}, negative{"-10.00;-190.000;"};
    const char* two = "Level ;10.00;20.00;";
    const struct {
        const std::vector<std::string>& rows;
        const char* header;
        double frequencyMHz, levelDbm, phaseDeg;
    } cases[] = {
        // At the last column nothing is read beyond it; beyond it the fitted line, 2 degrees per
        // MHz.
        {line, two, 15, -10, 0},
        {line, two, 20, -10, 10},
        {line, two, 30, -10, 30},
        // Above the last level the last line; half a step below extrapolated, further the first.
        {three, two, 15, -35, 200},
        {three, two, 15, -10, 250},
        {three, two, 15, 1e300, 250},
        {three, two, 15, -45, 180},
        {three, two, 15, -60, 190},
        {three, two, 15, -1e300, 190},
        // 350 and 10 meet at 0, not at the opposite phase, either way round.
        {acrossWrap, two, 15, -35, 0},
        {acrossWrap, two, 15, -37.5, 355},
        {wrapDown, two, 15, -37.5, 5},
        {negativeLines, two, 15, -35, -10},
        {positive, "Level ;100.00;", 5000, 99, 190},  // one cell: nothing else counts
        {negative, "Level ;100.00;", 100, -10, -10},
    };
    for (const auto& c : cases) {
        CSweepTable table = Load(c.header, c.rows);
        double result = -12345.0;
        EXPECT_NE(table.Interpolate(c.frequencyMHz, c.levelDbm, result, CSweepTable::Automatic),
                  CSweepTable::NotLoaded);
        EXPECT_NEAR(result, c.phaseDeg, 1e-9)
            << c.rows[0] << " at " << c.frequencyMHz << ", " << c.levelDbm;
    }
    CSweepTable table = Load(two, line);
    double result = 0.0;
    EXPECT_EQ(table.Interpolate(30.0, -10.0, result, CSweepTable::Table), CSweepTable::Outside);
    EXPECT_EQ(table.Interpolate(30.0, -10.0, result, CSweepTable::Automatic), CSweepTable::Inside);
}

}  // namespace
