// The sweep, the continuous measurement and the level adjustment through the owner of the
// program's state, against the in-process bench, with a clock the test moves.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>

#include "ProcedureRig.h"
#include "app/core/MeasurementCore.h"
#include "measure/AdjustLevel.h"
#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "runs/CSweepTable.h"
#include "tests/support/MemorySettingsStore.h"

using namespace korvel;

namespace {

using namespace std::chrono_literals;

class RunRig {
public:
    explicit RunRig(sim::Wiring wiring, sim::BenchOptions options = {}) : rig(wiring, options) {
        store.values["UseRF_B"] = std::uint32_t(wiring == sim::Wiring::RfB ? 1 : 0);
        for (auto [key, value] : {std::pair{"StartFreq", "100"},
                                  {"StopFreq", "200"},
                                  {"StepFreq", "100"},
                                  {"StartLevel", "-20"},
                                  {"StopLevel", "-10"},
                                  {"StepLevel", "10"}}) {
            store.values[key] = std::string(value);
        }
        core = std::make_unique<MeasurementCore>(store, rig.window);
        core->SetWorkingDirectory(rig.Directory());
        core->SetClock([this] { return now; });
        core->ConnectInstruments();
        rig.Traffic();
        rig.window.log.clear();
    }
    // One timer tick 100 ms after the previous one; a step, if any, runs inside it.
    void Tick() {
        now += 100ms;
        core->OnTimer();
    }
    std::string File(const char* name) const {
        std::ifstream in(rig.Directory() / name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The last state each button was set to ("-" when untouched), in the window's order.
    std::string Buttons() const {
        std::string states;
        for (const char* button :
             {"StartSweep", "Stop", "GetPhaseSingle", "GetPhaseCont", "AdjustLevels"}) {
            const auto& log = rig.window.log;
            const auto it = std::find_if(log.rbegin(), log.rend(), [&](const std::string& line) {
                return line.rfind(std::string("enable ") + button + " ", 0) == 0;
            });
            states += it == log.rend() ? '-' : it->back();
        }
        return states;
    }
    Instruments& Bench() { return const_cast<Instruments&>(core->GetInstruments()); }

    ProcedureRig rig;
    MemorySettingsStore store;
    std::unique_ptr<MeasurementCore> core;
    std::chrono::steady_clock::time_point now{};
};

Texts Head(const Texts& texts, size_t n) {
    return Texts(texts.begin(), texts.begin() + std::min(n, texts.size()));
}

TEST(SweepRun, OnePointSetsTheGeneratorsWithErrorChecksMeasuresAndWritesTheFile) {
    const Texts setting{"FREQ 100000000;*OPC?", "SYST:ERR?", "SOURCE1:POW:POW -20.0;*OPC?",
                        "SYST:ERR?"};
    for (sim::Wiring wiring : {sim::Wiring::RfB, sim::Wiring::Two}) {
        RunRig r(wiring);
        r.core->Settings().StopFreq = 100;
        r.core->Settings().StopLevel = -20;
        r.core->OnStartSweep();
        Texts statuses;
        r.rig.window.onRefresh = [&] {
            if (statuses.empty() || statuses.back() != r.core->StatusText())
                statuses.push_back(r.core->StatusText());
        };
        r.Tick();
        EXPECT_EQ(statuses, (Texts{"Sweep measurement running step 0 / 1", "Completed",
                                   "File PhaseLogSweep.csv written"}));
        EXPECT_FALSE(r.core->RunActive());
        EXPECT_EQ(r.Buttons(), "1011-");

        const auto traffic = r.rig.Traffic();
        const Texts gen1 = ProcedureRig::Received(traffic, "gen1"),
                    gen2 = ProcedureRig::Received(traffic, "gen2");
        Texts expected1 = setting, expected2 = setting;
        if (wiring == sim::Wiring::RfB) {
            expected1.insert(expected1.end(), {"SOURCE2:POW:POW -20.0;*OPC?", "SYST:ERR?"});
            expected2.clear();
        } else {
            expected2.push_back("FREQ 100000000");  // then the analyzer set-up
        }
        EXPECT_EQ(Head(gen1, expected1.size()), expected1);
        EXPECT_EQ(Head(gen2, expected2.size()), expected2);
        const Texts analyzer = ProcedureRig::Received(traffic, "analyzer");
        EXPECT_EQ(Head(analyzer, 1), Texts{"*RST"});
        EXPECT_EQ(std::count(analyzer.begin(), analyzer.end(), "CALC1:MARK1:Y?"), 36);
    }
}

TEST(SweepRun, StartOrdersTheLimitsLeavesTheProgressBarAndRefusesBadLimits) {
    RunRig r(sim::Wiring::RfB);
    r.core->Settings().StartFreq = 300;
    r.core->Settings().StopFreq = 100;
    r.core->Settings().StartLevel = -10;
    r.core->Settings().StopLevel = -30;
    std::vector<double> shownStart;
    r.rig.window.onRefresh = [&] { shownStart.push_back(r.core->Settings().StartFreq); };
    r.core->OnStartSweep();
    EXPECT_EQ(r.core->Settings().StopFreq, 300);
    EXPECT_EQ(r.core->Settings().StartLevel, -30);
    ASSERT_FALSE(shownStart.empty());
    EXPECT_EQ(shownStart.front(), 100);  // the window shows them swapped
    EXPECT_EQ(r.core->Sweep().TotalSteps(), 3 * 3);
    EXPECT_EQ(std::count_if(r.rig.window.log.begin(), r.rig.window.log.end(),
                            [](const std::string& l) { return l.rfind("progress", 0) == 0; }),
              0);
    EXPECT_EQ(r.Buttons(), "0100-");
    r.core->OnStop();
    r.rig.Traffic();

    for (double step : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        r.rig.window.warnings.clear();
        r.core->Settings().StepLevel = step;
        r.core->OnStartSweep();
        EXPECT_FALSE(r.core->RunActive()) << step;
        EXPECT_EQ(r.rig.window.warnings.size(), 1u) << step;
    }
    EXPECT_TRUE(r.rig.Traffic().empty());
}

TEST(SweepRun, TheTimerGateSkipsALateTickAndStopWritesEveryCellOfTheGrid) {
    RunRig r(sim::Wiring::RfB);
    r.core->OnStartSweep();  // 2 frequencies by 2 levels
    r.Tick();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
    r.now += 600ms;  // the step blocked the thread: the next tick is late
    r.core->OnTimer();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
    r.Tick();
    ASSERT_EQ(r.core->Sweep().CompletedSteps(), 2);

    // Stopped halfway: the cells not measured are written all the same.
    r.core->OnStop();
    const std::string file = r.File("PhaseLogSweep.csv");
    EXPECT_NE(file.find("Level ;100.00;200.00;\r\n-20.00;"), std::string::npos) << file;
    EXPECT_NE(file.find("\r\n-10.00;0.000;0.000;\r\n"), std::string::npos) << file;
    EXPECT_EQ(r.core->StatusText(), "File PhaseLogSweep.csv written");
}

// Killed in the middle of a sweep, the program leaves the journal with every point measured so
// far; the next sweep keeps it under another name, and only a final file in place removes one.
// Linux only: the sweep runs in a forked copy of the test, and Windows has no fork.
#ifndef _WIN32
TEST(SweepRun, AKilledSweepLeavesItsJournalWithEveryMeasuredPoint) {
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // 3 frequencies by 2 levels, killed after the fourth point
        ::close(channel[0]);
        RunRig r(sim::Wiring::Two);
        r.core->Settings().StopFreq = 300;
        r.core->OnStartSweep();
        std::string report = r.rig.Directory().string();
        for (int point = 0; point < 4; ++point) {
            r.Tick();
            report += "\n" + FormatFixed(r.core->Sweep().Cell(point / 3, point % 3), 3);
        }
        (void)!::write(channel[1], report.data(), report.size());
        ::raise(SIGKILL);
    }
    ::close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, n);
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << report;
    Texts reported;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        reported.push_back(line);
    ASSERT_EQ(reported.size(), 5u) << report;
    const std::filesystem::path killedIn = reported[0];

