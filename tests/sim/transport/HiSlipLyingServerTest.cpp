// The HiSLIP client against scripted servers that split, stall, lie and hang up.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "FakeServer.h"
#include "tests/support/TestSupport.h"
#include "visa/NetworkTesting.h"
#include "visa/ResourceName.h"
#include "visa/hislip/HiSlipConnector.h"
#include "visa/hislip/HiSlipTransport.h"
#include "visa/visa.h"

using namespace visa;
using Message = fake::Peer::Message;

namespace {

using Clock = std::chrono::steady_clock;

// Both channels of one session. The synchronous channel's messages go to the test's script;
// device clear is acknowledged on both channels.
struct FakeHiSlip {
    using Script = std::function<void(fake::Peer& sync, const Message& message)>;
    explicit FakeHiSlip(Script script, std::uint64_t maxMessage = 1 << 20, int initializeFatal = -1)
        : script(std::move(script)), maxMessage(maxMessage), initializeFatal(initializeFatal) {}

    void Serve(fake::Peer& peer) {
        auto first = peer.ReadMessage();
        if (!first)
            return;
        if (first->type == 0) {
            if (initializeFatal == -2)
                return (void)peer.ReadExact(1 << 20, 3000);  // silent
            if (initializeFatal >= 0)
                return peer.Write(fake::HiSlip(2, std::uint8_t(initializeFatal), 0));
            peer.Write(fake::HiSlip(1, 0, 0x01000001));
            while (auto m = peer.ReadMessage()) {
                Record(*m);
                if (m->type == 8) {
                    peer.Write(fake::HiSlip(9, 0, 0));
                } else {
                    script(peer, *m);
                }
            }
        } else if (first->type == 17) {
            peer.Write(fake::HiSlip(18, 0, 0x534D));
            while (auto m = peer.ReadMessage()) {
                Record(*m);
                if (m->type == 15) {
                    peer.Write(fake::HiSlip(16, 0, 0, sim::server::EncodeU64(maxMessage)));
                } else if (m->type == 19) {
                    peer.Write(fake::HiSlip(23, 0, 0));
                }
            }
        }
    }
    void Record(const Message& m) {
        std::lock_guard lock(mutex);
        seen.push_back(m);
    }
    // The messages of one type, waiting a little for at least `atLeast` to arrive.
    std::vector<Message> Seen(std::uint8_t type, std::size_t atLeast = 0) {
        std::vector<Message> out;
        for (int i = 0; i < 200; ++i) {
            out.clear();
            {
                std::lock_guard lock(mutex);
                for (auto& m : seen) {
                    if (m.type == type)
                        out.push_back(m);
                }
            }
            if (out.size() >= atLeast)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return out;
    }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::hislip0," + std::to_string(server.Port()) + "::INSTR";
    }

