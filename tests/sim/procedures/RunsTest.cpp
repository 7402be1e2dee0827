// The sweep, the continuous measurement and the level adjustment through the owner of the
// program's state, against the in-process bench, with a clock the test moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <fstream>
#include <sstream>

#include "AdjustLevel.h"
#include "MeasurePhase.h"
#include "MeasurementCore.h"
#include "MemorySettingsStore.h"
#include "NumberText.h"
#include "ProcedureRig.h"
#include "SetupAnalyzer.h"

namespace {

using namespace std::chrono_literals;

class RunRig {
public:
    explicit RunRig(sim::Wiring wiring, sim::BenchOptions options = {}) : rig(wiring, options) {
        store.values["UseRF_B"] = std::uint32_t(wiring == sim::Wiring::RfB ? 1 : 0);
        store.values["StartFreq"] = std::string("100");
        store.values["StopFreq"] = std::string("200");
        store.values["StepFreq"] = std::string("100");
        store.values["StartLevel"] = std::string("-20");
        store.values["StopLevel"] = std::string("-10");
        store.values["StepLevel"] = std::string("10");
        SetMessageSink([this](const std::string& text) { window.ShowWarning(text); });
        core = std::make_unique<MeasurementCore>(store, window);
        core->SetWorkingDirectory(rig.Directory());
        core->SetClock([this] { return now; });
        core->ConnectInstruments();
        rig.Traffic();
        window.log.clear();
    }
    ~RunRig() {
        core.reset();
        SetMessageSink({});
    }
    // One timer tick 100 ms after the previous one; a step, if any, runs inside it.
    void Tick() {
        now += 100ms;
        core->OnTimer();
    }
    // Ticks until the run ends (a step blocks, so every other tick is skipped by the gate, as the
    // clock here does not move during a step: each tick is within 500 ms).
    void RunToEnd(int limit = 200) {
        for (int i = 0; i < limit && core->RunActive(); ++i) Tick();
    }
    std::string File(const char* name) const {
        std::ifstream in(rig.Directory() / name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string LastEnable(const std::string& button) const {
        for (auto it = window.log.rbegin(); it != window.log.rend(); ++it) {
            if (it->rfind("enable " + button + " ", 0) == 0) return it->substr(it->size() - 1);
        }
        return "-";
    }

    ProcedureRig rig;
    MemorySettingsStore store;
    RecordingWindow window;
    std::unique_ptr<MeasurementCore> core;
    std::chrono::steady_clock::time_point now{};
};

TEST(SweepRun, OneStepSetsTheGeneratorsWithErrorChecksThenMeasures) {
    for (sim::Wiring wiring : {sim::Wiring::RfB, sim::Wiring::Two}) {
        RunRig r(wiring);
        r.core->Settings().StopFreq = 100;
        r.core->Settings().StopLevel = -20;
        r.core->OnStartSweep();
        r.Tick();
        const auto traffic = r.rig.Traffic();
        const auto gen1 = ProcedureRig::Received(traffic, "gen1");
        const auto gen2 = ProcedureRig::Received(traffic, "gen2");
        if (wiring == sim::Wiring::RfB) {
            const std::vector<std::string> head(gen1.begin(), gen1.begin() + 6);
            EXPECT_EQ(head, (std::vector<std::string>{"FREQ 100000000;*OPC?", "SYST:ERR?", "SOURCE1:POW:POW -20.0;*OPC?",
                                                      "SYST:ERR?", "SOURCE2:POW:POW -20.0;*OPC?", "SYST:ERR?"}));
            EXPECT_TRUE(gen2.empty());
        } else {
            const std::vector<std::string> head(gen1.begin(), gen1.begin() + 4);
            EXPECT_EQ(head, (std::vector<std::string>{"FREQ 100000000;*OPC?", "SYST:ERR?", "SOURCE1:POW:POW -20.0;*OPC?",
                                                      "SYST:ERR?"}));
            const std::vector<std::string> second(gen2.begin(), gen2.begin() + 5);
            EXPECT_EQ(second, (std::vector<std::string>{"FREQ 100000000;*OPC?", "SYST:ERR?", "SOURCE1:POW:POW -20.0;*OPC?",
                                                        "SYST:ERR?", "FREQ 100000000"}));  // then the analyzer set-up
        }
        const auto analyzer = ProcedureRig::Received(traffic, "analyzer");
        EXPECT_EQ(analyzer.front(), "*RST");
        EXPECT_EQ(std::count(analyzer.begin(), analyzer.end(), "CALC1:MARK1:Y?"), 36);
        EXPECT_FALSE(r.core->RunActive());  // one point: done
        EXPECT_EQ(r.core->StatusText(), "File PhaseLogSweep.csv written");
    }
}

TEST(SweepRun, StartOrdersTheLimitsLeavesTheProgressBarAndRefusesBadLimits) {
    RunRig r(sim::Wiring::RfB);
    r.core->Settings().StartFreq = 300;
    r.core->Settings().StopFreq = 100;
    r.core->Settings().StartLevel = -10;
    r.core->Settings().StopLevel = -30;
    std::vector<double> shownStart;
    r.window.onRefresh = [&] { shownStart.push_back(r.core->Settings().StartFreq); };
    r.core->OnStartSweep();
    EXPECT_EQ(r.core->Settings().StartFreq, 100);
    EXPECT_EQ(r.core->Settings().StopFreq, 300);
    EXPECT_EQ(r.core->Settings().StartLevel, -30);
    ASSERT_FALSE(shownStart.empty());
    EXPECT_EQ(shownStart.front(), 100);  // the window shows them swapped
    EXPECT_EQ(r.core->Sweep().TotalSteps(), 3 * 3);
    EXPECT_EQ(std::count_if(r.window.log.begin(), r.window.log.end(),
                            [](const std::string& l) { return l.rfind("progress", 0) == 0; }),
              0);
    EXPECT_EQ(r.LastEnable("Stop"), "1");
    EXPECT_EQ(r.LastEnable("StartSweep"), "0");
    r.core->OnStop();
    r.rig.Traffic();

    const double bad[] = {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")};
    for (double step : bad) {
        r.window.warnings.clear();
        r.core->Settings().StepLevel = step;
        r.core->OnStartSweep();
        EXPECT_FALSE(r.core->RunActive()) << step;
        EXPECT_EQ(r.window.warnings.size(), 1u) << step;
    }
    EXPECT_TRUE(r.rig.Traffic().empty());
}

TEST(SweepRun, AOnePointSweepShowsCompletedThenTheFileStatus) {
    RunRig r(sim::Wiring::RfB);
    r.core->Settings().StopFreq = 100;
    r.core->Settings().StopLevel = -20;
    r.core->OnStartSweep();
    std::vector<std::string> statuses;
    r.window.onRefresh = [&] {
        if (statuses.empty() || statuses.back() != r.core->StatusText()) statuses.push_back(r.core->StatusText());
    };
    r.Tick();
    EXPECT_EQ(statuses, (std::vector<std::string>{"Sweep measurement running step 0 / 1", "Completed",
                                                  "File PhaseLogSweep.csv written"}));
    EXPECT_EQ(r.LastEnable("StartSweep"), "1");
    EXPECT_EQ(r.LastEnable("Stop"), "0");
}

TEST(SweepRun, StopAfterSomeStepsWritesEveryCellOfTheGrid) {
    RunRig r(sim::Wiring::RfB);
    r.core->OnStartSweep();  // 2 frequencies by 2 levels
    r.Tick();                // step 1
    r.Tick();                // skipped? no: the clock did not move during the step, so it runs step 2
    ASSERT_EQ(r.core->Sweep().CompletedSteps(), 2);
    r.core->OnStop();
    const std::string file = r.File("PhaseLogSweep.csv");
    EXPECT_NE(file.find("Level ;100.00;200.00;\r\n-20.00;"), std::string::npos) << file;
    EXPECT_NE(file.find("\r\n-10.00;0.000;0.000;\r\n"), std::string::npos) << file;
    EXPECT_EQ(r.core->StatusText(), "File PhaseLogSweep.csv written");
}

TEST(SweepRun, TheTimerGateSkipsATickThatComesLateAfterAStep) {
    RunRig r(sim::Wiring::RfB);
    r.core->OnStartSweep();
    r.Tick();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
    r.now += 600ms;  // the step blocked the thread: the next tick is late
    r.core->OnTimer();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
    r.Tick();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 2);
}

TEST(SweepRun, TicksFromInsideAStepsMessageBoxNeitherStepNorStop) {
    sim::BenchOptions options;
    options.faults.push_back({sim::InstrumentId::Generator1, sim::FaultKind::Errors, 0});
    RunRig r(sim::Wiring::RfB, options);
    r.core->OnStartSweep();
    int boxes = 0;
    int stepsSeenInBoxes = -1;
    r.window.onWarning = [&] {
        ++boxes;
        const int before = r.core->Sweep().CompletedSteps();
        for (int i = 0; i < 5; ++i) r.Tick();  // a nested loop keeps delivering ticks
        if (r.core->Sweep().CompletedSteps() != before || !r.core->RunActive()) stepsSeenInBoxes = before;
    };
    r.Tick();
    EXPECT_EQ(boxes, 3);  // one per generator command whose queue held an entry
    EXPECT_EQ(stepsSeenInBoxes, -1);
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
    EXPECT_TRUE(r.core->RunActive());
}

TEST(SweepRun, ConnectDuringASweepWritesTheFileWhileTheSessionsExistThenReconnects) {
    RunRig r(sim::Wiring::RfB);
    r.core->OnStartSweep();
    r.Tick();
    bool fileBeforeDialog = false;
    r.window.connectDialog = [&](ConnectValues&) {
        fileBeforeDialog = r.File("PhaseLogSweep.csv").find("Temperature Generator 1/Degree = 2") != std::string::npos;
        return true;
    };
    r.core->OnConnect();
    EXPECT_TRUE(fileBeforeDialog);
    EXPECT_FALSE(r.core->RunActive());
    EXPECT_TRUE(r.core->IsConnected());
    r.Tick();
    EXPECT_EQ(r.core->Sweep().CompletedSteps(), 1);
}

TEST(SweepRun, AdjustLevelsDuringASweepKeepsItsStopButton) {
    RunRig r(sim::Wiring::RfB);
    r.core->OnStartSweep();
    r.Tick();
    r.core->OnAdjustLevels();
    EXPECT_EQ(r.LastEnable("Stop"), "1");
    EXPECT_EQ(r.LastEnable("GetPhaseCont"), "0");
    EXPECT_EQ(r.LastEnable("StartSweep"), "0");
    EXPECT_EQ(r.LastEnable("GetPhaseSingle"), "0");
    EXPECT_EQ(r.LastEnable("AdjustLevels"), "1");
    r.RunToEnd();
    EXPECT_EQ(r.core->StatusText(), "File PhaseLogSweep.csv written");
}

// --- continuous measurement ---------------------------------------------------------------

TEST(ContinuousRunTest, SamplesEveryPeriodIntoTheLogAndTheStatistics) {
    RunRig r(sim::Wiring::RfB);
    r.core->SetLocalTime([] {
        std::tm t{};
        t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 6, t.tm_hour = 4, t.tm_min = 3, t.tm_sec = 17;
        return t;
    });
    r.core->Settings().Period = 0.3;
    std::vector<int> shownCounts;
    r.window.onRefresh = [&] { shownCounts.push_back(r.core->SampleCount()); };
    r.core->OnGetPhaseCont();
    ASSERT_TRUE(r.core->RunActive());
    EXPECT_EQ(r.core->PeriodInTicks(), 3);
    EXPECT_EQ(r.LastEnable("Stop"), "1");
    r.Tick();
    r.Tick();
    EXPECT_EQ(ProcedureRig::Received(r.rig.Traffic(), "analyzer").size(), 9u);  // only the set-up so far
    shownCounts.clear();
    r.Tick();  // the third gated tick takes the first sample
    ASSERT_FALSE(shownCounts.empty());
    EXPECT_EQ(shownCounts.back(), 0);  // the first sample is not shown as a count
    for (int i = 0; i < 3; ++i) r.Tick();
    EXPECT_EQ(r.core->SampleCount(), 2);
    r.core->OnStop();
    EXPECT_EQ(r.core->StatusText(), "File PhaseLogCont.csv written");

    const std::string log = r.File("PhaseLogCont.csv");
    std::istringstream lines(log);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line)) all.push_back(line);
    ASSERT_EQ(all.size(), 5u) << log;
    EXPECT_EQ(all[0], "DeltaPhase Measurement Logfile versus Time\r");
    EXPECT_EQ(all[1].rfind("Frequency/Hz = ", 0), 0u);
    EXPECT_NE(all[1].find(" Level/dBm = "), std::string::npos);
    EXPECT_EQ(all[2], "DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE\r");
    const std::string phase = FormatFixed(r.core->PhaseResult(), 3);
    EXPECT_EQ(all[4].substr(0, 18), "12/06/26;04:03:17;");
    // RF B: the generator 2 column repeats generator 1's temperature.
    const std::string temperatures = all[4].substr(18, all[4].rfind(';') - 18);
    const size_t half = temperatures.find(';');
    EXPECT_EQ(temperatures.substr(0, half), temperatures.substr(half + 1));
    EXPECT_EQ(all[4].substr(all[4].rfind(';') + 1), phase + "\r");
}

TEST(ContinuousRunTest, AStaleSampleIsNeitherCountedNorLogged) {
    sim::BenchOptions options;
    options.faults.push_back({sim::InstrumentId::Analyzer, sim::FaultKind::DropAfter, 40});
    RunRig r(sim::Wiring::RfB, options);
    r.core->Settings().Period = 0;
    r.core->OnGetPhaseCont();
    for (int i = 0; i < 4; ++i) r.Tick();
    EXPECT_EQ(r.core->SampleCount(), 0);
    EXPECT_EQ(r.core->StatusText(), "Sample skipped: no measurement (instrument not connected)");
    r.core->OnStop();
    const std::string log = r.File("PhaseLogCont.csv");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;  // the header lines only
}

TEST(ContinuousRunTest, BadPeriodsAndAnUnwritableLogStartNoRun) {
    RunRig r(sim::Wiring::RfB);
    for (double period : {-1.0, 1e300, std::numeric_limits<double>::infinity()}) {
        r.window.warnings.clear();
        r.core->Settings().Period = period;
        r.core->OnGetPhaseCont();
        EXPECT_FALSE(r.core->RunActive()) << period;
        EXPECT_EQ(r.window.warnings.size(), 1u) << period;
    }
    EXPECT_TRUE(r.rig.Traffic().empty());

    std::filesystem::create_directory(r.rig.Directory() / "PhaseLogCont.csv");
    r.core->Settings().Period = 1;
    r.core->OnGetPhaseCont();
    EXPECT_FALSE(r.core->RunActive());
    EXPECT_EQ(r.core->StatusText(), "Error writing PhaseLogCont.csv (opended with another program?)");
    EXPECT_EQ(r.LastEnable("GetPhaseCont"), "-");  // the buttons keep their state
}

// --- level adjustment ----------------------------------------------------------------------

TEST(LevelAdjustment, ScansCoarseThenFineAroundTheStartingLevel) {
    RunRig r(sim::Wiring::RfB);
    Instruments& instruments = const_cast<Instruments&>(r.core->GetInstruments());
    instruments.generator1->Write("SOUR:POW:LEV -10");
    r.rig.Traffic();
    AdjustLevel(instruments);
    std::vector<std::string> levels;
    for (const auto& text : ProcedureRig::Received(r.rig.Traffic(), "gen1")) {
        if (text.rfind("SOUR:POW:LEV ", 0) == 0) levels.push_back(text.substr(13));
    }
    ASSERT_EQ(levels.size(), 40u + 50u + 1u);
    EXPECT_EQ(levels.front(), "-11.000000");
    EXPECT_EQ(levels[39], "-9.050000");
    const double coarseBest = ParseLeadingDouble(levels[40]) + 0.025;
    EXPECT_NEAR(ParseLeadingDouble(levels[89]), coarseBest + 0.024, 1e-9);
}

TEST(LevelAdjustment, EqualReadingsKeepTheLowerSetting) {
    sim::BenchOptions options;
    options.faults.push_back({sim::InstrumentId::Analyzer, sim::FaultKind::Garbage, 0});  // every reading 0 dBm
    RunRig r(sim::Wiring::RfB, options);
    Instruments& instruments = const_cast<Instruments&>(r.core->GetInstruments());
    instruments.generator1->Write("SOUR:POW:LEV -10");
    r.rig.Traffic();
    AdjustLevel(instruments);
    const auto gen1 = ProcedureRig::Received(r.rig.Traffic(), "gen1");
    ASSERT_GE(gen1.size(), 2u);
    EXPECT_EQ(gen1[gen1.size() - 2], "SOUR:POW:LEV -11.025000");
}

TEST(LevelAdjustment, DeepensTheCancellationOfAMismatchedBench) {
    sim::BenchOptions options;
    options.physics.levelMismatchDb = 0.4;
    RunRig r(sim::Wiring::RfB, options);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(r.rig.Directory());
    sim::WriteWaveformFile("dc.wv", nullptr);
    r.core->SetupGenerators();
    std::filesystem::current_path(previous);
    Instruments& instruments = const_cast<Instruments&>(r.core->GetInstruments());
    instruments.generator1->Query("FREQ 500000000;*OPC?");
    SetupAnalyzer(instruments, true);
    double phase = 0.0;
    MeasurePhase(instruments, {true, 1, false}, phase, r.window);
    auto depth = [&] {
        instruments.analyzer->Write("INIT:CONT OFF");
        instruments.analyzer->Write("INIT;*WAI");
        return ParseLeadingDouble(instruments.analyzer->Query("CALC1:MARK1:Y?"));
    };
    const double before = depth();
    AdjustLevel(instruments);
    const double after = depth();
    std::printf("cancellation %.2f dBm before, %.2f dBm after the level adjustment\n", before, after);
    EXPECT_LE(after, before - 20.0);
}

}  // namespace
