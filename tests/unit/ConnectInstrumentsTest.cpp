#include <gtest/gtest.h>

#include <memory>

#include "instrument/ConnectInstruments.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScriptedInstrument.h"
#include "visa/InProcess.h"

// The missing instruments, their boxes and the button states, and the dialog's OK and cancel are
// shown through the real window in the gui tests; here the RF B switch and the model family.
namespace {

TEST(ConnectInstruments, WithRfBGeneratorTwoIsLeftAloneAndOtherwiseProbedIdentifiedAndCleared) {
    std::vector<std::shared_ptr<ScriptedInstrument>> attached;
    std::vector<std::unique_ptr<visa::InProcessAttachment>> links;
    for (const char* name : {"GPIB0::28::INSTR", "GPIB0::27::INSTR", "GPIB0::20::INSTR"}) {
        attached.push_back(std::make_shared<ScriptedInstrument>());
        attached.back()->idn = std::string("Maltoven,") + name + "\n";
        links.push_back(visa::AttachInProcess(name, attached.back()));
    }
    RecordingWindow window;
    Instruments instruments;
    ConnectValues values{"28", "27", "20", 1};
    ConnectInstruments(instruments, values, window);
    EXPECT_TRUE(instruments.connected);
    EXPECT_FALSE(instruments.generator2);
    EXPECT_TRUE(attached[1]->Received().empty());
    EXPECT_EQ(instruments.connectionText, "Maltoven,GPIB0::28::INSTR\nMaltoven,GPIB0::20::INSTR");

    window.connectDialog = [](ConnectValues& v) {
        v.useRfB = 0;  // OK with RF B off
        return true;
    };
    EXPECT_TRUE(ConnectInstruments(instruments, values, window));
    EXPECT_TRUE(instruments.connected);
    EXPECT_EQ(attached[1]->Received(), (std::vector<std::string>{"*IDN?\n", "*IDN?\n", "*CLS\n"}));
    EXPECT_EQ(instruments.connectionText,
              "Maltoven,GPIB0::28::INSTR\nMaltoven,GPIB0::27::INSTR\nMaltoven,GPIB0::20::INSTR");
    links[1].reset();  // generator 2 gone: not connected
    EXPECT_FALSE(ConnectInstruments(instruments, values, window));
}

TEST(ConnectInstruments, VrtCountsOnlyAfterTheFirstCharacterAndTheFirstOccurrenceDecides) {
    EXPECT_TRUE(IsVrtFamily("Maltoven,VRT100A,1,1"));
    for (const char* other : {"VRT100A,1,1", "Maltoven,VRQ200A,1,1", "", "VRT,VRT"}) EXPECT_FALSE(IsVrtFamily(other));
}

}  // namespace
