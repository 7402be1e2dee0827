// The HiSLIP server driven over loopback by a raw client: what our own client never does to it
// (several sessions, stray channels, oversize and unknown messages, violations, status, locks,
// device clear with partial input). The opening sequence, MessageIDs and Data/DataEnd are
// exercised by the client-against-simulator tests.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <tuple>

#include "RawClients.h"
#include "sim/server/HiSlipServer.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class HiSlipServerTest : public ::testing::Test {
protected:
    void Start(HiSlipOptions options = {}) {
        options.address = "127.0.0.1";
        options.port = 0;
        instrument = std::make_shared<FaultyInstrument>();
        other = std::make_shared<FaultyInstrument>();
        other->idn = "Maltoven,OTHER,2,2.0\n";
        server = std::make_unique<HiSlipServer>(
            options,
            std::vector<SubAddress>{{"hislip0", std::make_shared<ServedDevice>("a", instrument)},
                                    {"hislip28", std::make_shared<ServedDevice>("b", other)}});
        std::string error;
        ASSERT_TRUE(server->Start(error)) << error;
    }
    void SetUp() override { Start(); }
    bool Open(HiSlipClient& client, const std::string& sub = "hislip0",
              std::optional<uint64_t> max = 1u << 20) {
        return client.Open("127.0.0.1", server->Port(), sub, max);
    }
    // The next message on a channel, its type, or -1 when the channel closed.
    static int NextType(TcpSocket& socket) {
        const auto message = HiSlipClient::Receive(socket);
        return message ? message->header.type : -1;
    }
    // Sends one asynchronous request and returns the control code of its answer (-1: none).
    static int AsyncControl(HiSlipClient& c, uint8_t type, uint8_t control, uint32_t parameter) {
        HiSlipClient::Send(c.async, type, control, parameter);
        const auto answer = HiSlipClient::Receive(c.async);
        return answer ? answer->header.control : -1;
    }

    std::shared_ptr<FaultyInstrument> instrument;
    std::shared_ptr<FaultyInstrument> other;
    std::unique_ptr<HiSlipServer> server;
};

}  // namespace

TEST_F(HiSlipServerTest, SubAddressesAndSeveralSessions) {
    HiSlipClient a, b, d;
    ASSERT_TRUE(Open(a, "HISLIP0"));
    ASSERT_TRUE(Open(b, "hislip28"));
    ASSERT_TRUE(Open(d, ""));  // the default device
    EXPECT_NE(a.sessionId, b.sessionId);
    // a and d share one instrument, and with it its output queue: each reads before the other
    // writes, as on a real instrument.
    b.Write("*IDN?\n");
    a.Write("*IDN?\n");
    EXPECT_EQ(a.ReadResponse(), instrument->idn);
    d.Write("*IDN?\n");
    EXPECT_EQ(d.ReadResponse(), instrument->idn);
    EXPECT_EQ(b.ReadResponse(), other->idn);
    EXPECT_EQ(server->SessionCount(), 3u);

    // An unknown sub-address; AsyncInitialize for a session that does not exist, or a second time.
    const std::vector<std::tuple<uint8_t, uint32_t, std::string>> openings = {
        {hislip::kInitialize, 0x01005858, "hislip7"},
        {hislip::kAsyncInitialize, 0xBEEF, ""},
        {hislip::kAsyncInitialize, a.sessionId, ""}};
    for (const auto& [type, parameter, payload] : openings) {
        TcpSocket socket = ConnectTcp("127.0.0.1", server->Port(), kWaitMs);
        socket.SetReadTimeoutMs(kWaitMs);
        HiSlipClient::Send(socket, type, 0, parameter, payload);
        const auto fatal = HiSlipClient::Receive(socket);
        ASSERT_TRUE(fatal) << payload;
        EXPECT_EQ(fatal->header.type, hislip::kFatalError);
        EXPECT_EQ(fatal->header.control, hislip::kFatalInvalidInitSequence);
        EXPECT_EQ(NextType(socket), -1);
    }
    a.Write("*IDN?\n");
    EXPECT_EQ(a.ReadResponse(), instrument->idn);
}

TEST_F(HiSlipServerTest, OversizeMessagesAreRefusedAndTheSessionGoesOn) {
    Start([] {
        HiSlipOptions o;
        o.maxHiSlipMessageSize = 64;
        return o;
    }());
    HiSlipClient c;
    ASSERT_TRUE(Open(c));
    c.Write(std::string(49, 'x'));
    const auto error = HiSlipClient::Receive(c.sync);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->header.type, hislip::kError);
    EXPECT_EQ(error->header.control, hislip::kErrorMessageTooLarge);
    instrument->QueueReply("fits\n");
    c.Write("SYST:ERR?" + std::string(39, ' '));  // 48 bytes + 16 = 64: fits
    EXPECT_EQ(c.ReadResponse(), "fits\n");
    // Unknown and vendor messages get Error, not a hang-up.
    HiSlipClient::Send(c.sync, 99, 0, 0);
    EXPECT_EQ(NextType(c.sync), hislip::kError);
    HiSlipClient::Send(c.async, 200, 0, 0, "vendor");
    const auto vendor = HiSlipClient::Receive(c.async);
    ASSERT_TRUE(vendor);
    EXPECT_EQ(vendor->header.control, hislip::kErrorUnrecognizedVendor);
}