    RunRig r(sim::Wiring::Two);
    std::error_code noJournal;
    std::filesystem::copy_file(killedIn / "PhaseLogSweep.partial.csv",
                               r.rig.Directory() / "PhaseLogSweep.partial.csv", noJournal);
    std::filesystem::remove_all(killedIn);
    ASSERT_FALSE(noJournal) << noJournal.message();
    const std::string journal = r.File("PhaseLogSweep.partial.csv");
    const std::string expected =
        "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 0.000;"
        "Temperature Generator 2/Degree = 0.000;\r\nLevel ;100.00;200.00;300.00;\r\n"
        "-20.00;" +
        reported[1] + ";" + reported[2] + ";" + reported[3] +
        ";\r\n"
        "-10.00;" +
        reported[4] + ";0.000;0.000;\r\n";
    EXPECT_EQ(journal, expected);
    for (int point = 1; point <= 4; ++point)
        EXPECT_NE(reported[point], "0.000");
    EXPECT_TRUE(CSweepTable((r.rig.Directory() / "PhaseLogSweep.partial.csv").string()).IsLoaded());

    r.core->Settings().StopFreq = 300;
    r.core->OnStartSweep();
    const std::string kept = "an old journal was found and kept as PhaseLogSweep.interrupted-1.csv";
    EXPECT_EQ(r.core->StatusText(), "Sweep is Running (" + kept + ")");
    EXPECT_EQ(r.File("PhaseLogSweep.interrupted-1.csv"), journal);
    r.Tick();
    EXPECT_EQ(r.core->StatusText(), "Sweep measurement running step 0 / 6 (" + kept + ")");
    // A final file that cannot be written leaves the journal; the next one in place removes it.
    std::filesystem::create_directory(r.rig.Directory() / "PhaseLogSweep.csv.tmp");
    r.core->OnStop();
    EXPECT_EQ(r.core->StatusText(), kSweepFileError);
    EXPECT_NE(r.File("PhaseLogSweep.partial.csv")
                  .find("-20.00;" + FormatFixed(r.core->Sweep().Cell(0, 0), 3) +
                        ";0.000;0.000;\r\n-10.00;0.000;0.000;0.000;\r\n"),
              std::string::npos);
    std::filesystem::remove(r.rig.Directory() / "PhaseLogSweep.csv.tmp");
    r.core->OnStartSweep();
    for (int point = 0; point < 6; ++point)
        r.Tick();
    EXPECT_EQ(r.core->StatusText(), "File PhaseLogSweep.csv written");
    EXPECT_FALSE(std::filesystem::exists(r.rig.Directory() / "PhaseLogSweep.partial.csv"));
    EXPECT_TRUE(std::filesystem::exists(r.rig.Directory() / "PhaseLogSweep.interrupted-2.csv"));
}
#endif

TEST(SweepRun, AdjustLevelsKeepsTheStopButtonAndConnectWritesTheFileWhileTheSessionsExist) {
    RunRig r(sim::Wiring::RfB);
    r.core->OnStartSweep();
    r.Tick();
    r.core->OnAdjustLevels();
    EXPECT_EQ(r.Buttons(), "01001");
    EXPECT_TRUE(r.core->RunActive());
    bool fileBeforeDialog = false;
    r.rig.window.connectDialog = [&](ConnectValues&) {
        fileBeforeDialog = r.File("PhaseLogSweep.csv").find("Temperature Generator 1/Degree = 2") !=
                           std::string::npos;
        return true;
    };
    r.core->OnConnect();
    EXPECT_TRUE(fileBeforeDialog);
    EXPECT_FALSE(r.core->RunActive());
    EXPECT_TRUE(r.core->IsConnected());
    r.Tick();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
}

TEST(ContinuousRunTest, SamplesEveryPeriodIntoTheLogWithItsTimeStamp) {
    RunRig r(sim::Wiring::RfB);
    r.core->SetLocalTime([] {
        std::tm t{};
        t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 6, t.tm_hour = 4, t.tm_min = 3, t.tm_sec = 17;
        return t;
    });
    r.core->Settings().Period = 0.3;
    std::vector<int> shownCounts;
    r.rig.window.onRefresh = [&] { shownCounts.push_back(r.core->SampleCount()); };
    r.core->OnGetPhaseCont();
    ASSERT_TRUE(r.core->RunActive());
    EXPECT_EQ(r.Buttons(), "0100-");
    r.Tick();
    r.Tick();
    EXPECT_EQ(ProcedureRig::Received(r.rig.Traffic(), "analyzer").size(),
              9u);  // only the set-up so far
    shownCounts.clear();
    r.Tick();  // the third gated tick takes the first sample
    ASSERT_FALSE(shownCounts.empty());
    EXPECT_EQ(shownCounts.back(), 0);  // the first sample is not shown as a count
    for (int i = 0; i < 3; ++i)
        r.Tick();
    EXPECT_EQ(r.core->SampleCount(), 2);
    r.core->OnStop();
    EXPECT_EQ(r.core->StatusText(), "File PhaseLogCont.csv written");

    std::istringstream log(r.File("PhaseLogCont.csv"));
    Texts lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "DeltaPhase Measurement Logfile versus Time\r");
    EXPECT_EQ(lines[1].rfind("Frequency/Hz = ", 0), 0u);
    EXPECT_NE(lines[1].find(" Level/dBm = "), std::string::npos);
    EXPECT_EQ(lines[2], "DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE\r");
    EXPECT_EQ(lines[4].substr(0, 18), "12/06/26;04:03:17;");
    // RF B: the generator 2 column repeats generator 1's temperature.
    const std::string temperatures = lines[4].substr(18, lines[4].rfind(';') - 18);
    const size_t half = temperatures.find(';');
    EXPECT_EQ(temperatures.substr(0, half), temperatures.substr(half + 1));
    EXPECT_EQ(lines[4].substr(lines[4].rfind(';') + 1),
              FormatFixed(r.core->PhaseResult(), 3) + "\r");
}

