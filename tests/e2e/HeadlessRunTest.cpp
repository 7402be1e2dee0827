// korvel-run as a user runs it, a child process against the simulated bench served over HiSLIP on
// loopback (127.11.0.0/16, one address per test; ports ephemeral): the sweep's cells against the
// truth, the continuous log line by line, and stop signals with the files intact.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <thread>

#include "instrument/CVisaDevice.h"
#include "instrument/NumberText.h"
#include "measure/MeasurePhase.h"
#include "runs/CSweepTable.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ServedBench.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WorkDirectory.h"

using namespace korvel;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Lines(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class HeadlessRun : public ::testing::Test {
protected:
    void Serve(bool fast = true) {
        static int block = 1;
        sim::BenchOptions options;
        options.speed.fast = fast;
        served = std::make_unique<ServedBench>(options, "127.11." + std::to_string(block++) + ".1",
                                               true);
        ASSERT_TRUE(served->started) << served->diagnostics;
        const auto port = std::to_string(served->server.Endpoints().at(0).hislipPort);
        for (auto [flag, gpib] : {std::pair{"--gen1", "28"}, {"--gen2", "27"}, {"--analyzer", "20"}})
            bench += std::string(" ") + flag + " TCPIP::" + served->address + "::hislip" + gpib +
                     "," + port + "::INSTR";
        ASSERT_EQ(Run("-q setup").exitCode, 0);
    }
    // The environment keeps the user's settings store out of reach.
    std::string Environment() const {
        return "env XDG_CONFIG_HOME=" + (work.Path() / "config").string() +
               " KORVEL_VISA_LIBRARY=builtin ";
    }
    ProgramRun Run(const std::string& arguments) {
        return RunProgram("timeout 60 " + Environment() + KORVEL_RUN_PATH + bench + " " + arguments);
    }
    // Started in the background, for the signals.
    void Start(const std::string& arguments) {
        ASSERT_TRUE(child.Start({"/bin/sh", "-c",
                                 "exec " + Environment() + KORVEL_RUN_PATH + bench + " -q " +
                                     arguments + " >/dev/null"}));
    }
    // Waits until the file holds a line for which ready is true, or more than lines lines.
    template <typename Ready>
    void WaitFor(const char* path, Ready ready, size_t lines = 1000) {
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::seconds(30)) {
            const auto now = Lines(path);
            if (now.size() > lines || std::any_of(now.begin(), now.end(), ready))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        FAIL() << "nothing ready in " << path;
    }
    double Truth(double frequencyMHz, double levelDbm) {
        CVisaDevice generator(served->Resource(sim::InstrumentId::Generator1));
        generator.Query("FREQ " + FormatFixed(frequencyMHz * 1e6, 0) + ";*OPC?");
        for (const char* source : {"SOURCE1", "SOURCE2"})
            generator.Query(std::string(source) + ":POW:POW " + FormatFixed(levelDbm, 1) + ";*OPC?");
        return served->bench.TruthPhaseDeg();
    }

    WorkDirectory work{"korvel-headless"};
    std::unique_ptr<ServedBench> served;
    std::string bench;
    ChildProcess child;
};

TEST_F(HeadlessRun, ASweepMeasuresEveryCellWithinATenthOfADegreeOfTheTruth) {
    Serve();
    const ProgramRun run = Run("-q sweep --freq 100:300:100 --level -25:-20:5 -o grid.csv");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "6 of 6 points measured, last phase " +
                           FormatFixed(CSweepTable("grid.csv").RawCell(1, 2), 3) +
                           "\nwritten: grid.csv\n");
    EXPECT_FALSE(std::filesystem::exists("grid.partial.csv"));
    CSweepTable table("grid.csv");
    ASSERT_TRUE(table.IsLoaded() && table.RowCount() == 2 && table.ColumnCount() == 3);
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_LE(CircleDistance(table.RawCell(row, column),
                                     Truth(100 + 100 * column, -25 + 5 * row)),
                      0.1)
                << row << "," << column;
}

TEST_F(HeadlessRun, AContinuousRunLogsExactlyTheSamplesAskedForEachLineWhole) {
    Serve();
    Run("-q sweep --freq 200:200:100 --level -15:-15:5");  // leaves the generator there
    const ProgramRun run = Run("continuous --period 0 --samples 5");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines("PhaseLogCont.csv");
    ASSERT_EQ(lines.size(), 3u + 5u);
    EXPECT_EQ(lines[1], "Frequency/Hz = 200000000 Level/dBm = -15\r");
    const double truth = Truth(200, -15);
    for (size_t i = 3; i < lines.size(); ++i) {
        ASSERT_EQ(std::count(lines[i].begin(), lines[i].end(), ';'), 4) << lines[i];
        EXPECT_EQ(lines[i].back(), '\r');
        EXPECT_LE(CircleDistance(std::stod(lines[i].substr(lines[i].rfind(';') + 1)), truth), 0.1);
    }
    // One plain progress line per sample when standard error is no terminal.
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 5) << run.err;
    EXPECT_NE(run.err.find("sample 5/5: phase "), std::string::npos);
}

TEST_F(HeadlessRun, SigintEndsASweepAfterThePointInProgressAndWritesWhatWasMeasured) {
    Serve();
    Start("sweep --freq 100:1000:100 --level -20:-20:5 --avg 30");
    WaitFor("PhaseLogSweep.partial.csv", [](const std::string& line) {
        // Two cells measured: the line's third field holds a phase.
        const size_t third = line.find(';', line.find(';') + 1) + 1;
        return line.rfind("-20.00;", 0) == 0 && line.compare(third, 6, "0.000;") != 0;
    });
    ::kill(child.Pid(), SIGINT);
    EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 128 + SIGINT);
    CSweepTable table("PhaseLogSweep.csv");
    ASSERT_TRUE(table.IsLoaded()) << table.Error();
    int measured = 0;
    for (int column = 0; column < 10; ++column) {
        const double cell = table.RawCell(0, column);
        EXPECT_NE(cell, kNotMeasured) << column;  // the point in progress was finished
        measured += cell != 0.0;
    }
    EXPECT_GE(measured, 2);
    EXPECT_LT(measured, 10);
    EXPECT_FALSE(std::filesystem::exists("PhaseLogSweep.partial.csv"));
}

TEST_F(HeadlessRun, SighupClosesTheContinuousLogWithEveryLineWhole) {
    Serve();
    Start("continuous --period 0 --duration 1h");
    WaitFor("PhaseLogCont.csv", [](const std::string&) { return false; }, 5);
    ::kill(child.Pid(), SIGHUP);
    EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 128 + SIGHUP);
    const auto lines = Lines("PhaseLogCont.csv");
    ASSERT_GE(lines.size(), 6u);
    for (size_t i = 3; i < lines.size(); ++i) {
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ';'), 4) << lines[i];
        EXPECT_EQ(lines[i].back(), '\r');
    }
}

TEST_F(HeadlessRun, ASecondSigintAbandonsALongPointWithinAReadingAndStillWritesTheFile) {
    Serve(false);  // real timing: a hundred passes take the better part of a minute
    Start("sweep --freq 100:200:100 --level -20:-20:5 --avg 100");
    WaitFor("PhaseLogSweep.partial.csv", [](const std::string& line) {
        return line.rfind("-20.00;", 0) == 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(child.Pid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto second = Clock::now();
    ::kill(child.Pid(), SIGINT);
    EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 128 + SIGINT);
    EXPECT_LT(MsSince(second), 2000);
    const auto lines = Lines("PhaseLogSweep.csv");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "-20.00;-999.000;0.000;\r");
}

}  // namespace
