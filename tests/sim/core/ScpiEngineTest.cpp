// The SCPI layer of the simulated instruments, seen from a client through the VISA layer.
#include <gtest/gtest.h>

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

    // Every queued entry, oldest first, up to the empty-queue answer.
    static std::vector<std::string> Errors(CVisaDevice& device) {
        std::vector<std::string> entries;
        for (int i = 0; i < 20; ++i) {
            const std::string reply = device.Query("SYST:ERR?");
            if (reply == "0,\"No error\"") return entries;
            entries.push_back(reply);
        }
        ADD_FAILURE() << "the error queue does not end";
        return entries;
    }
    static std::vector<int> ErrorCodes(CVisaDevice& device) {
        std::vector<int> codes;
        for (const std::string& entry : Errors(device)) codes.push_back(std::stoi(entry));
        return codes;
    }

    BenchRig rig;
    std::unique_ptr<CVisaDevice> analyzer, gen;
};

TEST_F(ScpiEngineTest, HeaderPathFollowsTheLastHeaderUntilTheTerminator) {
    struct Case {
        const char* message;
        const char* query;
        const char* expected;
        std::vector<int> errors;
    } cases[] = {
        {"FREQ:CENT 1000000000;SPAN 50Hz", "FREQ:SPAN?", "50", {}},
        {"SENS:FREQ:SPAN 70;CENT 2E9", "FREQ:CENT?", "2000000000", {}},
        // A leading ':' starts again at the root, where there is no SPAN.
        {"FREQ:CENT 1E9;:SPAN 40", "FREQ:SPAN?", "70", {-113}},
        // Common commands leave the path alone.
        {"FREQ:CENT 1E9;*CLS;SPAN 30", "FREQ:SPAN?", "30", {}},
        // The terminator resets the path: the second message's SPAN is at the root.
        {"FREQ:CENT 1E9\nSPAN 60", "FREQ:SPAN?", "30", {-113}},
        {"CALC1:MARK1:X 1E9;TRAC 2", "CALC:MARK:TRAC?", "2", {}},
        {"FREQ:SPAN 45\r", "FREQ:SPAN?", "45", {}},  // CR LF ends a message too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        analyzer->Write(c.message);
        EXPECT_EQ(analyzer->Query(c.query), c.expected);
        EXPECT_EQ(ErrorCodes(*analyzer), c.errors);
    }
}

TEST_F(ScpiEngineTest, KeywordsTakeExactlyTheShortOrLongFormAndTheirSuffixes) {
    struct Case {
        const char* command;
        int error;
    } cases[] = {
        {"frequency:center 1.5GHZ", 0}, {"Freq:Cent 1.5e9", 0}, {"SENSE:FREQUENCY:CENTER 1.5E9", 0},
        {"FREQU:CENT 1E9", -113},       {"FRE:CENT 1E9", -113},  {"FREQ:CENTE 1E9", -113},
        {"CALC5:MARK1:X 1E9", -114},    {"CALC1:MARK0:X 1E9", -114}, {"FREQ2:CENT 1E9", -114},
        {"FREQ::CENT 1E9", -110},       {"FR$Q:CENT 1", -101},  {"CALC99999999999999999999:MARK:X 1", -114},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        analyzer->Write(c.command);
        const std::vector<int> codes = ErrorCodes(*analyzer);
        EXPECT_EQ(codes, c.error ? std::vector<int>{c.error} : std::vector<int>{});
    }
    // Source suffixes address the two paths; an omitted suffix means source 1.
    gen->Write("SOURCE2:FREQ 2E9;:SOURCE1:FREQ 3E9;:FREQ 4E9");
    EXPECT_EQ(gen->Query("SOURCE1:FREQ?"), "4000000000");
    EXPECT_EQ(gen->Query("SOURCE2:FREQUENCY:CW?"), "2000000000");
    gen->Write("SOURCE3:FREQ 1E9");
    EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{-114});
}

