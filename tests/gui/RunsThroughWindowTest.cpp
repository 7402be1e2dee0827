// The sweep and "Adjust to 0°" through the real window, its buttons and its 100 ms timer, against
// the simulated bench served over HiSLIP on loopback (127.6.0.1): the phases found match the
// bench's truth.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <array>
#include <fstream>

#include "GuiTestSupport.h"
#include "app/ui/CMeasurementDialog.h"
#include "instrument/CVisaDevice.h"
#include "instrument/NumberText.h"
#include "runs/CSweepTable.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/ServedBench.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WorkDirectory.h"

using namespace korvel;

namespace {

class RunsThroughWindow : public ::testing::Test {
protected:
    void Start(sim::BenchOptions options = {}) {
        work = std::make_unique<WorkDirectory>("korvel-window-runs");
        options.speed.fast = true;
        options.logPath = (work->Path() / "traffic.log").string();
        served = std::make_unique<ServedBench>(options, "127.6.0.1", true);
        ASSERT_TRUE(served->started) << served->diagnostics;
        store.values["VisaGenerator1"] = served->Resource(sim::InstrumentId::Generator1);
        store.values["VisaGenerator2"] = served->Resource(sim::InstrumentId::Generator2);
        store.values["VisaAnalyzer"] = served->Resource(sim::InstrumentId::Analyzer);
        driver.onConnect = [](CConnectDialog& d) { d.findChild<QPushButton*>("IDOK")->click(); };
        dialog = std::make_unique<CMeasurementDialog>(store);
        dialog->show();
        ASSERT_TRUE(dialog->IsConnected()) << dialog->GetInstruments().connectionText;
        Click(CMeasurementDialog::IDC_SETUP);
    }
    void TearDown() override {
        dialog.reset();
        served.reset();
        work.reset();
    }
    void Click(int id) {
        auto* button = dialog->findChild<QPushButton*>(CMeasurementDialog::ControlName(id));
        ASSERT_TRUE(button && button->isEnabled()) << id;
        button->click();
    }
    // Start, stop and step of frequency, then of level; then the sweep runs to its end.
    void Sweep(std::array<const char*, 6> texts) {
        const int ids[] = {CMeasurementDialog::IDC_START_FREQ, CMeasurementDialog::IDC_STOP_FREQ,
                           CMeasurementDialog::IDC_STEP_FREQ,  CMeasurementDialog::IDC_START_LEVEL,
                           CMeasurementDialog::IDC_STOP_LEVEL, CMeasurementDialog::IDC_STEP_LEVEL};
        for (int i = 0; i < 6; ++i)
            dialog->findChild<QLineEdit*>(CMeasurementDialog::ControlName(ids[i]))
                ->setText(texts[i]);
        Click(CMeasurementDialog::IDC_START_SWEEP);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->RunActive(); }, 120000));
        EXPECT_EQ(dialog->StatusText(), "File PhaseLogSweep.csv written");
    }
    // Generator 1 (both paths) through the window's own session.
    std::string Generator(const std::string& command) {
        return dialog->GetInstruments().generator1->Query(command);
    }
    void Tune(double frequencyHz, double levelDbm) {
        Generator("FREQ " + FormatFixed(frequencyHz, 0) + ";*OPC?");
        Generator("SOURCE1:POW:POW " + FormatFixed(levelDbm, 1) + ";*OPC?");
        Generator("SOURCE2:POW:POW " + FormatFixed(levelDbm, 1) + ";*OPC?");
    }
    size_t Logged(const std::string& needle) const {
        std::ifstream in(work->Path() / "traffic.log");
        size_t n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find(needle) != std::string::npos;
        return n;
    }

    QApplication& application = TestApplication();
    MemorySettingsStore store;
    ModalDriver driver;
    std::unique_ptr<ServedBench> served;
    std::unique_ptr<CMeasurementDialog> dialog;
    std::unique_ptr<WorkDirectory> work;
};

