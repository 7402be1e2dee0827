// Every fault the simulator can inject, during each of the five procedures, over VXI-11 and
// HiSLIP, and once more for the three measuring procedures with the fast search chosen: the real
// window driven through its buttons and timer against korvel-sim's servers on
// loopback. This process takes the 127.10.0.0/16 block, one address per cell; ports are ephemeral.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "app/ui/CMeasurementDialog.h"
#include "instrument/CVisaDevice.h"
#include "measure/MeasurePhase.h"
#include "sim/core/Bench.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/FaultCells.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/ServedBench.h"

using namespace korvel;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using namespace fault_cells;

std::string Name(const testing::TestParamInfo<Cell>& info) {
    return CellName(info.param);
}

// The real window on a simulated bench served on loopback, in a temporary working directory.
class WindowOnBench : public ::testing::Test {
protected:
    void Prepare(int block, Transport transport) {
        c.transport = transport;
        address = "127.10." + std::to_string(block) + ".1";
        directory = fs::temp_directory_path() / ("korvel-e2e-" + std::to_string(::getpid()));
        fs::create_directories(directory);
        previous = fs::current_path();
        fs::current_path(directory);
        ASSERT_TRUE(sim::WriteWaveformFile("dc.wv", nullptr));

        auto name = [&](int gpib) {
            return "TCPIP::" + address +
                   "::" + (c.transport == Transport::Vxi11 ? "gpib0," : "hislip") +
                   std::to_string(gpib) + "::INSTR";
        };
        analyzerName = name(20);
        store.values["VisaGenerator1"] = name(28);
        store.values["VisaGenerator2"] = name(27);
        store.values["VisaAnalyzer"] = analyzerName;
        for (auto [key, value] : {std::pair{"StartFreq", "100"},
                                  {"StopFreq", "100"},
                                  {"StepFreq", "100"},
                                  {"StartLevel", "-20"},
                                  {"StopLevel", "-15"},
                                  {"StepLevel", "5"},
                                  {"Period", "0"}}) {
            store.values[key] = value;
        }
        driver.onConnect = [](CConnectDialog& d) { d.findChild<QPushButton*>("IDOK")->click(); };
    }
    void TearDown() override {
        dialog.reset();
        served.reset();
        if (!previous.empty())
            fs::current_path(previous);
        fs::remove_all(directory);
    }

    // A fresh bench and servers on the cell's address, as after a restart of korvel-sim.
    void Serve(std::vector<sim::Fault> faults = {}) {
        served.reset();  // its test ports go before the new ones are set
        sim::BenchOptions options;
        options.speed.fast = true;
        options.faults = std::move(faults);
        served = std::make_unique<ServedBench>(options, address, c.transport == Transport::HiSlip);
        ASSERT_TRUE(served->started) << served->diagnostics;
    }
    QPushButton* Button(int id) {
        return dialog->findChild<QPushButton*>(CMeasurementDialog::ControlName(id));
    }
    void Click(int id) {
        QPushButton* button = Button(id);
        ASSERT_TRUE(button && button->isEnabled()) << id;
        button->click();
    }
    void Open() {
        dialog = std::make_unique<CMeasurementDialog>(store);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }, 30000));
    }
    size_t Count(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& text : driver.MessageTexts())
            n += text.rfind(prefix, 0) == 0;
        return n;
    }

    QApplication& application = TestApplication();
    MemorySettingsStore store;
    ModalDriver driver;
    std::unique_ptr<ServedBench> served;
    std::unique_ptr<CMeasurementDialog> dialog;
    std::string address, analyzerName;
    fs::path directory, previous;
    Cell c{};
};

class FaultMatrix : public WindowOnBench, public ::testing::WithParamInterface<Cell> {
protected:
    void SetUp() override {
        const Cell cell = GetParam();
        Prepare(1 + static_cast<int>(cell.fault) * 10 + static_cast<int>(cell.procedure) * 2 +
                    static_cast<int>(cell.transport) + (cell.fast ? 100 : 0),
                cell.transport);
        c = cell;
        if (c.fast)
            store.values["Search"] = std::string("fast");
    }
};

