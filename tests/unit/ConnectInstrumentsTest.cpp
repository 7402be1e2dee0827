#include <gtest/gtest.h>

#include <memory>

#include "ConnectInstruments.h"
#include "MessageSink.h"
#include "RecordingWindow.h"
#include "ScriptedInstrument.h"
#include "visa/InProcess.h"

namespace {

class ConnectInstrumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageSink([this](const std::string& text) { window.ShowWarning(text); });
        gen1->idn = "Maltoven,VRT100A,100001,4.70\n";
        gen2->idn = "Maltoven,VRQ200A,100023,4.70\n";
        analyzer->idn = "Maltoven,ZAQ26,100999,2.10\n";
    }
    void TearDown() override { SetMessageSink({}); }
    void AttachAll() {
        gen1Link = visa::AttachInProcess("GPIB0::28::INSTR", gen1);
        gen2Link = visa::AttachInProcess("GPIB0::27::INSTR", gen2);
        analyzerLink = visa::AttachInProcess("GPIB0::20::INSTR", analyzer);
    }

    std::shared_ptr<ScriptedInstrument> gen1 = std::make_shared<ScriptedInstrument>();
    std::shared_ptr<ScriptedInstrument> gen2 = std::make_shared<ScriptedInstrument>();
    std::shared_ptr<ScriptedInstrument> analyzer = std::make_shared<ScriptedInstrument>();
    std::unique_ptr<visa::InProcessAttachment> gen1Link, gen2Link, analyzerLink;
    RecordingWindow window;
    Instruments instruments;
    ConnectValues values{"28", "27", "20", 1};
};

TEST_F(ConnectInstrumentsTest, DefaultsWithNoInstrumentsReportBothMissingAndDisableTheButtons) {
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(instruments.connectionText, "No generator found on 28!\nNo analyzer found on 20!");
    EXPECT_FALSE(instruments.connected);
    EXPECT_FALSE(instruments.generator2);
    EXPECT_EQ(window.warnings, (std::vector<std::string>{"Cannot open device GPIB0::28::INSTR",
                                                          "Cannot open device GPIB0::20::INSTR"}));
    EXPECT_EQ(window.log, (std::vector<std::string>{"connect dialog", "warning", "warning", "refresh",
                                                     "enable StartSweep 0", "enable GetPhaseSingle 0",
                                                     "enable GetPhaseCont 0"}));
}

TEST_F(ConnectInstrumentsTest, EachInstrumentIsProbedIdentifiedAndClearedAndTheFlagsFollowTheReplies) {
    AttachAll();
    values.useRfB = 0;
    ConnectInstruments(instruments, values, window);
    const std::vector<std::string> sequence{"*IDN?\n", "*IDN?\n", "*CLS\n"};
    EXPECT_EQ(gen1->Received(), sequence);
    EXPECT_EQ(gen2->Received(), sequence);
    EXPECT_EQ(analyzer->Received(), sequence);
    EXPECT_EQ(instruments.connectionText,
              "Maltoven,VRT100A,100001,4.70\nMaltoven,VRQ200A,100023,4.70\nMaltoven,ZAQ26,100999,2.10");
    EXPECT_TRUE(instruments.connected);
    EXPECT_TRUE(instruments.generator1IsVrt);
    EXPECT_FALSE(instruments.generator2IsVrt);
    EXPECT_EQ(window.log.back(), "enable GetPhaseCont 1");

    // RF B switched on: no generator 2 session, the text has two lines.
    gen2->ClearReceived();
    window.connectDialog = [](ConnectValues& v) {
        v.useRfB = 1;
        return true;
    };
    ConnectInstruments(instruments, values, window);
    EXPECT_FALSE(instruments.generator2);
    EXPECT_TRUE(gen2->Received().empty());
    EXPECT_EQ(instruments.connectionText, "Maltoven,VRT100A,100001,4.70\nMaltoven,ZAQ26,100999,2.10");
    EXPECT_TRUE(instruments.connected);
}

TEST_F(ConnectInstrumentsTest, ACancelledDialogReconnectsWithTheOldValues) {
    AttachAll();
    window.connectDialog = [](ConnectValues& v) {
        v.visaAnalyzer = "21";
        return false;  // closed without OK
    };
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(values.visaAnalyzer, "20");
    EXPECT_TRUE(instruments.connected);

    window.connectDialog = [](ConnectValues& v) {
        v.visaAnalyzer = "21";
        return true;
    };
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(values.visaAnalyzer, "21");
    EXPECT_FALSE(instruments.connected);
    EXPECT_EQ(instruments.connectionText, "Maltoven,VRT100A,100001,4.70\nNo analyzer found on 21!");
    EXPECT_EQ(window.log.back(), "enable GetPhaseCont 0");
}

TEST_F(ConnectInstrumentsTest, AnInstrumentThatFailsTheProbeGetsOnlyTheProbe) {
    AttachAll();
    analyzerLink->SetReadTimesOut(true);
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(analyzer->Received(), std::vector<std::string>{"*IDN?\n"});
    EXPECT_EQ(window.warnings, std::vector<std::string>{"Cannot read *IDN from device GPIB0::20::INSTR"});
    EXPECT_FALSE(instruments.connected);
}

TEST(ModelFamily, VrtCountsOnlyAfterTheFirstCharacter) {
    EXPECT_TRUE(IsVrtFamily("Maltoven,VRT100A,1,1"));
    EXPECT_FALSE(IsVrtFamily("VRT100A,1,1"));
    EXPECT_FALSE(IsVrtFamily("Maltoven,VRQ200A,1,1"));
    EXPECT_FALSE(IsVrtFamily(""));
    EXPECT_FALSE(IsVrtFamily("VRT,VRT"));  // the first occurrence decides
}

}  // namespace