TEST_F(HiSlipServerTest, ViolationsCloseBothChannelsOfThatSessionOnly) {
    HiSlipClient good;
    ASSERT_TRUE(Open(good));
    struct Violation {
        const char* name;
        std::string bytes;
        bool onAsync;
    };
    const std::vector<Violation> violations = {
        {"bad prologue", "XX" + std::string(14, '\0'), false},
        {"bad prologue on async", "HT" + std::string(14, '\0'), true},
        {"impossible length",
         EncodeHiSlipMessage(hislip::kData, 0, 0).substr(0, 8) +
             std::string("\x7f\xff\xff\xff\xff\xff\xff\xff", 8),
         false},
    };
    for (const Violation& v : violations) {
        HiSlipClient bad;
        ASSERT_TRUE(Open(bad)) << v.name;
        (v.onAsync ? bad.async : bad.sync).WriteAll(v.bytes);
        EXPECT_EQ(NextType(bad.sync), hislip::kFatalError) << v.name;
        EXPECT_EQ(NextType(bad.async), hislip::kFatalError) << v.name;
        EXPECT_EQ(NextType(bad.sync), -1) << v.name;
        EXPECT_EQ(NextType(bad.async), -1) << v.name;
    }
    // Data before the asynchronous channel exists.
    HiSlipClient early;
    ASSERT_TRUE(early.Connect(early.sync, "127.0.0.1", server->Port()));
    HiSlipClient::Send(early.sync, hislip::kInitialize, 0, 0x01005858, "hislip0");
    EXPECT_EQ(NextType(early.sync), hislip::kInitializeResponse);
    early.Write("*IDN?\n");
    const auto fatal = HiSlipClient::Receive(early.sync);
    ASSERT_TRUE(fatal);
    EXPECT_EQ(fatal->header.control, hislip::kFatalChannelsNotEstablished);
    // A first message that is neither Initialize nor AsyncInitialize.
    HiSlipClient wrong;
    ASSERT_TRUE(wrong.Connect(wrong.sync, "127.0.0.1", server->Port()));
    wrong.Write("*IDN?\n");
    EXPECT_EQ(NextType(wrong.sync), hislip::kFatalError);
    // Closing one channel closes the other.
    HiSlipClient half;
    ASSERT_TRUE(Open(half));
    half.async.Close();
    EXPECT_EQ(NextType(half.sync), -1);

    good.Write("*IDN?\n");
    EXPECT_EQ(good.ReadResponse(), instrument->idn);
    for (int i = 0; i < 100 && server->SessionCount() > 1; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(server->SessionCount(), 1u);
}

TEST_F(HiSlipServerTest, DeviceClearStatusAndLocks) {
    HiSlipClient c;
    ASSERT_TRUE(Open(c));
    // MAV while a response is waiting for the client, cleared by RMT-delivered.
    c.Write("*IDN?\n");
    EXPECT_EQ(c.ReadResponse(), instrument->idn);
    EXPECT_EQ(AsyncControl(c, hislip::kAsyncStatusQuery, 0, c.messageId - 2) & 0x10, 0x10);
    EXPECT_EQ(AsyncControl(c, hislip::kAsyncStatusQuery, 1, c.messageId - 2) & 0x10, 0);

    // Device clear: acknowledged on async, then sync messages ignored until DeviceClearComplete.
    HiSlipClient::Send(c.sync, hislip::kData, 0, c.messageId, "*ID");
    HiSlipClient::Send(c.async, hislip::kAsyncDeviceClear, 0, 0);
    EXPECT_EQ(NextType(c.async), hislip::kAsyncDeviceClearAcknowledge);
    c.Write("*IDN?\n");  // ignored during the clear
    HiSlipClient::Send(c.sync, hislip::kDeviceClearComplete, 0, 0);
    const auto ack = HiSlipClient::Receive(c.sync);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.type, hislip::kDeviceClearAcknowledge);
    EXPECT_EQ(ack->header.control, 0);
    EXPECT_EQ(instrument->clears, 1);
    c.messageId = hislip::kInitialMessageId;
    std::vector<uint32_t> ids;
    c.Write("*IDN?\n");
    EXPECT_EQ(c.ReadResponse(&ids), instrument->idn);
    EXPECT_EQ(ids, std::vector<uint32_t>{hislip::kInitialMessageId});
    EXPECT_EQ(instrument->Received().back(), "*IDN?\n");
    EXPECT_EQ(instrument->Received().size(), 2u);

    // Exclusive lock: a second session waits and fails; release; lock info.
    HiSlipClient d;
    ASSERT_TRUE(Open(d));
    EXPECT_EQ(AsyncControl(c, hislip::kAsyncLock, 1, 0), 1);
    EXPECT_EQ(AsyncControl(d, hislip::kAsyncLock, 1, 100), 0);
    HiSlipClient::Send(d.async, hislip::kAsyncLockInfo, 0, 0);
    const auto info = HiSlipClient::Receive(d.async);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->header.control, 1);
    EXPECT_EQ(info->header.parameter, 1u);
    EXPECT_EQ(AsyncControl(d, hislip::kAsyncLock, 0, 0), 3);  // held none
    // The lock goes with its session.
    c.sync.Close();
    EXPECT_EQ(AsyncControl(d, hislip::kAsyncLock, 1, 2000), 1);
}
