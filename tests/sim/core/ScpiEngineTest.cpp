// The SCPI layer of the simulated instruments, seen from a client through the VISA layer.
#include <gtest/gtest.h>

#include <sstream>

#include "BenchRig.h"

using sim::InstrumentId;

namespace {

class ScpiEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        analyzer = rig.Open(InstrumentId::Analyzer);
        gen = rig.Open(InstrumentId::Generator1);
        ASSERT_TRUE(analyzer->IsConnected() && gen->IsConnected());
    }

    static std::vector<int> ErrorCodes(CVisaDevice& device) {
        std::vector<int> codes;
        std::istringstream list(ErrorList(device));
        for (std::string line; std::getline(list, line);)
            codes.push_back(std::atoi(line.c_str()));
        return codes;
    }
    static std::vector<int> Codes(int error) {
        return error ? std::vector<int>{error} : std::vector<int>{};
    }

    BenchRig rig;
    std::unique_ptr<CVisaDevice> analyzer, gen;
};

TEST_F(ScpiEngineTest, HeaderPathUnitsAndBadDataWhichKeepsTheOldValue) {
    struct Case {
        const char* message;
        const char* query;
        const char* expected;
        int error;
    } cases[] = {
        // The header path follows the last header until the terminator.
        {"FREQ:CENT 1000000000;SPAN 50Hz", "FREQ:SPAN?", "50", 0},
        {"SENS:FREQ:SPAN 70;CENT 2E9", "FREQ:CENT?", "2000000000", 0},
        {"FREQ:CENT 1E9;:SPAN 40", "FREQ:SPAN?", "70", -113},   // a leading ':' starts at the root
        {"FREQ:CENT 1E9;*CLS;SPAN 30", "FREQ:SPAN?", "30", 0},  // common commands leave the path
        {"FREQ:CENT 1E9\nSPAN 60", "FREQ:SPAN?", "30", -113},   // so does the terminator
        {"CALC1:MARK1:X 1E9;TRAC 2", "CALC:MARK:TRAC?", "2", 0},
        {"FREQ:SPAN 45\r", "FREQ:SPAN?", "45", 0},  // CR LF ends a message too
        // Units and multipliers.
        {"FREQ:SPAN 50 HZ", "FREQ:SPAN?", "50", 0},
        {"FREQ:SPAN 1.5MHZ", "FREQ:SPAN?", "1500000", 0},  // MHZ is mega, not milli
        {"FREQ:SPAN 2.73E+2", "FREQ:SPAN?", "273", 0},
        {"FREQ:SPAN 2MAHZ", "FREQ:SPAN?", "2000000", 0},
        {"DISP:WIND:TRAC:Y:RLEV -10.000000dBm", "DISP:TRAC:Y:RLEV?", "-10", 0},
        {"DISP:WIND:TRAC:Y 80DB", "DISP:WIND1:TRAC1:Y:SCAL?", "80", 0},
        {"INIT:CONT OFF", "INIT:CONT?", "0", 0},
        {"INIT:CONT 1", "INIT:CONT?", "1", 0},
        // Bad data leaves the setting as it was.
        {"FREQ:SPAN MAX", "FREQ:SPAN?", "26500000000", 0},
        {"FREQ:SPAN 5DBM", "FREQ:SPAN?", "26500000000", -131},
        {"FREQ:SPAN 30GHz", "FREQ:SPAN?", "26500000000", -222},
        {"FREQ:SPAN -1", "FREQ:SPAN?", "26500000000", -222},
        {"FREQ:SPAN abc", "FREQ:SPAN?", "26500000000", -104},
        {"FREQ:SPAN 1.2.3", "FREQ:SPAN?", "26500000000", -120},
        {"FREQ:SPAN 'text'", "FREQ:SPAN?", "26500000000", -104},
        {"FREQ:SPAN", "FREQ:SPAN?", "26500000000", -109},
        {"FREQ:SPAN 1,2", "FREQ:SPAN?", "26500000000", -108},
        {"CALC:MARK1:TRAC 2HZ", "CALC:MARK1:TRAC?", "2", -138},
        {"INIT:CONT MAYBE", "INIT:CONT?", "1", -224},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        analyzer->Write(c.message);
        EXPECT_EQ(analyzer->Query(c.query), c.expected);
        EXPECT_EQ(ErrorCodes(*analyzer), Codes(c.error));
    }
    // The generator's phase offset takes the program's forms, negative ones and a full turn.
    for (const char* offset : {"360.00DEG", "-720DEG", "-12.5", "720 deg"}) {
        gen->Write(std::string("SOURCE1:BB:POFF ") + offset);
        EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{}) << offset;
    }
    gen->Write("SOURCE1:BB:POFF 12.25DEG;:SOURCE1:BB:POFF 1000DEG");
    EXPECT_EQ(gen->Query("SOURCE1:BB:POFF?"), "12.25");
    EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{-222});
}

