#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "instrument/CVisaDevice.h"
#include "instrument/MessageSink.h"
#include "tests/support/ScriptedInstrument.h"
#include "visa/InProcess.h"

using namespace korvel;

using namespace visa;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

namespace {

class CVisaDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        CVisaDevice::s_lastReply.clear();
        genLink = AttachInProcess("GPIB0::28::INSTR", gen);
        otherLink = AttachInProcess("GPIB0::20::INSTR", other);
    }
    void TearDown() override { SetMessageSink({}); }

    // Program messages the generator received after the identification probe.
    Texts Sent() const {
        auto all = gen->Received();
        if (!all.empty() && all.front() == "*IDN?\n")
            all.erase(all.begin());
        return all;
    }

    Texts messages;
    std::shared_ptr<ScriptedInstrument> gen = std::make_shared<ScriptedInstrument>();
    std::shared_ptr<ScriptedInstrument> other = std::make_shared<ScriptedInstrument>();
    std::unique_ptr<InProcessAttachment> genLink, otherLink;
};

TEST_F(CVisaDeviceTest, TypedResourcesAreNormalisedAsTheUserTypesThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"28", "GPIB0::28::INSTR"},
        {"7", "TCPIP::7::INSTR"},
        {"ab", "GPIB0::ab::INSTR"},
        {"192.168.0.10", "TCPIP::192.168.0.10::INSTR"},
        {"GPIB1::5::INSTR", "GPIB1::5::INSTR"},
        {"gpib0::28::instr", "TCPIP::gpib0::28::instr::INSTR"},
        {"", "TCPIP::::INSTR"}};
    for (const auto& [typed, opened] : cases)
        EXPECT_EQ(CVisaDevice::NormaliseResource(typed), opened) << typed;
    SetResourceManagerFailure(true);
    { CVisaDevice device("28"); }
    SetResourceManagerFailure(false);
    EXPECT_EQ(messages, Texts{"VISA Init Error"});
}

