// korvel-scpi's work on Korvel's session code, against in-process instruments.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CVisaDevice.h"
#include "MessageSink.h"
#include "ScpiConsole.h"
#include "ScriptedInstrument.h"
#include "visa/InProcess.h"

using namespace visa;

namespace {

class ScpiConsole : public ::testing::Test {
protected:
    void SetUp() override {
        instrument = std::make_shared<ScriptedInstrument>();
        attachment = AttachInProcess("GPIB0::28::INSTR", instrument);
    }
    int Run(ScpiConsoleOptions options, const std::string& input = {}, bool interactive = false) {
        std::istringstream in(input);
        out.str({});
        err.str({});
        return RunScpiConsole(options, in, interactive, out, err);
    }

    std::shared_ptr<ScriptedInstrument> instrument;
    std::unique_ptr<InProcessAttachment> attachment;
    std::ostringstream out, err;
};

TEST_F(ScpiConsole, SendsEachCommandAndPrintsTheReplyOfEachQuery) {
    instrument->QueueReply("-42.50\n");
    EXPECT_EQ(Run({"28", {"FREQ 1000000000", "CALC1:MARK1:Y?"}, 3000}), kConsoleOk);
    EXPECT_EQ(out.str(), "-42.50\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(instrument->Received(),
              (std::vector<std::string>{"*IDN?\n", "FREQ 1000000000\n", "CALC1:MARK1:Y?\n"}));
    // The identification ran at the library default; the commands at the chosen timeout.
    const auto events = attachment->Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[1].timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(events[events.size() - 2].kind, IoEvent::Kind::Read);  // the last before the close
    EXPECT_EQ(events[events.size() - 2].timeoutMs, 3000u);
}

TEST_F(ScpiConsole, ReadsCommandsLineByLineWithAPromptOnATerminal) {
    instrument->QueueReply("1\n");
    EXPECT_EQ(Run({"GPIB0::28::INSTR", {"-", "*CLS"}, {}}, "  *RST \r\n\n*OPC?\n", true), kConsoleOk);
    EXPECT_EQ(out.str(), "GPIB0::28::INSTR> GPIB0::28::INSTR> GPIB0::28::INSTR> 1\nGPIB0::28::INSTR> \n");
    EXPECT_EQ(instrument->Received(), (std::vector<std::string>{"*IDN?\n", "*RST\n", "*OPC?\n", "*CLS\n"}));
}

TEST_F(ScpiConsole, FailuresStopTheRunWithKorvelsMessageAndExitCodeOne) {
    EXPECT_EQ(Run({"27", {"*RST"}, {}}), kConsoleFailed);
    EXPECT_EQ(err.str(), "korvel-scpi: Cannot open device GPIB0::27::INSTR\n");

    // A query nobody answers: the read times out, later commands are not sent.
    EXPECT_EQ(Run({"28", {"A?", "B"}, 100}), kConsoleFailed);
    EXPECT_EQ(err.str(), "korvel-scpi: Cannot read from device GPIB0::28::INSTR\n");
    EXPECT_EQ(out.str(), "");

    // The instrument drops the link after the identification and one command.
    instrument->ClearReceived();
    attachment->SetLostAfterMessages(3);
    EXPECT_EQ(Run({"28", {"A", "B", "C"}, {}}), kConsoleFailed);
    EXPECT_EQ(err.str(), "korvel-scpi: Cannot write to device GPIB0::28::INSTR\n");
    EXPECT_EQ(instrument->Received(), (std::vector<std::string>{"*IDN?\n", "A\n"}));
}

TEST(OpenWithoutATransport, GpibAndUsbResourcesAreNotFoundWithKorvelsMessage) {
    std::vector<std::string> messages;
    SetMessageSink([&](const std::string& text) { messages.push_back(text); });
    {
        CVisaDevice gpib("28");
        CVisaDevice usb("USB0::0x1234::0x5678::SN1::INSTR");
        EXPECT_EQ(gpib.Status(), VI_ERROR_RSRC_NFOUND);
        EXPECT_EQ(usb.Status(), VI_ERROR_RSRC_NFOUND);
    }
    SetMessageSink({});
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot open device GPIB0::28::INSTR",
                                                  "Cannot open device USB0::0x1234::0x5678::SN1::INSTR"}));
}

}  // namespace
