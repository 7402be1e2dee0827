#include <gtest/gtest.h>

#include <memory>

#include "ConnectInstruments.h"
#include "MessageSink.h"
#include "RecordingWindow.h"
#include "ScriptedInstrument.h"
#include "visa/InProcess.h"

using Texts = std::vector<std::string>;

namespace {

class ConnectInstrumentsTest : public ::testing::Test {
protected:
    void SetUp() override { SetMessageSink([this](const std::string& text) { window.ShowWarning(text); }); }
    void TearDown() override { SetMessageSink({}); }
    void AttachAll() {
        for (const char* name : {"GPIB0::28::INSTR", "GPIB0::27::INSTR", "GPIB0::20::INSTR"}) {
            auto instrument = std::make_shared<ScriptedInstrument>();
            instrument->idn = std::string("Maltoven,") + name + "\n";
            links.push_back(visa::AttachInProcess(name, instrument));
            attached.push_back(instrument);
        }
    }
    void DialogAnswers(bool ok, const char* analyzer, int useRfB) {
        window.connectDialog = [=](ConnectValues& v) {
            v.visaAnalyzer = analyzer;
            v.useRfB = useRfB;
            return ok;
        };
    }

    std::vector<std::shared_ptr<ScriptedInstrument>> attached;
    std::vector<std::unique_ptr<visa::InProcessAttachment>> links;
    RecordingWindow window;
    Instruments instruments;
    ConnectValues values{"28", "27", "20", 1};
};

TEST_F(ConnectInstrumentsTest, WithNoInstrumentsBothAreReportedMissingAndTheRunButtonsDisabled) {
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(instruments.connectionText, "No generator found on 28!\nNo analyzer found on 20!");
    EXPECT_FALSE(instruments.connected);
    EXPECT_EQ(window.warnings, (Texts{"Cannot open device GPIB0::28::INSTR", "Cannot open device GPIB0::20::INSTR"}));
    EXPECT_EQ(window.log, (Texts{"connect dialog", "warning", "warning", "refresh", "enable StartSweep 0",
                                 "enable GetPhaseSingle 0", "enable GetPhaseCont 0"}));
}

TEST_F(ConnectInstrumentsTest, TheDialogsValuesCountOnlyWithOkAndRfBLeavesGeneratorTwoAlone) {
    AttachAll();
    DialogAnswers(false, "21", 0);  // closed without OK: the old values connect
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(values.visaAnalyzer, "20");
    EXPECT_TRUE(instruments.connected);
    EXPECT_FALSE(instruments.generator2);
    EXPECT_TRUE(attached[1]->Received().empty());
    EXPECT_EQ(instruments.connectionText, "Maltoven,GPIB0::28::INSTR\nMaltoven,GPIB0::20::INSTR");

    DialogAnswers(true, "21", 0);
    ConnectInstruments(instruments, values, window);
    EXPECT_EQ(values.visaAnalyzer, "21");
    EXPECT_FALSE(instruments.connected);
    EXPECT_EQ(attached[1]->Received(), (Texts{"*IDN?\n", "*IDN?\n", "*CLS\n"}));
    EXPECT_EQ(instruments.connectionText,
              "Maltoven,GPIB0::28::INSTR\nMaltoven,GPIB0::27::INSTR\nNo analyzer found on 21!");
    EXPECT_EQ(window.log.back(), "enable GetPhaseCont 0");
}

TEST(ModelFamily, VrtCountsOnlyAfterTheFirstCharacterAndTheFirstOccurrenceDecides) {
    EXPECT_TRUE(IsVrtFamily("Maltoven,VRT100A,1,1"));
    for (const char* other : {"VRT100A,1,1", "Maltoven,VRQ200A,1,1", "", "VRT,VRT"}) EXPECT_FALSE(IsVrtFamily(other));
}

}  // namespace
