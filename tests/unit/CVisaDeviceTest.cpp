#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../support/ScriptedInstrument.h"
#include "CFileError.h"
#include "CVisaDevice.h"
#include "MessageSink.h"
#include "visa/InProcess.h"

using namespace visa;
namespace fs = std::filesystem;

namespace {

class CVisaDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        CVisaDevice::s_lastReply.clear();
        gen = std::make_shared<ScriptedInstrument>();
        genAttachment = AttachInProcess("GPIB0::28::INSTR", gen);
        other = std::make_shared<ScriptedInstrument>();
        otherAttachment = AttachInProcess("GPIB0::20::INSTR", other);
    }
    void TearDown() override { SetMessageSink({}); }

    // Program messages the instrument received after the identification probe.
    std::vector<std::string> Sent() const {
        auto all = gen->Received();
        if (!all.empty() && all.front() == "*IDN?\n") all.erase(all.begin());
        return all;
    }

    std::vector<std::string> messages;
    std::shared_ptr<ScriptedInstrument> gen, other;
    std::unique_ptr<InProcessAttachment> genAttachment, otherAttachment;
};

TEST_F(CVisaDeviceTest, NormalisesTypedResourcesAsTheUserTypesThem) {
    EXPECT_EQ(CVisaDevice::NormaliseResource("28"), "GPIB0::28::INSTR");
    EXPECT_EQ(CVisaDevice::NormaliseResource("7"), "TCPIP::7::INSTR");
    EXPECT_EQ(CVisaDevice::NormaliseResource("ab"), "GPIB0::ab::INSTR");
    EXPECT_EQ(CVisaDevice::NormaliseResource("192.168.0.10"), "TCPIP::192.168.0.10::INSTR");
    EXPECT_EQ(CVisaDevice::NormaliseResource("GPIB1::5::INSTR"), "GPIB1::5::INSTR");
    EXPECT_EQ(CVisaDevice::NormaliseResource("gpib0::28::instr"), "TCPIP::gpib0::28::instr::INSTR");
    EXPECT_EQ(CVisaDevice::NormaliseResource(""), "TCPIP::::INSTR");

    // The normalised name is what is opened and what the messages show.
    CVisaDevice byAddress("28");
    EXPECT_TRUE(byAddress.IsConnected());
    EXPECT_EQ(byAddress.Resource(), "GPIB0::28::INSTR");
    CVisaDevice empty("");
    CVisaDevice lowerCase("gpib0::28::instr");
    CVisaDevice letters("ab");
    EXPECT_FALSE(empty.IsConnected());
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot open device TCPIP::::INSTR",
                                                   "Cannot open device TCPIP::gpib0::28::instr::INSTR",
                                                   "Cannot open device GPIB0::ab::INSTR"}));
}