// The levels generator 1 is set to while adjusting from -10 dBm, the marker reading the noise
// floor (the outputs are off until the generators are set up).
Texts AdjustFromMinusTen(RunRig& r) {
    r.Bench().generator1->Write("SOUR:POW:LEV -10");
    r.Bench().analyzer->Write("CALC1:MARK1:X 1000000000");
    r.rig.Traffic();
    AdjustLevel(r.Bench());
    Texts levels;
    for (const auto& text :
         ProcedureRig::Starting(ProcedureRig::Received(r.rig.Traffic(), "gen1"), "SOUR:POW:LEV ")) {
        levels.push_back(text.substr(13));
    }
    return levels;
}

TEST(LevelAdjustment,
     ScansCoarseThenFineAroundTheStartingLevelAndEqualReadingsKeepTheLowerSetting) {
    RunRig r(sim::Wiring::RfB);
    const Texts levels = AdjustFromMinusTen(r);
    ASSERT_EQ(levels.size(), 40u + 50u + 1u);
    EXPECT_EQ(levels.front(), "-11.000000");
    EXPECT_EQ(levels[39], "-9.050000");
    const double coarseBest = ParseLeadingDouble(levels[40]) + 0.025;
    EXPECT_NEAR(ParseLeadingDouble(levels[89]), coarseBest + 0.024, 1e-9);

    // Without reading noise every reading is the same number: the noise floor.
    sim::BenchOptions flat;
    flat.physics.readingNoiseDb = 0.0;
    RunRig f(sim::Wiring::RfB, flat);
    EXPECT_EQ(AdjustFromMinusTen(f).back(), "-11.025000");
    const std::string reading = f.Bench().analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?");
    EXPECT_NEAR(ParseLeadingDouble(reading),
                -174.0 + 24.0 + 10.0 * std::log10(f.rig.bench->Analyzer().rbwHz), 0.01)
        << reading;
}

TEST(LevelAdjustment, DeepensTheCancellationOfAMismatchedBench) {
    sim::BenchOptions options;
    options.physics.levelMismatchDb = 0.4;
    RunRig r(sim::Wiring::RfB, options);
    r.core->SetupGenerators();
    Instruments& instruments = r.Bench();
    instruments.generator1->Query("FREQ 500000000;*OPC?");
    SetupAnalyzer(instruments, true);
    double phase = 0.0;
    MeasurePhase(instruments, {true, 1, false}, phase, r.rig.window);
    auto depth = [&] {
        return ParseLeadingDouble(
            instruments.analyzer->Query("INIT:CONT OFF;:INIT;*WAI;:CALC1:MARK1:Y?"));
    };
    const double before = depth();
    AdjustLevel(instruments);
    const double after = depth();
    std::printf("cancellation %.2f dBm before, %.2f dBm after the level adjustment\n", before,
                after);
    EXPECT_LE(after, before - 20.0);
}

}  // namespace