TEST_F(ScpiEngineTest, KeywordsTakeExactlyTheShortOrLongFormAndTheirSuffixes) {
    const std::pair<const char*, int> cases[] = {
        {"frequency:center 1.5GHZ", 0},
        {"Freq:Cent 1.5e9", 0},
        {"SENSE:FREQUENCY:CENTER 1.5E9", 0},
        {"FREQU:CENT 1E9", -113},
        {"FRE:CENT 1E9", -113},
        {"CALC5:MARK1:X 1E9", -114},
        {"CALC1:MARK0:X 1E9", -114},
        {"FREQ2:CENT 1E9", -114},
        {"FREQ::CENT 1E9", -110},
        {"FR$Q:CENT 1", -101},
        {"CALC99999999999999999999:MARK:X 1", -114},
    };
    for (const auto& [command, error] : cases) {
        analyzer->Write(command);
        EXPECT_EQ(ErrorCodes(*analyzer), Codes(error)) << command;
    }
    // Source suffixes address the two paths; an omitted suffix means source 1.
    gen->Write("SOURCE2:FREQ 2E9;:SOURCE1:FREQ 3E9;:FREQ 4E9");
    EXPECT_EQ(gen->Query("SOURCE1:FREQ?"), "4000000000");
    EXPECT_EQ(gen->Query("SOURCE2:FREQUENCY:CW?"), "2000000000");
    gen->Write("SOURCE3:FREQ 1E9");
    EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{-114});
}

TEST_F(ScpiEngineTest, RepliesOfOneMessageAreJoinedWithSemicolonsWithoutEmptyElements) {
    EXPECT_EQ(gen->Query("FREQ 1000000000;*OPC?"), "1");
    EXPECT_EQ(gen->Query("FREQ?;POW?;*OPC?"), "1000000000;-30;1");
    EXPECT_EQ(analyzer->Query("CALC:MARK2:Y?;*OPC?"), "1");  // the failed query leaves nothing
    EXPECT_EQ(ErrorCodes(*analyzer), std::vector<int>{-221});
}

TEST_F(ScpiEngineTest, ErrorQueueKeepsTenEntriesAndMarksTheOverflow) {
    for (int i = 0; i < 12; ++i)
        analyzer->Write("NOSUCH" + std::to_string(i));
    std::string expected;
    for (int i = 0; i < 9; ++i)
        expected += "-113,\"Undefined header\"\n";
    EXPECT_EQ(ErrorList(*analyzer), expected + "-350,\"Queue overflow\"\n");
    // Exactly this text: the program takes a reply starting with 0 as the end of the queue.
    EXPECT_EQ(analyzer->Query("SYST:ERR?"), "0,\"No error\"");

    analyzer->Write("NOSUCH;FREQ:SPAN 30GHz");
    analyzer->Write("*RST");
    EXPECT_EQ(analyzer->Query("SYST:ERR:COUN?"), "2");  // a reset keeps the queue
    analyzer->Write("*CLS");
    EXPECT_EQ(analyzer->Query("SYSTEM:ERROR:NEXT?"), "0,\"No error\"");
}

TEST_F(ScpiEngineTest, DefiniteBlocksAreCountedNotScanned) {
    struct Case {
        std::string message;
        std::string stored;  // empty: nothing stored
        int error;
    } cases[] = {
        {std::string("MMEM:DATA 'a.bin',#17a\n;b'\"#"), std::string("a\n;b'\"#", 7), 0},
        {"MMEM:DATA 'b.bin',#10", "", 0},
        {"MMEM:DATA 'c.bin',#3005HELLO", "HELLO", 0},
        {"MMEM:DATA 'd.bin',#15HEL", "", -161},
        {"MMEM:DATA 'e.bin',#", "", -104},
        {"MMEM:DATA 'f.bin',#2", "", -161},
        {"MMEM:DATA 'g.bin',#9999999999abc", "",
         -161},  // a length is never trusted before the bytes are there
        {"MMEM:DATA 'h.bin',#72000000" + std::string(2000000, 'x'), "", -363},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 40));
        ASSERT_EQ(BenchRig::WriteRaw(InstrumentId::Generator1, c.message), visa::VI_SUCCESS);
        std::unique_ptr<CVisaDevice> device = rig.Open(InstrumentId::Generator1);
        // A missing file answers nothing; *OPC? keeps the reply from timing out.
        const std::string reply =
            device->Query("MMEM:DATA? '" + c.message.substr(11, 5) + "';*OPC?");
        const std::string size = std::to_string(c.stored.size());
        EXPECT_EQ(reply,
                  c.error ? "1" : "#" + std::to_string(size.size()) + size + c.stored + ";1");
        EXPECT_EQ(ErrorCodes(*device),
                  (c.error ? std::vector<int>{c.error, -256} : std::vector<int>{}));
    }
}

TEST_F(ScpiEngineTest, UnreadRepliesAreDiscardedByTheNextMessage) {
    // The client writes a query and gives up on it before writing the next one.
    analyzer->Write("FREQ:SPAN?");
    EXPECT_EQ(analyzer->Query("FREQ:CENT?"), "13250000000");
    EXPECT_EQ(ErrorCodes(*analyzer), std::vector<int>{-410});

    // Reading with nothing to read times out and leaves -420 behind.
    EXPECT_EQ(analyzer->Read(), "");
    EXPECT_FALSE(analyzer->IsConnected());
    std::unique_ptr<CVisaDevice> again = rig.Open(InstrumentId::Analyzer);
    EXPECT_EQ(ErrorCodes(*again), std::vector<int>{-420});
}

}  // namespace