TEST_P(FaultMatrix, NothingLostAndConnectBringsItBack) {
    Serve({FaultFor(c)});
    const auto started = Clock::now();
    Open();
    const bool connected = dialog->IsConnected();
    EXPECT_EQ(connected, Connects(c));
    if (!connected) {
        // Start, single and continuous stay disabled; the user sees why in the connection line.
        EXPECT_NE(dialog->GetInstruments().connectionText.find("No analyzer found on " +
                                                               analyzerName + "!"),
                  std::string::npos);
        EXPECT_FALSE(Button(CMeasurementDialog::IDC_GET_PHASE_SINGLE)->isEnabled());
        EXPECT_FALSE(Button(CMeasurementDialog::IDC_START_SWEEP)->isEnabled());
        EXPECT_FALSE(Button(CMeasurementDialog::IDC_GET_PHASE_CONT)->isEnabled());
    }
    if (connected)
        Click(CMeasurementDialog::IDC_SETUP);

    double before = dialog->PhaseResult();
    std::string levelBefore;
    switch (c.procedure) {
        case Procedure::Connect:
            break;
        case Procedure::Single:
            if (connected)
                Click(CMeasurementDialog::IDC_GET_PHASE_SINGLE);
            break;
        case Procedure::Sweep:
            if (!connected)
                break;
            Click(CMeasurementDialog::IDC_START_SWEEP);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->RunActive(); }, 60000));
            break;
        case Procedure::Continuous:
            if (!connected)
                break;
            Click(CMeasurementDialog::IDC_GET_PHASE_CONT);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return dialog->SampleCount() >= 3 ||
                           dialog->StatusText().rfind("Sample skipped", 0) == 0;
                },
                60000));
            // The run's texts name the fast search, whether a sample was taken or skipped.
            EXPECT_EQ(dialog->StatusText().find(" (fast search") != std::string::npos, c.fast)
                << dialog->StatusText();
            Click(CMeasurementDialog::IDC_STOP);
            break;
        case Procedure::AdjustLevels:
            // Without a connection the button connects first, and that is all it does.
            if (connected) {
                Click(CMeasurementDialog::IDC_GET_PHASE_SINGLE);
                before = dialog->PhaseResult();
                levelBefore = dialog->GetInstruments().generator1->Query("SOUR:POW:LEV?");
            }
            Click(CMeasurementDialog::IDC_ADJUST_LEVELS);
            break;
    }
    const double elapsedS = std::chrono::duration<double>(Clock::now() - started).count();

    // No wait beyond one session timeout per failed session (the probe's is shorter).
    EXPECT_LT(elapsedS,
              (c.fault == FaultKind::HangAfter ? 1 : 0) * CVisaDevice::kTimeoutMs / 1000.0 + 8.0);

    // One message per failed session, none for sessions that did not fail.
    const bool analyzerFailed = AnalyzerFails(c);
    const size_t failures =
        Count("Cannot open device") + Count("Cannot read *IDN") + Count("Cannot read from device");
    const size_t connects = (!connected && c.procedure == Procedure::AdjustLevels) ? 2 : 1;
    // A VXI-11 link that drops is first noticed by the next device_write; a failed send shows no
    // box, so those runs say it in the status line (below): the values are dropped all the same.
    const bool silentSend = c.fault == FaultKind::DropAfter && c.transport == Transport::Vxi11 &&
                            c.procedure != Procedure::Connect &&
                            c.procedure != Procedure::AdjustLevels;
    EXPECT_EQ(failures, analyzerFailed && !silentSend ? connects : 0)
        << testing::PrintToString(driver.MessageTexts());
    for (const auto& text : driver.MessageTexts()) {
        if (text.rfind("Cannot", 0) == 0) {
            EXPECT_NE(text.find(analyzerName), std::string::npos) << text;
        }
    }

    // Error-queue boxes: only the sweep reads the queues, one box per generator setting, each
    // listing bounded.
    EXPECT_EQ(Count("Error Queue of "), ErrorBoxes(c));
    for (const auto& text : driver.MessageTexts()) {
        if (text.rfind("Error Queue of ", 0) != 0)
            continue;
        const auto entries = std::count(text.begin(), text.end(), '\n') -
                             (c.fault == FaultKind::EndlessErrors ? 2 : 1);
        EXPECT_LE(entries, CVisaDevice::kMaxErrorEntries);
        EXPECT_EQ(text.find("(listing cut after 50 entries)") != std::string::npos,
                  c.fault == FaultKind::EndlessErrors);
    }

    // Values: a faulted reading is never a measurement; readings before the fault are kept.
    // Marker replies taken as 0 dBm would end the search on 120.059 degrees whatever the bench.
    const double truth = served->bench.TruthPhaseDeg();
    const bool readingsGood = ReadingsGood(c);
    const bool firstLost = FirstLost(c);
    switch (c.procedure) {
        case Procedure::Connect:
            break;
        case Procedure::Single:
        case Procedure::AdjustLevels:
            if (analyzerFailed || !connected || !readingsGood) {
                EXPECT_EQ(dialog->PhaseResult(), before);
            } else if (c.procedure == Procedure::Single) {
                EXPECT_LE(CircleDistance(dialog->PhaseResult(), truth), 0.2);
            }
            if (analyzerFailed && connected && c.procedure == Procedure::Single) {
                EXPECT_EQ(dialog->StatusText(), "No measurement: the session to " +
                                                    dialog->GetInstruments().analyzer->Resource() +
                                                    " failed.");
            }
            if (!readingsGood && c.procedure == Procedure::Single) {
                EXPECT_EQ(dialog->StatusText(),
                          "No measurement: the analyzer's marker readings carry no number.");
            }
            if (connected && (analyzerFailed || !readingsGood) &&
                c.procedure == Procedure::AdjustLevels) {
                // Without readings the level goes back to where it was, and the user is told why.
                EXPECT_EQ(dialog->GetInstruments().generator1->Query("SOUR:POW:LEV?"), levelBefore);
                EXPECT_EQ(
                    dialog->StatusText(),
                    "No level adjustment: " +
                        (readingsGood
                             ? "the session to " + dialog->GetInstruments().analyzer->Resource() +
                                   " failed"
                             : std::string("the analyzer's marker readings carry no number")) +
                        ".");
            }
            break;
        case Procedure::Sweep: {
            if (!connected)
                break;
            EXPECT_EQ(dialog->StatusText(), "File PhaseLogSweep.csv written");
            ExpectSweepFile(c, Lines("PhaseLogSweep.csv"), truth);
            break;
        }
        case Procedure::Continuous: {
            if (!connected)
                break;
            EXPECT_EQ(dialog->StatusText(), "File PhaseLogCont.csv written");
            EXPECT_GE(dialog->SampleCount(), readingsGood && !firstLost ? 1 : 0);
            ExpectLog(Lines("PhaseLogCont.csv"), Samples(c, dialog->SampleCount()), truth);
            break;
        }
    }
    std::cout << "[cell] " << Name({c, 0}) << " " << elapsedS << " s; status \""
              << dialog->StatusText() << "\"; phase " << dialog->PhaseResult() << "; boxes "
              << testing::PrintToString(driver.MessageTexts()).substr(0, 300) << std::endl;

    // korvel-sim restarted without the fault: "Connect ..." brings everything back.
    Serve();
    Click(CMeasurementDialog::IDC_CONNECT);
    ASSERT_TRUE(dialog->IsConnected())
        << dialog->GetInstruments().connectionText << testing::PrintToString(driver.MessageTexts());
    Click(CMeasurementDialog::IDC_SETUP);
    Click(CMeasurementDialog::IDC_GET_PHASE_SINGLE);
    EXPECT_LE(CircleDistance(dialog->PhaseResult(), served->bench.TruthPhaseDeg()), 0.2);
}

