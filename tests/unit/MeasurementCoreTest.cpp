#include <gtest/gtest.h>

#include <memory>

#include "MeasurementCore.h"
#include "MemorySettingsStore.h"
#include "RecordingWindow.h"
#include "ScriptedInstrument.h"
#include "visa/InProcess.h"

namespace {

// Opens sessions as the connection procedure would, so the end of the program can be observed.
class OpenedCore : public MeasurementCore {
public:
    using MeasurementCore::MeasurementCore;
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
        if (writes.empty()) closedBeforeFirstWrite = linksClosed();
        MemorySettingsStore::WriteString(key, value);
    }
};

TEST(MeasurementCore, LoadsOnConstructionAndOnDestructionClosesSessionsBeforeSaving) {
    auto genLink = visa::AttachInProcess("GPIB0::28::INSTR", std::make_shared<ScriptedInstrument>());
    auto analyzerLink = visa::AttachInProcess("GPIB0::20::INSTR", std::make_shared<ScriptedInstrument>());
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

}  // namespace