TEST_F(ScpiEngineTest, NumbersTakeUnitsAndMultipliersAndBadDataKeepsTheOldValue) {
    struct Case {
        const char* command;
        const char* query;
        const char* expected;
        int error;
    } cases[] = {
        {"FREQ:SPAN 50Hz", "FREQ:SPAN?", "50", 0},
        {"FREQ:SPAN 50 HZ", "FREQ:SPAN?", "50", 0},
        {"FREQ:SPAN 1.5MHZ", "FREQ:SPAN?", "1500000", 0},  // MHZ is mega, not milli
        {"FREQ:SPAN 3kHz", "FREQ:SPAN?", "3000", 0},
        {"FREQ:SPAN 2.73E+2", "FREQ:SPAN?", "273", 0},
        {"FREQ:SPAN 2MAHZ", "FREQ:SPAN?", "2000000", 0},
        {"FREQ:SPAN 500MHZ", "FREQ:SPAN?", "500000000", 0},
        {"FREQ:SPAN MAX", "FREQ:SPAN?", "26500000000", 0},
        {"FREQ:SPAN 5DBM", "FREQ:SPAN?", "26500000000", -131},
        {"FREQ:SPAN 30GHz", "FREQ:SPAN?", "26500000000", -222},
        {"FREQ:SPAN -1", "FREQ:SPAN?", "26500000000", -222},
        {"FREQ:SPAN abc", "FREQ:SPAN?", "26500000000", -104},
        {"FREQ:SPAN 1.2.3", "FREQ:SPAN?", "26500000000", -120},
        {"FREQ:SPAN 'text'", "FREQ:SPAN?", "26500000000", -104},
        {"FREQ:SPAN", "FREQ:SPAN?", "26500000000", -109},
        {"FREQ:SPAN 1,2", "FREQ:SPAN?", "26500000000", -108},
        {"DISP:WIND:TRAC:Y:RLEV -10.000000dBm", "DISP:TRAC:Y:RLEV?", "-10", 0},
        {"DISP:WIND:TRAC:Y 80DB", "DISP:WIND1:TRAC1:Y:SCAL?", "80", 0},
        {"CALC:MARK1:TRAC 2HZ", "CALC:MARK1:TRAC?", "1", -138},
        {"INIT:CONT OFF", "INIT:CONT?", "0", 0},
        {"INIT:CONT 1", "INIT:CONT?", "1", 0},
        {"INIT:CONT MAYBE", "INIT:CONT?", "1", -224},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        analyzer->Write(c.command);
        EXPECT_EQ(analyzer->Query(c.query), c.expected);
        EXPECT_EQ(ErrorCodes(*analyzer), c.error ? std::vector<int>{c.error} : std::vector<int>{});
    }
    // The generator's phase offset takes the program's forms, negative ones and a full turn.
    for (const char* offset : {"360.00DEG", "-720DEG", "-12.5", "720 deg"}) {
        gen->Write(std::string("SOURCE1:BB:POFF ") + offset);
        EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{}) << offset;
    }
    gen->Write("SOURCE1:BB:POFF 12.25DEG;:SOURCE1:BB:POFF 1000DEG");
    EXPECT_EQ(gen->Query("SOURCE1:BB:POFF?"), "12.25");
    EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{-222});
    gen->Write("SOUR:ROSC:SOUR SIDEWAYS");
    EXPECT_EQ(gen->Query("SOUR:ROSC:SOUR?"), "INT");
    EXPECT_EQ(ErrorCodes(*gen), std::vector<int>{-224});
}

TEST_F(ScpiEngineTest, RepliesOfOneMessageAreJoinedWithSemicolons) {
    EXPECT_EQ(gen->Query("FREQ 1000000000;*OPC?"), "1");
    EXPECT_EQ(gen->Query("FREQ?;POW?;*OPC?"), "1000000000;-30;1");
    const std::string temperature = gen->Query("DIAG1:MEAS:POIN? 'DIAG_DACIF_TEMP_SENSOR';*OPC?");
    ASSERT_EQ(temperature.substr(temperature.size() - 2), ";1");
    EXPECT_NEAR(Number(temperature), 0.28, 0.001);  // hundredths of a degree at power-on
    // A query that fails leaves no empty element behind.
    EXPECT_EQ(analyzer->Query("CALC:MARK2:Y?;*OPC?"), "1");
    EXPECT_EQ(ErrorCodes(*analyzer), std::vector<int>{-221});
}

TEST_F(ScpiEngineTest, ErrorQueueKeepsTenEntriesAndMarksTheOverflow) {
    for (int i = 0; i < 12; ++i) analyzer->Write("NOSUCH" + std::to_string(i));
    const std::vector<std::string> entries = Errors(*analyzer);
    ASSERT_EQ(entries.size(), 10u);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(entries[i], "-113,\"Undefined header\"");
    EXPECT_EQ(entries[9], "-350,\"Queue overflow\"");
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
        {"MMEM:DATA 'g.bin',#9999999999abc", "", -161},  // a length is never trusted before the bytes are there
        {"MMEM:DATA 'h.bin',#72000000" + std::string(2000000, 'x'), "", -363},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_EQ(BenchRig::WriteRaw(InstrumentId::Generator1, c.message), visa::VI_SUCCESS);
        std::unique_ptr<CVisaDevice> device = rig.Open(InstrumentId::Generator1);
        const std::string name = c.message.substr(11, 5);
        // A missing file answers nothing; *OPC? keeps the reply from timing out.
        const std::string reply = device->Query("MMEM:DATA? '" + name + "';*OPC?");
        const std::vector<int> codes = ErrorCodes(*device);
        if (c.error == 0) {
            EXPECT_EQ(reply, "#" + std::to_string(std::to_string(c.stored.size()).size()) +
                                 std::to_string(c.stored.size()) + c.stored + ";1");
            EXPECT_EQ(codes, std::vector<int>{});
        } else {
            EXPECT_EQ(reply, "1");
            EXPECT_EQ(codes, (std::vector<int>{c.error, -256}));
        }
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