TEST_F(CVisaDeviceTest, TheProbeRunsAtTheLibrarysDefaultTimeoutAndOnlyThenTheSessionsOwnIsSet) {
    CVisaDevice device("28");
    ASSERT_TRUE(device.IsConnected());
    EXPECT_EQ(gen->Received(), Texts{"*IDN?\n"});
    gen->QueueReply("1\n");
    EXPECT_EQ(device.Query("*OPC?"), "1");
    const std::vector<IoEvent> events = genLink->Events();
    ASSERT_EQ(events.size(), 5u);  // open, probe write and read, write, read
    EXPECT_EQ(events[1].timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(events[2].timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(events[3].timeoutMs, CVisaDevice::kTimeoutMs);
    EXPECT_EQ(events[4].timeoutMs, CVisaDevice::kTimeoutMs);
}

// Every session shares one last reply: the identification probe leaves it alone, a failed send
// reads nothing, and a session that failed hands out whatever any session read last.
TEST_F(CVisaDeviceTest, AfterAFailedReadOrSendTheSessionOnlyRepeatsTheSharedLastReply) {
    CVisaDevice::s_lastReply = "kept";
    CVisaDevice device("28");
    CVisaDevice analyzer("20");
    EXPECT_EQ(CVisaDevice::s_lastReply, "kept");
    genLink->SetFailWrites(true);
    EXPECT_EQ(device.Query("FREQ?"), "");
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(device.Query("FREQ?"), "kept");
    EXPECT_TRUE(messages.empty());  // a failed send shows no box

    genLink->SetFailWrites(false);
    CVisaDevice again("28");
    other->QueueReply("-42.5\n");
    EXPECT_EQ(analyzer.Query("CALC1:MARK1:Y?"), "-42.5");
    genLink->SetReadTimesOut(true);
    EXPECT_EQ(again.Query("FREQ?"), "");
    gen->ClearReceived();
    EXPECT_EQ(again.Query("POW?"), "-42.5");  // the analyzer's reply, not the generator's
    EXPECT_FALSE(again.Write("OUTP ON"));     // not a failure, and nothing sent
    EXPECT_TRUE(gen->Received().empty());
    EXPECT_EQ(messages, Texts{"Cannot read from device GPIB0::28::INSTR"});
}

TEST_F(CVisaDeviceTest, RepliesLoseTheirLastByteAndStopAtAZeroByte) {
    CVisaDevice device("28");
    const std::pair<std::string, std::string> cases[] = {{"1\n", "1"},
                                                         {"12", "1"},
                                                         {std::string("ab\0cd\n", 6), "ab"},
                                                         {" \"x\"\r\n", " \"x\"\r"},
                                                         {"", ""}};
    for (const auto& [sent, reply] : cases) {
        gen->QueueReply(sent);
        EXPECT_EQ(device.Query("A?"), reply);
        EXPECT_EQ(CVisaDevice::s_lastReply, reply);
    }
    EXPECT_TRUE(device.IsConnected());
}

TEST_F(CVisaDeviceTest, ALongReplyIsCutAt9999BytesAndItsTailDoesNotLeakIntoTheNextReply) {
    CVisaDevice device("28");
    for (size_t length : {9999u, 10000u, 10001u, 25000u}) {
        SCOPED_TRACE(length);
        gen->QueueReply(std::string(length - 1, 'x') + "\n");
        gen->QueueReply("next\n");
        EXPECT_EQ(device.Query("BIG?").size(), std::min<size_t>(length - 1, 9999));
        EXPECT_EQ(device.Query("SMALL?"), "next");
    }
}

TEST_F(CVisaDeviceTest, ErrorQueueListsInOneBoxAndEndsAtZeroTheEndMarkerOrAFailure) {
    CVisaDevice device("28");
    for (const char* reply :
         {"-113,\"Undefined header\"\n", "-222,\"Data out of range\"\n", "0,\"No error\"\n",
          "-100,\"hidden\"\n", "0,\"No error\"\n", "-999999999,\"Queue end\"\n"}) {
        gen->QueueReply(reply);
    }
    device.ReadErrorQueue(true);
    device.ReadErrorQueue(false);
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent(), Texts(6, "SYST:ERR?\n"));
    EXPECT_EQ(
        messages,
        (Texts{
            "Error Queue of GPIB0::28::INSTR:\n\n-113,\"Undefined header\"\n-222,\"Data out of range\"",
            "Error Queue of GPIB0::28::INSTR:\n\n-999999999,\"Queue end\""}));

    // A session failing inside the loop: its empty reply is listed, then nothing more is asked.
    messages.clear();
    gen->ClearReceived();
    CVisaDevice::s_lastReply = "-1,\"stale\"";
    genLink->SetReadTimesOut(true);
    device.ReadErrorQueue(true);
    device.ReadErrorQueue(true);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(messages, (Texts{"Cannot read from device GPIB0::28::INSTR",
                               "Error Queue of GPIB0::28::INSTR:\n\n"}));
}

TEST_F(CVisaDeviceTest, CopyFileSendsOneDefiniteLengthBlockOnlyWhenItFitsTheBuffer) {
    const fs::path dir = fs::temp_directory_path() / ("korvel-copy-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    auto sent = [&](const std::string& name, const std::string& data) {
        std::ofstream(name, std::ios::binary) << data;
        CVisaDevice device("28");
        gen->ClearReceived();
        const bool failed = device.CopyFile(name, "D");
        return std::make_pair(failed, gen->Received());
    };
    const std::pair<size_t, const char*> sizes[] = {
        {0, "#10"}, {9, "#19"}, {10, "#210"}, {9900, "#49900"}};
    for (const auto& [size, block] : sizes) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<char>(i * 7);
        EXPECT_EQ(sent("dc.wv", data),
                  std::make_pair(false, Texts{"MMEM:CDIR 'D'\n",
                                              "MMEM:DATA 'dc.wv'," + std::string(block) + data}))
            << size;
    }
    // Refused after the directory command: 9901 bytes, or 9900 with a name of 82 characters
    // (81 still fills the 10000-byte buffer exactly).
    const Texts directoryOnly{"MMEM:CDIR 'D'\n"};
    EXPECT_EQ(sent("dc.wv", std::string(9901, 'a')), std::make_pair(true, directoryOnly));
    EXPECT_EQ(sent(std::string(82, 'n'), std::string(9900, 'b')),
              std::make_pair(true, directoryOnly));
    EXPECT_EQ(sent(std::string(81, 'n'), std::string(9900, 'b')).second.back().size(), 10000u);

    EXPECT_FALSE(CVisaDevice("21").CopyFile("no-such-file", "D"));  // not connected: no file opened
    fs::current_path(previous);
    fs::remove_all(dir);
}

}  // namespace