    Script script;
    std::uint64_t maxMessage;
    int initializeFatal;  // -1: answer, -2: never answer, else the FatalError code
    std::mutex mutex;
    std::vector<Message> seen;
    fake::Server server{[this](fake::Peer& peer) { Serve(peer); }};  // last: starts at once
};

class HiSlipLyingServer : public ::testing::Test {
protected:
    void SetUp() override { viOpenDefaultRM(&rm); }
    void TearDown() override { viClose(rm); }
    ViStatus Open(FakeHiSlip& fake, ViUInt32 openTimeoutMs = 0) {
        return viOpen(rm, fake.Resource().c_str(), VI_NO_LOCK, openTimeoutMs, &vi);
    }

    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
};

TEST_F(HiSlipLyingServer, WritesSplitAtTheServersMaximumAndMessageIdsAndRmtFollowTheRules) {
    // The second response comes as Data, Data, DataEnd of four bytes each.
    auto answered = std::make_shared<int>(0);
    FakeHiSlip fake(
        [answered](fake::Peer& peer, const Message& m) {
            if (m.type != 7)
                return;
            if ((*answered)++ == 0)
                return peer.Write(fake::HiSlip(7, 0, m.parameter, "OK\n"));
            peer.Write(fake::HiSlip(6, 0, m.parameter, "0123") +
                       fake::HiSlip(6, 0, 0xFFFFFFFF, "4567") +
                       fake::HiSlip(7, 0, m.parameter, "89AB"));
        },
        64);
    ASSERT_EQ(Open(fake), VI_SUCCESS);
    EXPECT_EQ(Send(vi, std::string(99, 'x') + "\n"), VI_SUCCESS);
    std::string text;
    EXPECT_EQ(Read(vi, text), VI_SUCCESS);
    EXPECT_EQ(text, "OK\n");
    EXPECT_EQ(Send(vi, "B?\n"), VI_SUCCESS);
    // Reads that end exactly where messages end: only DataEnd's last byte carries END.
    EXPECT_EQ(Read(vi, text, 4), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(Read(vi, text, 4), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(text, "4567");
    EXPECT_EQ(Read(vi, text, 4), VI_SUCCESS);
    EXPECT_EQ(text, "89AB");

    // 64 bytes per message, header included: 48 + 48 + 4, MessageIDs stepping by two; the first
    // message after a delivered response says so (RMT).
    using Shape = std::vector<std::tuple<std::size_t, std::uint32_t, int>>;
    auto shape = [](const std::vector<Message>& messages) {
        Shape out;
        for (const Message& m : messages)
            out.emplace_back(m.payload.size(), m.parameter, m.control);
        return out;
    };
    EXPECT_EQ(shape(fake.Seen(6)), (Shape{{48, 0xFFFFFF00u, 0}, {48, 0xFFFFFF02u, 0}}));
    EXPECT_EQ(shape(fake.Seen(7)), (Shape{{4, 0xFFFFFF04u, 0}, {3, 0xFFFFFF06u, 1}}));
}

TEST_F(HiSlipLyingServer, StaleAndInterruptedResponsesAreSkippedAndStrangeMessagesReported) {
    FakeHiSlip fake([](fake::Peer& peer, const Message& m) {
        if (m.type != 7)
            return;
        if (m.payload == "A?\n") {
            peer.Write(fake::HiSlip(7, 0, m.parameter - 2, "stale\n"));  // left over from a timeout
            peer.Write(fake::HiSlip(13, 0, m.parameter));
            peer.Write(fake::HiSlip(7, 0, m.parameter, "fresh\n"));
        } else {
            peer.Write(fake::HiSlip(99, 0, 0, "vendor things"));
            peer.Write(fake::HiSlip(7, 0, m.parameter, "b\n"));
        }
    });
    ASSERT_EQ(Open(fake), VI_SUCCESS);
    std::string text;
    ASSERT_EQ(Send(vi, "A?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(vi, text), VI_SUCCESS);
    EXPECT_EQ(text, "fresh\n");
    ASSERT_EQ(Send(vi, "B?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(vi, text), VI_ERROR_IO);  // unknown type: dropped, reported, session kept
    EXPECT_EQ(Read(vi, text), VI_SUCCESS);
    EXPECT_EQ(text, "b\n");
    const auto errors = fake.Seen(3, 1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].control, 1);  // unrecognized message type
}

TEST_F(HiSlipLyingServer, LiesAndHangUpsGiveErrorStatuses) {
    struct Case {
        const char* what;
        std::function<void(fake::Peer&, std::uint32_t id)> reply;
        ViStatus status;
    };
    const Case cases[] = {
        {"payload of 1 TiB",
         [](fake::Peer& p, std::uint32_t id) {
             std::string h = fake::HiSlip(7, 0, id);
             h[10] = 1;
             p.Write(h + "abc");
         },
         VI_ERROR_CONN_LOST},
        {"bad prologue", [](fake::Peer& p, std::uint32_t) { p.Write("HX"); }, VI_ERROR_CONN_LOST},
        {"closed mid-message",
         [](fake::Peer& p, std::uint32_t id) {
             p.Write(fake::HiSlip(7, 0, id, "0123456789").substr(0, 20));
             p.Close();
         },
         VI_ERROR_CONN_LOST},
        {"fatal error", [](fake::Peer& p, std::uint32_t) { p.Write(fake::HiSlip(2, 0, 0, "bye")); },
         VI_ERROR_CONN_LOST},
        {"error", [](fake::Peer& p, std::uint32_t) { p.Write(fake::HiSlip(3, 0, 0, "no")); },
         VI_ERROR_IO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeHiSlip fake([&](fake::Peer& peer, const Message& m) {
            if (m.type == 7)
                c.reply(peer, m.parameter);
        });
        ASSERT_EQ(Open(fake), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);
        ASSERT_EQ(Send(vi, "Q?\n"), VI_SUCCESS);
        std::string text;
        const auto start = Clock::now();
        EXPECT_EQ(Read(vi, text), c.status);
        EXPECT_LT(MsSince(start), 400);
        if (c.status == VI_ERROR_CONN_LOST) {
            EXPECT_EQ(Send(vi, "Q?\n"), VI_ERROR_CONN_LOST);
        }
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
    }
}

TEST_F(HiSlipLyingServer, AFloodOfStaleResponsesAndRefusedOpensEndWithinTheirBudgets) {
    // A plain hang is timed against the simulator's server; a flood must not hold the read longer.
    FakeHiSlip flooding([](fake::Peer& peer, const Message& m) {
        std::string stale;
        for (int i = 0; i < 4096; ++i)
            stale += fake::HiSlip(7, 0, m.parameter - 2, "old\n");
        for (const auto begin = Clock::now();
             Clock::now() - begin < std::chrono::milliseconds(3000);)
            peer.Write(stale);
    });
    ASSERT_EQ(Open(flooding), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
    ASSERT_EQ(Send(vi, "Q?\n"), VI_SUCCESS);
    std::string text;
    auto start = Clock::now();
    EXPECT_EQ(Read(vi, text), VI_ERROR_TMO);
    EXPECT_LE(MsSince(start), 2200);
    ASSERT_EQ(viClose(vi), VI_SUCCESS);

    FakeHiSlip silent(nullptr, 1 << 20, -2);  // a sub-address this server does not know
    start = Clock::now();
    EXPECT_EQ(Open(silent, 2000), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(MsSince(start), 2200);
    FakeHiSlip confused(nullptr, 1 << 20, 3);
    EXPECT_EQ(Open(confused), VI_ERROR_RSRC_NFOUND);
    FakeHiSlip tiny(nullptr, 16);  // no room for a single data byte
    EXPECT_EQ(Open(tiny), VI_ERROR_RSRC_NFOUND);
}

TEST_F(HiSlipLyingServer, DeviceClearRunsOnBothChannelsAndStartsMessageIdsOver) {
    FakeHiSlip fake([](fake::Peer&, const Message&) {});
    SetTestPorts(TestPorts{111, 0, fake.server.Port()});  // the default port, as tests may move it
    std::unique_ptr<Transport> transport;
    ASSERT_EQ(hislip::HiSlipConnector().Open(
                  ParseResourceName("TCPIP::127.0.0.1::hislip0::INSTR").name, 1000, transport),
              VI_SUCCESS);
    SetTestPorts(TestPorts{});
    Transport& session = *transport;
    IoSettings io;
    ViUInt32 n = 0;
    ASSERT_EQ(session.Write(reinterpret_cast<ViConstBuf>("A\n"), 2, n, io), VI_SUCCESS);
    ASSERT_EQ(session.Write(reinterpret_cast<ViConstBuf>("B\n"), 2, n, io), VI_SUCCESS);
    EXPECT_EQ(session.Clear(io), VI_SUCCESS);
    ASSERT_EQ(session.Write(reinterpret_cast<ViConstBuf>("C\n"), 2, n, io), VI_SUCCESS);
    session.Close();
    const auto dataEnd = fake.Seen(7, 3);
    ASSERT_EQ(dataEnd.size(), 3u);
    EXPECT_EQ(dataEnd[1].parameter, 0xFFFFFF02u);
    EXPECT_EQ(dataEnd[2].parameter, 0xFFFFFF00u);
    EXPECT_EQ(fake.Seen(19).size(), 1u);
    EXPECT_EQ(fake.Seen(8).size(), 1u);
}

}  // namespace
