#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/core/MeasurementCore.h"
#include "measure/SetupAnalyzer.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScriptedInstrument.h"
#include "visa/InProcess.h"

using namespace korvel;

namespace {

// Opens sessions as the connection procedure would, so the end of the program can be observed.
class OpenedCore : public MeasurementCore {
public:
    using MeasurementCore::MeasurementCore;
    Instruments& Sessions() { return m_instruments; }
    void OpenAll() {
        m_instruments.generator1 = std::make_unique<CVisaDevice>(m_settings.VisaGenerator1);
        m_instruments.analyzer = std::make_unique<CVisaDevice>(m_settings.VisaAnalyzer);
        m_instruments.connected = true;
    }
};

// Notes, at the first write, whether the instruments' links were already closed.
class OrderCheckingStore : public MemorySettingsStore {
public:
    std::function<bool()> linksClosed;
    bool closedBeforeFirstWrite = false;
    void WriteString(const std::string& key, const std::string& value) override {
        if (writes.empty())
            closedBeforeFirstWrite = linksClosed();
        MemorySettingsStore::WriteString(key, value);
    }
};

TEST(MeasurementCore, LoadsOnConstructionAndOnDestructionClosesSessionsBeforeSaving) {
    auto genLink =
        visa::AttachInProcess("GPIB0::28::INSTR", std::make_shared<ScriptedInstrument>());
    auto analyzerLink =
        visa::AttachInProcess("GPIB0::20::INSTR", std::make_shared<ScriptedInstrument>());
    auto closed = [](const visa::InProcessAttachment& a) {
        auto events = a.Events();
        return !events.empty() && events.back().kind == visa::IoEvent::Kind::Close;
    };
    OrderCheckingStore store;
    store.values["StartFreq"] = std::string("123.5");
    store.linksClosed = [&] { return closed(*genLink) && closed(*analyzerLink); };
    RecordingWindow window;
    {
        OpenedCore core(store, window);
        EXPECT_EQ(core.Settings().StartFreq, 123.5);
        EXPECT_TRUE(store.writes.empty());
        core.OpenAll();
        core.Settings().StopLevel = 7.25;
        EXPECT_TRUE(window.log.empty());  // construction touches no window and no instrument
    }
    EXPECT_TRUE(store.closedBeforeFirstWrite);
    EXPECT_EQ(store.Text("StopLevel"), "7.250000");
}

// Generator 1 and the analyzer scripted, with a sweep file in a directory of the core's own.
struct ScriptedBench {
    std::shared_ptr<ScriptedInstrument> generator = std::make_shared<ScriptedInstrument>();
    std::shared_ptr<ScriptedInstrument> analyzer = std::make_shared<ScriptedInstrument>();
    std::unique_ptr<visa::InProcessAttachment> links[2] = {
        visa::AttachInProcess("GPIB0::28::INSTR", generator),
        visa::AttachInProcess("GPIB0::20::INSTR", analyzer)};
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("korvel-core-" + std::to_string(::getpid()));
    MemorySettingsStore store;
    RecordingWindow window;
    OpenedCore core{store, window};

    ScriptedBench() {
        std::filesystem::create_directories(dir);
        core.SetWorkingDirectory(dir);
        core.OpenAll();
    }
    ~ScriptedBench() { std::filesystem::remove_all(dir); }
    void SweepFile(const std::string& lines) const {
        std::ofstream(dir / "PhaseLogSweep.csv", std::ios::binary)
            << "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 35.000;\r\n"
            << lines;
    }
    void Replies(std::initializer_list<const char*> replies) const {
        for (const char* reply : replies)
            generator->QueueReply(std::string(reply) + "\n");
    }
    // What generator 1 was sent, each text starting with prefix.
    std::vector<std::string> Sent(const std::string& prefix) const {
        std::vector<std::string> sent;
        for (const std::string& m : generator->Received()) {
            if (m.rfind(prefix, 0) == 0)
                sent.push_back(m);
        }
        return sent;
    }
};

// A frequency or level that is no number, or a lookup that the file cannot answer, sets no
// offset: neither a NaN nor the previous result goes out. The plain table holds 170 and 190
// degrees at 10 and 20 MHz; at 15 MHz the paths are in phase at 0 degrees.
TEST(AdjustToZero, SetsOnlyAFiniteOffsetAndSaysWhyNoneWasSet) {
    const std::string plain = "Level ;10.00;20.00;\r\n-10.00;170.000;190.000;\r\n";
    const std::string steep = "Level ;10.00;20.00;\r\n-10.00;0.000;100000000000.000;\r\n";
    const std::string tinyStep = "Level ;0;1e-310;\r\n-10.00;170.000;190.000;\r\n";
    const struct {
        const std::string& file;
        const char *frequency, *level, *status;
    } cases[] = {
        {plain, "inf", "-10",
         "No adjustment to 0°: generator 1's frequency is not a finite number."},
        {plain, "nan", "-10",
         "No adjustment to 0°: generator 1's frequency is not a finite number."},
        {plain, "15e6", "-inf", "No adjustment to 0°: generator 1's level is not a finite number."},
        {steep, "1e308", "-10",
         "No adjustment to 0°: PhaseLogSweep.csv gives no offset at generator 1's frequency and level."},  // the fit overflows
        {tinyStep, nullptr, nullptr, "Error reading PhaseLogSweep.csv - no adjustment possible!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + (c.frequency ? c.frequency : ""));
        ScriptedBench bench;
        bench.SweepFile(c.file);
        if (c.frequency)
            bench.Replies({c.frequency, c.level});
        bench.core.OnAdjustToZero();
        EXPECT_EQ(bench.Sent("FREQ?").size(), c.frequency ? 1u : 0u);
        EXPECT_TRUE(bench.Sent("SOURCE1:BB:POFF").empty());
        EXPECT_EQ(bench.core.PhaseResult(), 0.0);
        EXPECT_EQ(bench.core.StatusText(), c.status);

        // The failure text goes with the next adjustment that succeeds.
        bench.SweepFile(plain);
        bench.Replies({"15000000", "-10", "1"});
        bench.core.OnAdjustToZero();
        EXPECT_EQ(bench.Sent("SOURCE1:BB:POFF"),
                  std::vector<std::string>{"SOURCE1:BB:POFF 0.00DEG\n"});
        EXPECT_EQ(bench.core.StatusText(), "");
    }
}

// A level that reads as no number is not scanned around nor sent to the analyzer.
TEST(AdjustLevels, ALevelThatIsNoNumberIsNeitherScannedNorSent) {
    ScriptedBench bench;
    bench.Replies({"1e9", "nan"});
    SetupAnalyzer(bench.core.Sessions(), true);
    for (const std::string& m : bench.analyzer->Received()) {
        EXPECT_EQ(m.find("nan"), std::string::npos) << m;
        EXPECT_EQ(m.find("RLEV"), std::string::npos) << m;
    }
    bench.generator->ClearReceived();
    bench.Replies({"nan"});
    bench.core.OnAdjustLevels();
    EXPECT_EQ(bench.Sent("SOUR:POW:LEV"), std::vector<std::string>{"SOUR:POW:LEV?\n"});
    EXPECT_EQ(bench.core.StatusText(),
              "No level adjustment: generator 1's level is not a finite number.");
    EXPECT_EQ(bench.analyzer->Received().back(), "INIT:CONT ON\n");
}

}  // namespace