TEST_F(RunsThroughWindow, ASweepThenAdjustToZeroBetweenGridPoints) {
    Start();
    Sweep({"100", "300", "100", "-25", "-10", "5"});  // 3 frequencies by 4 levels
    CSweepTable table("PhaseLogSweep.csv");
    ASSERT_TRUE(table.IsLoaded()) << table.Error();
    ASSERT_TRUE(table.RowCount() == 4 && table.ColumnCount() == 3);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) {
            Tune((100 + 100 * column) * 1e6, -25 + 5 * row);
            EXPECT_LE(CircleDistance(table.RawCell(row, column), served->bench.TruthPhaseDeg()),
                      0.1)
                << row << "," << column;
        }
    }

    // Between grid points the paths come out in phase: gen 1's offset minus the second path's is
    // the cancellation offset plus 180 degrees.
    Tune(150e6, -17.5);
    Click(CMeasurementDialog::IDC_ADJUST_TO_ZERO);
    const double secondPath = ParseLeadingDouble(Generator("SOURCE2:BB:POFF?"));
    const double firstPath = ParseLeadingDouble(Generator("SOURCE1:BB:POFF?"));
    EXPECT_NEAR(firstPath, dialog->PhaseResult(), 0.005);
    EXPECT_LE(CircleDistance(firstPath - secondPath, served->bench.TruthPhaseDeg() + 180.0), 0.5);
}

TEST_F(RunsThroughWindow, TicksInsideAnErrorBoxDuringAStepStartNoStepAndStopNothing) {
    sim::BenchOptions options;
    options.faults.push_back({sim::InstrumentId::Generator1, sim::FaultKind::Errors, 0});
    Start(options);
    // Qt does not hand a timer's own tick to it again while its handler waits in a box, so the
    // ticks a nested loop could bring (as window timers do elsewhere) are delivered by hand,
    // inside each real error box, before OK is pressed.
    int boxes = 0;
    int stepsDuringBoxes = 0;
    bool stoppedInBox = false;
    driver.onMessage = [&](QMessageBox& box) {
        ++boxes;
        const int before = dialog->Sweep().CompletedSteps();
        for (int i = 0; i < 5; ++i) {
            dialog->OnTimer();
            QTest::qWait(20);
        }
        stepsDuringBoxes += dialog->Sweep().CompletedSteps() - before;
        stoppedInBox = stoppedInBox || !dialog->RunActive();
        box.button(QMessageBox::Ok)->click();
    };
    Sweep({"100", "200", "100", "-20", "-20", "5"});  // two points
    EXPECT_EQ(boxes, 2 * 3);                          // a box per generator command, per step
    EXPECT_EQ(stepsDuringBoxes, 0);
    EXPECT_FALSE(stoppedInBox);
    EXPECT_EQ(Logged("gen1 < FREQ 100000000;*OPC?"), 1u);
    EXPECT_EQ(Logged("gen1 < FREQ 200000000;*OPC?"), 1u);
    EXPECT_EQ(dialog->Sweep().CompletedSteps(), 2);
}

#ifdef KORVEL_RUN_PATH
TEST_F(RunsThroughWindow, KorvelRunWritesTheWindowsSweepFileOnTheSameSeededBench) {
    Start();
    Sweep({"100", "300", "100", "-25", "-20", "5"});
    std::ifstream windowFile("PhaseLogSweep.csv", std::ios::binary);
    std::vector<std::string> window;
    for (std::string line; std::getline(windowFile, line);)
        window.push_back(line);
    ASSERT_EQ(window.size(), 5u);

    // The same bench afresh, now for korvel-run, which reaches it by the servers' own port.
    dialog.reset();
    served.reset();
    sim::BenchOptions options;
    options.speed.fast = true;
    served = std::make_unique<ServedBench>(options, "127.6.0.2", true);
    ASSERT_TRUE(served->started) << served->diagnostics;
    std::string command = "env XDG_CONFIG_HOME=" + (work->Path() / "config").string() +
                          " KORVEL_VISA_LIBRARY=builtin timeout 60 " KORVEL_RUN_PATH " -q";
    for (auto [flag, gpib] : {std::pair{"--gen1", "28"}, {"--gen2", "27"}, {"--analyzer", "20"}})
        command += std::string(" ") + flag + " TCPIP::127.6.0.2::hislip" + gpib + "," +
                   std::to_string(served->server.Endpoints().at(0).hislipPort) + "::INSTR";
    ASSERT_EQ(RunProgram(command + " setup").exitCode, 0);
    const ProgramRun run =
        RunProgram(command + " sweep --freq 100:300:100 --level -25:-20:5 -o run.csv");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ifstream runFile("run.csv", std::ios::binary);
    std::vector<std::string> headless;
    for (std::string line; std::getline(runFile, line);)
        headless.push_back(line);
    ASSERT_EQ(headless.size(), window.size());
    for (size_t i = 0; i < window.size(); ++i) {
        if (window[i].rfind("Temperature", 0) != 0) {
            EXPECT_EQ(headless[i], window[i]) << i;
        }
    }
}
#endif

}  // namespace