// Bad input at the level of the whole program; the parsers' own cases are unit-tested.
class BadInput : public WindowOnBench {
protected:
    void SetUp() override {
        Prepare(200 + ::testing::UnitTest::GetInstance()->current_test_info()->line() % 50,
                Transport::HiSlip);
        Serve();
    }
};

TEST_F(BadInput, SetupVrxLoadsUpTo9900BytesAndSaysWhenTheWaveformIsRefusedOrMissing) {
    Open();
    ASSERT_TRUE(dialog->IsConnected());
    const std::string refused = "dc.wv was not loaded into " +
                                dialog->GetInstruments().generator1->Resource() +
                                ": it is larger than 9900 bytes.";
    for (size_t size : {0u, 9900u, 9901u}) {
        std::ofstream("dc.wv", std::ios::binary) << std::string(size, 'w');
        driver.seen.clear();
        Click(CMeasurementDialog::IDC_SETUP);
        EXPECT_EQ(driver.MessageTexts(),
                  size > 9900 ? std::vector<std::string>{refused} : std::vector<std::string>{})
            << size;
    }
    fs::remove("dc.wv");
    driver.seen.clear();
    Click(CMeasurementDialog::IDC_SETUP);
    ASSERT_EQ(driver.MessageTexts().size(), 1u);
    EXPECT_NE(driver.MessageTexts()[0].find("dc.wv"), std::string::npos);
    EXPECT_TRUE(dialog->IsConnected());
}

