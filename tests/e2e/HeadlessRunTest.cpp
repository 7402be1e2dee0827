// korvel-run as a user runs it, a child process against the simulated bench served over HiSLIP on
// loopback (127.11.0.0/16, one address per test; ports ephemeral): the sweep's cells against the
// truth, the continuous log line by line, stop signals with the files intact; and the fault
// matrix's cells for measure, sweep and continuous (127.12.0.0/16), over VXI-11 too.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "instrument/CVisaDevice.h"
#include "instrument/NumberText.h"
#include "measure/MeasurePhase.h"
#include "runs/CSweepTable.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FaultCells.h"
#include "tests/support/ServedBench.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WorkDirectory.h"

using namespace korvel;
using namespace fault_cells;
using Clock = std::chrono::steady_clock;

namespace {

class HeadlessRun : public ::testing::Test {
protected:
    // HiSLIP names carry the server's port; a VXI-11 server has its portmapper on port 111.
    void Serve(bool fast = true, std::vector<sim::Fault> faults = {}, bool hislip = true,
               std::string address = {}) {
        static int block = 1;
        sim::BenchOptions options;
        options.speed.fast = fast;
        options.faults = faults;
        if (address.empty())
            address = "127.11." + std::to_string(block++) + ".1";
        served = std::make_unique<ServedBench>(options, address, hislip, hislip ? 0 : 111);
        ASSERT_TRUE(served->started) << served->diagnostics;
        const auto port = std::to_string(served->server.Endpoints().at(0).hislipPort);
        for (auto [flag, gpib] :
             {std::pair{"--gen1", "28"}, {"--gen2", "27"}, {"--analyzer", "20"}})
            bench += std::string(" ") + flag + " TCPIP::" + served->address +
                     (hislip ? "::hislip" + std::string(gpib) + "," + port
                             : "::gpib0," + std::string(gpib)) +
                     "::INSTR";
        ASSERT_TRUE(Run("-q setup").exitCode == 0 || !faults.empty());
    }
    // The environment keeps the user's settings store out of reach.
    std::string Environment() const {
        return "env XDG_CONFIG_HOME=" + (work.Path() / "config").string() +
               " KORVEL_VISA_LIBRARY=builtin ";
    }
    ProgramRun Run(const std::string& arguments) {
        return RunProgram("timeout 60 " + Environment() + KORVEL_RUN_PATH + bench + " " +
                          arguments);
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
            generator.Query(std::string(source) + ":POW:POW " + FormatFixed(levelDbm, 1) +
                            ";*OPC?");
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
    ExpectLog(lines, 5, Truth(200, -15), 0.1);
    EXPECT_EQ(lines.at(1), "Frequency/Hz = 200000000 Level/dBm = -15\r");
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
    WaitFor(
        "PhaseLogCont.csv", [](const std::string&) { return false; }, 5);
    ::kill(child.Pid(), SIGHUP);
    EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 128 + SIGHUP);
    const auto lines = Lines("PhaseLogCont.csv");
    ASSERT_GE(lines.size(), 6u);
    ExpectLog(lines, lines.size() - 3, served->bench.TruthPhaseDeg());
}

TEST_F(HeadlessRun, ASecondSigintAbandonsALongPointWithinAReadingAndStillWritesTheFile) {
    Serve(false);  // real timing: a hundred passes take the better part of a minute
    Start("sweep --freq 100:200:100 --level -20:-20:5 --avg 100");
    WaitFor("PhaseLogSweep.partial.csv",
            [](const std::string& line) { return line.rfind("-20.00;", 0) == 0; });
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

namespace {

// The window's fault matrix met headless: the exit code, a line on standard error that names
// the fault, and the files holding what was measured, each as the window's cell has it.
class HeadlessFaults : public HeadlessRun, public ::testing::WithParamInterface<Cell> {};

TEST_P(HeadlessFaults, AClearLineTheExitCodeAndNothingLost) {
    const Cell c = GetParam();
    if (c.transport == Transport::Vxi11 && ::geteuid() != 0)
        GTEST_SKIP() << "VXI-11 from a child needs the portmapper's port 111 (root)";
    const int block = static_cast<int>(c.fault) * 12 + static_cast<int>(c.procedure) * 4 +
                      static_cast<int>(c.transport) * 2 + c.fast;
    // The set-up run's connect and *OPC? reach the analyzer before the command's own link.
    ASSERT_NO_FATAL_FAILURE(Serve(true, {FaultFor(c, 3 + 1)}, c.transport == Transport::HiSlip,
                                  "127.12." + std::to_string(block) + ".1"));
    const char* commands[] = {"", "measure", "sweep --freq 100:100:100 --level -20:-15:5",
                              "continuous --period 0 --samples 3"};
    const auto started = Clock::now();
    const ProgramRun run = Run(std::string("-q ") + commands[static_cast<int>(c.procedure)] +
                               (c.fast ? " --search fast" : ""));
    EXPECT_LT(MsSince(started),
              (c.fault == FaultKind::HangAfter ? CVisaDevice::kTimeoutMs : 0) + 8000);
    const bool failed = !Connects(c) || AnalyzerFails(c) || !ReadingsGood(c) || ErrorBoxes(c) > 0;
    EXPECT_EQ(run.exitCode, failed ? 1 : 0) << run.err;
    EXPECT_TRUE(run.err.empty() ? !failed
                                : run.err.rfind("korvel-run: ", 0) == 0 && run.err.back() == '\n')
        << run.err;
    const std::string analyzer = "TCPIP::" + served->address + "::" +
                                 (c.transport == Transport::HiSlip ? "hislip20," : "gpib0,20");
    EXPECT_EQ(run.err.find(analyzer) != std::string::npos, AnalyzerFails(c)) << run.err;
    EXPECT_EQ(run.err.find("carry no number") != std::string::npos, !ReadingsGood(c)) << run.err;
    EXPECT_EQ(run.err.find("Error Queue of ") != std::string::npos, ErrorBoxes(c) > 0);

    const double truth = served->bench.TruthPhaseDeg();
    if (c.procedure == Procedure::Single && !failed) {
        EXPECT_LE(CircleDistance(std::stod(run.out), truth), 0.2) << run.out;
    }
    const auto sweep = Lines("PhaseLogSweep.csv"), log = Lines("PhaseLogCont.csv");
    EXPECT_EQ(sweep.empty(), c.procedure != Procedure::Sweep || !Connects(c));
    EXPECT_EQ(log.empty(), c.procedure != Procedure::Continuous || !Connects(c));
    if (!sweep.empty())
        ExpectSweepFile(c, sweep, truth);
    if (!log.empty())
        ExpectLog(log, Samples(c, 3), truth);
}

// A hang costs a whole session timeout: it is met over HiSLIP only.
std::vector<Cell> HeadlessCells() {
    auto cells = Cells({Procedure::Single, Procedure::Sweep, Procedure::Continuous});
    std::erase_if(cells, [](const Cell& c) {
        return c.fault == FaultKind::HangAfter && c.transport == Transport::Vxi11;
    });
    return cells;
}

INSTANTIATE_TEST_SUITE_P(EveryFault, HeadlessFaults, ::testing::ValuesIn(HeadlessCells()),
                         [](const testing::TestParamInfo<Cell>& info) {
                             return CellName(info.param);
                         });

}  // namespace
