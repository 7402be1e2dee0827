// korvel-scpi's work on Korvel's session code, against in-process instruments.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ScriptedInstrument.h"
#include "tools/scpi/ScpiConsole.h"
#include "visa/InProcess.h"

using namespace korvel;

using namespace visa;
using Texts = std::vector<std::string>;

namespace {

class ScpiConsole : public ::testing::Test {
protected:
    int Run(ScpiConsoleOptions options, const std::string& input = {}, bool interactive = false) {
        std::istringstream in(input);
        out.str({});
        err.str({});
        return RunScpiConsole(options, in, interactive, out, err);
    }

    std::shared_ptr<ScriptedInstrument> instrument = std::make_shared<ScriptedInstrument>();
    std::unique_ptr<InProcessAttachment> attachment =
        AttachInProcess("GPIB0::28::INSTR", instrument);
    std::ostringstream out, err;
};

TEST_F(ScpiConsole, PrintsTheReplyOfEachQueryAndRunsTheCommandsAtTheChosenTimeout) {
    instrument->QueueReply("-42.50\n");
    EXPECT_EQ(Run({"28", {"FREQ 1000000000", "CALC1:MARK1:Y?"}, 3000}), kConsoleOk);
    EXPECT_EQ(out.str(), "-42.50\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(instrument->Received(), (Texts{"*IDN?\n", "FREQ 1000000000\n", "CALC1:MARK1:Y?\n"}));
    const auto events = attachment->Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[1].timeoutMs, kDefaultTimeoutMs);               // the identification
    EXPECT_EQ(events[events.size() - 2].kind, IoEvent::Kind::Read);  // the last before the close
    EXPECT_EQ(events[events.size() - 2].timeoutMs, 3000u);
}

TEST_F(ScpiConsole, PrintsAReplyWholeHoweverLongAndWhateverBytesItHolds) {
    std::string list(25000, 'x');
    list[3] = '\0';
    list[24999] = '!';
    instrument->QueueReply(list + "\n");
    EXPECT_EQ(Run({"28", {"TRACE:DATA?"}, {}}), kConsoleOk);
    EXPECT_EQ(out.str(), list + "\n");
}

TEST_F(ScpiConsole, ReadsTrimmedNonBlankLinesWithAPromptOnATerminal) {
    instrument->QueueReply("1\n");
    EXPECT_EQ(Run({"GPIB0::28::INSTR", {"-", "*CLS"}, {}}, "  *RST \r\n\n*OPC?\n", true),
              kConsoleOk);
    EXPECT_EQ(out.str(),
              "GPIB0::28::INSTR> GPIB0::28::INSTR> GPIB0::28::INSTR> 1\nGPIB0::28::INSTR> \n");
    EXPECT_EQ(instrument->Received(), (Texts{"*IDN?\n", "*RST\n", "*OPC?\n", "*CLS\n"}));
}

TEST_F(ScpiConsole, AFailedReadOrWriteStopsTheRunWithKorvelsMessage) {
    EXPECT_EQ(Run({"28", {"A?", "B"}, 100}), kConsoleFailed);  // nobody answers: B is not sent
    EXPECT_EQ(err.str(), "korvel-scpi: Cannot read from device GPIB0::28::INSTR\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(instrument->Received(), (Texts{"*IDN?\n", "A?\n"}));

    instrument->ClearReceived();
    attachment->SetLostAfterMessages(3);  // the identification, its reply and one command
    EXPECT_EQ(Run({"28", {"A", "B", "C"}, {}}), kConsoleFailed);
    EXPECT_EQ(err.str(), "korvel-scpi: Cannot write to device GPIB0::28::INSTR\n");
    EXPECT_EQ(instrument->Received(), (Texts{"*IDN?\n", "A\n"}));
}

}  // namespace
