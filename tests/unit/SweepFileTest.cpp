#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "CSweepTable.h"
#include "SweepFile.h"

namespace fs = std::filesystem;

namespace {

class SweepFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("korvel-sweep-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        table.assign(kMaxLevelPoints * kMaxFrequencyPoints, 0.0);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    std::string Read(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void Write(const std::string& text) const { std::ofstream(dir / kSweepFileName, std::ios::binary) << text; }
    void SetCell(int r, int c, double v) { table[r * kMaxFrequencyPoints + c] = v; }
    static double Temperatures(int generator) { return generator == 1 ? 35.2 : 36.1; }

    fs::path dir;
    std::vector<double> table;
    SweepGrid grid{10.0, 10.0, 2, -40.0, 5.0, 2};
};

const char kExample[] =
    "DeltaPhase Measurement (Sweep)\r\n"
    "Temperature Generator 1/Degree = 35.200;Temperature Generator 2/Degree = 36.100;\r\n"
    "Level ;10.00;20.00;\r\n"
    "-40.00;183.125;190.500;\r\n"
    "-35.00;183.300;190.720;\r\n";

TEST_F(SweepFileTest, WritesTheDocumentedFileByteForByteAlsoUnderACommaLocale) {
    SetCell(0, 0, 183.125);
    SetCell(0, 1, 190.5);
    SetCell(1, 0, 183.3);
    SetCell(1, 1, 190.72);
    EXPECT_EQ(WriteSweepFile(dir / kSweepFileName, grid, table.data(), false, Temperatures), kSweepFileWritten);
    EXPECT_EQ(Read(dir / kSweepFileName), kExample);

    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");
    fs::remove(dir / kSweepFileName);
    EXPECT_EQ(WriteSweepFile(dir / kSweepFileName, grid, table.data(), false, Temperatures), kSweepFileWritten);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(Read(dir / kSweepFileName), kExample);
    EXPECT_FALSE(fs::exists(dir / "PhaseLogSweep.csv.tmp"));
}

TEST_F(SweepFileTest, RfBWritesOneTemperatureAndAsksOnlyGeneratorOne) {
    grid = {100.0, 0.0, 1, 0.0, 0.0, 1};
    SetCell(0, 0, -999.0);
    std::vector<int> asked;
    WriteSweepFile(dir / kSweepFileName, grid, table.data(), true, [&](int g) {
        asked.push_back(g);
        return 1.0;
    });
    EXPECT_EQ(asked, std::vector<int>{1});
    EXPECT_EQ(Read(dir / kSweepFileName),
              "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 1.000;\r\n"
              "Level ;100.00;\r\n0.00;-999.000;\r\n");
}

TEST_F(SweepFileTest, AFailedWriteKeepsThePreviousFileAndAsksNoTemperature) {
    Write("previous result");
    fs::create_directory(dir / "PhaseLogSweep.csv.tmp");  // nothing can be opened under that name
    bool asked = false;
    EXPECT_EQ(WriteSweepFile(dir / kSweepFileName, grid, table.data(), false,
                             [&](int) {
                                 asked = true;
                                 return 0.0;
                             }),
              kSweepFileError);
    EXPECT_FALSE(asked);
    EXPECT_EQ(Read(dir / kSweepFileName), "previous result");

    // A full device: every write fails, and the old file still stands.
    if (fs::exists("/dev/full")) {
        fs::remove(dir / "PhaseLogSweep.csv.tmp");
        fs::create_symlink("/dev/full", dir / "PhaseLogSweep.csv.tmp");
        grid.frequencyCount = 500;
        grid.levelCount = 200;
        EXPECT_EQ(WriteSweepFile(dir / kSweepFileName, grid, table.data(), false, Temperatures), kSweepFileError);
        EXPECT_EQ(Read(dir / kSweepFileName), "previous result");
    }
}

TEST_F(SweepFileTest, LoadsUnwrapsAndFitsEachLevelLine) {
    Write(
        "DeltaPhase Measurement (Sweep)\r\nT\r\nLevel ;10.00;20.00;30.00;\r\n"
        "-40.00;10.000;350.000;20.000;\r\n-35.00;100.000;300.000;100.000;\r\n\r\n\r\n");
    CSweepTable sweep((dir / kSweepFileName).string());
    ASSERT_TRUE(sweep.IsLoaded());
    EXPECT_EQ(sweep.RowCount(), 2);
    EXPECT_EQ(sweep.ColumnCount(), 3);
    EXPECT_EQ(sweep.FirstFrequency(), 10.0);
    EXPECT_EQ(sweep.FrequencyStep(), 10.0);
    EXPECT_EQ(sweep.FirstLevel(), -40.0);
    EXPECT_EQ(sweep.LevelStep(), 5.0);
    EXPECT_EQ(sweep.Cell(0, 1), -10.0);
    EXPECT_EQ(sweep.Cell(0, 2), 20.0);
    EXPECT_EQ(sweep.Cell(1, 1), 300.0);  // a difference of exactly 200 stays
    EXPECT_EQ(sweep.Cell(1, 2), 100.0);
    EXPECT_NEAR(sweep.Slope(0), 0.5, 1e-12);
    EXPECT_NEAR(sweep.Offset(0), 20.0 / 3 - 0.5 * 20.0, 1e-9);
}

TEST_F(SweepFileTest, OneColumnOneRowAndALongHeaderLoad) {
    Write("DeltaPhase Measurement (Sweep)\nT\nLevel ;100.00;\n-40.00;12.500;\n-30.00;13.500;\n");
    CSweepTable oneColumn((dir / kSweepFileName).string());
    ASSERT_TRUE(oneColumn.IsLoaded());
    EXPECT_EQ(oneColumn.FrequencyStep(), 0.0);
    EXPECT_EQ(oneColumn.Slope(1), 0.0);
    EXPECT_EQ(oneColumn.Offset(1), 0.0);

    Write("DeltaPhase Measurement (Sweep)\nT\nLevel ;10.00;20.00;\n-40.00;1.000;2.000;\n");
    CSweepTable oneRow((dir / kSweepFileName).string());
    ASSERT_TRUE(oneRow.IsLoaded());
    EXPECT_EQ(oneRow.LevelStep(), 0.0);

    std::string header = "Level ;";
    std::string row = "-40.00;";
    for (int c = 0; c < 200; ++c) {
        header += std::to_string(10 + 10 * c) + ".00;";
        row += "1.000;";
    }
    EXPECT_GT(header.size(), 1400u);
    Write("DeltaPhase Measurement (Sweep)\r\nT\r\n" + header + "\r\n" + row + "\r\n");
    CSweepTable wide((dir / kSweepFileName).string());
    ASSERT_TRUE(wide.IsLoaded());
    EXPECT_EQ(wide.ColumnCount(), 200);
    EXPECT_EQ(wide.FrequencyStep(), 10.0);
}

TEST_F(SweepFileTest, FilesThatWouldGiveMeaninglessAdjustmentsAreNotLoaded) {
    const std::string head = "DeltaPhase Measurement (Sweep)\nT\n";
    const char* cases[] = {
        "",                                                            // no title
        "Level ;10.00;20.00;\n",                                       // no data line
        "Level 10.00 20.00\n-40;1;2;\n",                               // header without semicolon
        "Level ;\n-40.00;\n",                                          // no frequency column
        "Level ;10.00;20.00;\n-40.00;1.000;\n",                        // fewer values than frequencies
        "Level ;10.00;20.00;\n-40.00;1.000;abc;\n",                    // a cell that is no number
        "Level ;10.00;20.00;\n-40.00;1.000;-999.000;\n",               // a point not measured
        "Level ;10.00;10.00;\n-40.00;1.000;2.000;\n",                  // frequency step 0
        "Level ;10.00;20.00;\n-40.00;1.000;2.000;\n-40.00;1.0;2.0;\n", // level step 0
        "Level ;10.00;20.00;\n-40.00;1.000;2.000;\n\n-30.00;1.0;2.0;\n",  // empty line inside
    };
    for (const char* body : cases) {
        SCOPED_TRACE(body);
        Write(std::string(body).empty() ? "nothing\n" : head + body);
        CSweepTable sweep((dir / kSweepFileName).string());
        EXPECT_FALSE(sweep.IsLoaded());
        double result = 77.0;
        EXPECT_EQ(sweep.Interpolate(10, -40, result, CSweepTable::Automatic), CSweepTable::NotLoaded);
        EXPECT_EQ(result, 77.0);
    }
    CSweepTable missing((dir / "no-such-file.csv").string());
    EXPECT_FALSE(missing.IsLoaded());
}

}  // namespace