TEST_F(CVisaDeviceTest, ProbeRunsAtTheDefaultTimeoutAndItsReplyIsDiscarded) {
    CVisaDevice::s_lastReply = "before";
    CVisaDevice device("28");
    ASSERT_TRUE(device.IsConnected());
    EXPECT_EQ(CVisaDevice::s_lastReply, "before");
    EXPECT_EQ(gen->Received(), std::vector<std::string>{"*IDN?\n"});

    gen->QueueReply("1\n");
    EXPECT_EQ(device.Query("*OPC?"), "1");
    std::vector<IoEvent> events = genAttachment->Events();
    ASSERT_EQ(events.size(), 5u);  // open, probe write and read, write, read
    EXPECT_EQ(events[1].timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(events[2].timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(events[3].timeoutMs, CVisaDevice::kTimeoutMs);
    EXPECT_EQ(events[4].timeoutMs, CVisaDevice::kTimeoutMs);
}

TEST_F(CVisaDeviceTest, OpeningFailuresShowTheirMessageAndLeaveTheSessionNotConnected) {
    SetResourceManagerFailure(true);
    {
        CVisaDevice device("28");
        EXPECT_FALSE(device.IsConnected());
        EXPECT_EQ(device.Resource(), "");
    }
    SetResourceManagerFailure(false);
    genAttachment->SetRefuseOpen(true);
    { CVisaDevice device("28"); }
    genAttachment->SetRefuseOpen(false);
    genAttachment->SetReadTimesOut(true);
    { CVisaDevice device("28"); }
    EXPECT_EQ(messages, (std::vector<std::string>{"VISA Init Error", "Cannot open device GPIB0::28::INSTR",
                                                   "Cannot read *IDN from device GPIB0::28::INSTR"}));
}

TEST_F(CVisaDeviceTest, AFailedReadShowsOneMessageThenTheSessionOnlyRepeatsTheLastReply) {
    CVisaDevice device("28");
    CVisaDevice analyzer("20");
    other->QueueReply("-42.5\n");
    EXPECT_EQ(analyzer.Query("CALC1:MARK1:Y?"), "-42.5");

    genAttachment->SetReadTimesOut(true);
    EXPECT_EQ(device.Query("FREQ?"), "");
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot read from device GPIB0::28::INSTR"});

    gen->ClearReceived();
    EXPECT_EQ(device.Query("POW?"), "-42.5");  // the analyzer's reply, not the generator's
    EXPECT_EQ(device.Read(), "-42.5");
    EXPECT_FALSE(device.Write("OUTP ON"));     // not a failure, and nothing sent
    EXPECT_TRUE(gen->Received().empty());
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(CVisaDeviceTest, AFailedSendIsSilentAndTheQueryReadsNothing) {
    CVisaDevice device("28");
    CVisaDevice::s_lastReply = "kept";
    genAttachment->SetFailWrites(true);
    EXPECT_EQ(device.Query("FREQ?"), "");
    EXPECT_FALSE(device.IsConnected());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(device.Query("FREQ?"), "kept");
}

TEST_F(CVisaDeviceTest, RepliesLoseTheirLastByteStopAtAZeroByteAndKeepEverythingElse) {
    CVisaDevice device("28");
    gen->QueueReply("1\n");
    gen->QueueReply("12");  // no line feed: the last byte goes all the same
    gen->QueueReply(std::string("ab\0cd\n", 6));
    gen->QueueReply(" \"x\"\r\n");
    gen->QueueReply("");    // a reply of zero bytes is an empty text
    EXPECT_EQ(device.Query("A?"), "1");
    EXPECT_EQ(device.Query("A?"), "1");
    EXPECT_EQ(device.Query("A?"), "ab");
    EXPECT_EQ(device.Query("A?"), " \"x\"\r");
    EXPECT_EQ(device.Query("A?"), "");
    EXPECT_EQ(CVisaDevice::s_lastReply, "");
    EXPECT_TRUE(device.IsConnected());
}

TEST_F(CVisaDeviceTest, ALongReplyIsCutAt9999BytesAndItsTailDoesNotLeakIntoTheNextReply) {
    CVisaDevice device("28");
    for (size_t length : {9999u, 10000u, 10001u, 25000u}) {
        SCOPED_TRACE(length);
        gen->QueueReply(std::string(length - 1, 'x') + "\n");
        gen->QueueReply("next\n");
        const std::string reply = device.Query("BIG?");
        EXPECT_EQ(reply.size(), std::min<size_t>(length - 1, 9999));
        EXPECT_EQ(device.Query("SMALL?"), "next");
    }
}

TEST_F(CVisaDeviceTest, ConnectionLostAfterSomeMessagesEndsTheSession) {
    CVisaDevice device("28");
    genAttachment->SetLostAfterMessages(2);
    gen->QueueReply("1\n");
    EXPECT_EQ(device.Query("*OPC?"), "1");
    EXPECT_TRUE(device.Write("OUTP ON"));
    EXPECT_FALSE(device.IsConnected());
    EXPECT_TRUE(messages.empty());
}

// --- error queue -------------------------------------------------------------------------

TEST_F(CVisaDeviceTest, ErrorQueueListsEntriesInOrderInOneBox) {
    CVisaDevice device("28");
    gen->QueueReply("-113,\"Undefined header\"\n");
    gen->QueueReply("-222,\"Data out of range\"\n");
    gen->QueueReply("0,\"No error\"\n");
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent(), std::vector<std::string>(3, "SYST:ERR?\n"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Error Queue of GPIB0::28::INSTR:\n\n-113,\"Undefined header\"\n-222,\"Data out of range\"");
}

TEST_F(CVisaDeviceTest, ErrorQueueEmptyOrHiddenShowsNothing) {
    CVisaDevice device("28");
    gen->QueueReply("0,\"No error\"\n");
    device.ReadErrorQueue(true);
    gen->QueueReply("-100,\"Command error\"\n");
    gen->QueueReply("0,\"No error\"\n");
    device.ReadErrorQueue(false);
    EXPECT_EQ(Sent(), std::vector<std::string>(3, "SYST:ERR?\n"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(CVisaDeviceTest, ErrorQueueStopsAtTheEndMarkerAFailedSessionAndTheBound) {
    CVisaDevice device("28");
    gen->QueueReply("-999999999,\"Queue end\"\n");
    gen->QueueReply("-100,\"never asked\"\n");
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(messages.back(), "Error Queue of GPIB0::28::INSTR:\n\n-999999999,\"Queue end\"");

    // An instrument that never says 0: the listing is cut at the bound, and says so.
    gen->ClearReceived();
    for (int i = 0; i < 200; ++i) gen->QueueReply("-350,\"Queue overflow\"\n");
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent().size(), static_cast<size_t>(CVisaDevice::kMaxErrorEntries));
    EXPECT_NE(messages.back().find("(listing cut after 50 entries)"), std::string::npos);

    // A session that fails inside the loop: its empty reply is listed, then the loop ends.
    messages.clear();
    gen->ClearReceived();
    CVisaDevice::s_lastReply = "-1,\"stale\"";
    genAttachment->SetReadTimesOut(true);
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot read from device GPIB0::28::INSTR",
                                                   "Error Queue of GPIB0::28::INSTR:\n\n"}));
    // Not connected from the start: nothing is asked.
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent().size(), 1u);
}

// --- file transfer -----------------------------------------------------------------------

class CopyFileTest : public CVisaDeviceTest {
protected:
    void SetUp() override {
        CVisaDeviceTest::SetUp();
        dir = fs::temp_directory_path() / ("korvel-copy-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        previous = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
        CVisaDeviceTest::TearDown();
    }
    static void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    fs::path dir, previous;
};

TEST_F(CopyFileTest, SendsOneDefiniteLengthBlockWithoutLineFeed) {
    CVisaDevice device("28");
    const struct {
        size_t size;
        const char* block;
    } cases[] = {{0, "#10"}, {9, "#19"}, {10, "#210"}, {1000, "#41000"}, {9900, "#49900"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string data(c.size, '\0');
        for (size_t i = 0; i < c.size; ++i) data[i] = static_cast<char>(i * 7);
        WriteFile("dc.wv", data);
        gen->ClearReceived();
        EXPECT_FALSE(device.CopyFile("dc.wv", "/var/vrtk/Lists"));
        EXPECT_EQ(gen->Received(), (std::vector<std::string>{"MMEM:CDIR '/var/vrtk/Lists'\n",
                                                             "MMEM:DATA 'dc.wv'," + std::string(c.block) + data}));
    }
}

TEST_F(CopyFileTest, RefusesWhatWouldNotFitTheBufferAfterTheDirectoryCommand) {
    CVisaDevice device("28");
    WriteFile("dc.wv", std::string(9901, 'a'));
    EXPECT_TRUE(device.CopyFile("dc.wv", "D"));
    EXPECT_EQ(Sent(), std::vector<std::string>{"MMEM:CDIR 'D'\n"});

    // 9900 bytes leave room for a name of 81 characters, not 82.
    const std::string name81(81, 'n');
    const std::string name82(82, 'n');
    WriteFile(name81, std::string(9900, 'b'));
    WriteFile(name82, std::string(9900, 'b'));
    gen->ClearReceived();
    EXPECT_FALSE(device.CopyFile(name81, "D"));
    EXPECT_EQ(gen->Received().back().size(), 10000u);
    gen->ClearReceived();
    EXPECT_TRUE(device.CopyFile(name82, "D"));
    EXPECT_EQ(Sent(), std::vector<std::string>{"MMEM:CDIR 'D'\n"});
    EXPECT_TRUE(device.IsConnected());
}

TEST_F(CopyFileTest, AMissingFileRaisesAFileErrorAfterTheDirectoryCommand) {
    CVisaDevice device("28");
    try {
        device.CopyFile("dc.wv", "D");
        FAIL() << "no file error";
    } catch (const CFileError& error) {
        EXPECT_EQ(error.FileName(), "dc.wv");
        EXPECT_NE(std::string(error.what()).find("dc.wv"), std::string::npos);
    }
    EXPECT_EQ(Sent(), std::vector<std::string>{"MMEM:CDIR 'D'\n"});
    EXPECT_TRUE(device.IsConnected());
}

TEST_F(CopyFileTest, NotConnectedSendsNothingAndAFailedSendEndsTheSession) {
    WriteFile("dc.wv", "abc");
    genAttachment->SetRefuseOpen(true);
    CVisaDevice closed("28");
    EXPECT_FALSE(closed.CopyFile("no-such-file", "D"));  // not even the file is opened

    genAttachment->SetRefuseOpen(false);
    CVisaDevice device("28");
    genAttachment->SetLostAfterMessages(1);
    EXPECT_TRUE(device.CopyFile("dc.wv", "D"));
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(Sent(), std::vector<std::string>{"MMEM:CDIR 'D'\n"});
}

}  // namespace