TEST_F(BadInput, ResultFilesThatCannotBeWrittenAreReportedAndLeaveNothingBehind) {
    fs::create_directory("PhaseLogSweep.csv");
    fs::create_directory("PhaseLogCont.csv");
    Open();
    Click(CMeasurementDialog::IDC_SETUP);
    Click(CMeasurementDialog::IDC_START_SWEEP);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->RunActive(); }, 60000));
    EXPECT_EQ(dialog->StatusText(),
              "Error writing PhaseLogSweep.csv (opended with another program?)");
    EXPECT_TRUE(fs::is_directory("PhaseLogSweep.csv"));
    EXPECT_FALSE(fs::exists("PhaseLogSweep.csv.tmp"));
    Click(CMeasurementDialog::IDC_GET_PHASE_CONT);
    EXPECT_FALSE(dialog->RunActive());
    EXPECT_EQ(dialog->StatusText(),
              "Error writing PhaseLogCont.csv (opended with another program?)");

    // A read-only working directory (root writes anyway, so only checked where it bites).
    fs::remove("PhaseLogSweep.csv");
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
    const bool readOnly = !std::ofstream("probe").is_open();
    if (readOnly) {
        Click(CMeasurementDialog::IDC_START_SWEEP);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->RunActive(); }, 60000));
        EXPECT_EQ(dialog->StatusText(),
                  "Error writing PhaseLogSweep.csv (opended with another program?)");
        EXPECT_FALSE(fs::exists("PhaseLogSweep.csv"));
    }
    fs::permissions(directory, fs::perms::owner_all);
}

TEST_F(BadInput, AJunkStoreOpensTheWindowAndEveryUnusableValueIsRefused) {
    for (auto [key, value] : {std::pair{"StartFreq", "abc"},
                              {"StopFreq", "-1e400"},
                              {"StepFreq", "1e999"},
                              {"StartLevel", "nan"},
                              {"Period", "-5"},
                              {"Average", "-3"},
                              {"PhaseRotation", "x"},
                              {"UseRF_B", "99999999999999999999"}}) {
        store.values[key] = value;
    }
    Open();
    ASSERT_TRUE(dialog->IsConnected());
    const std::pair<int, std::vector<std::string>> refusals[] = {
        {CMeasurementDialog::IDC_START_SWEEP,
         {"The sweep cannot start: every sweep value must be a finite number."}},
        {CMeasurementDialog::IDC_GET_PHASE_CONT,
         {"The continuous measurement cannot start: Period/s must be a number from 0 to 214748364."}},
        {CMeasurementDialog::IDC_GET_PHASE_SINGLE, {}}};
    for (const auto& [id, messages] : refusals) {
        driver.seen.clear();
        Click(id);
        EXPECT_FALSE(dialog->RunActive());
        EXPECT_EQ(driver.MessageTexts(), messages);
    }
    EXPECT_FALSE(fs::exists("PhaseLogSweep.csv"));
    EXPECT_FALSE(fs::exists("PhaseLogCont.csv"));

    // Resource names of 10,000 characters, with control bytes, not ASCII: one message each.
    for (const std::string& junk :
         {std::string(10000, 'A'), std::string("12\x01\x7f\n\t;", 7),
          "TCPIP::" + address + "::hislip20\xc3\xa9\xe2\x84\xa2::INSTR"}) {
        dialog->Settings().VisaAnalyzer = junk;
        driver.seen.clear();
        Click(CMeasurementDialog::IDC_CONNECT);
        EXPECT_FALSE(dialog->IsConnected());
        EXPECT_EQ(
            driver.MessageTexts(),
            std::vector<std::string>{"Cannot open device " + CVisaDevice::NormaliseResource(junk)});
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultMatrix,
                         ::testing::ValuesIn(Cells({Procedure::Connect, Procedure::Single,
                                                    Procedure::Sweep, Procedure::Continuous,
                                                    Procedure::AdjustLevels})),
                         Name);

}  // namespace
