// The VXI-11 client against scripted servers that split, stall, lie and hang up.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FakeServer.h"
#include "tests/support/TestSupport.h"
#include "visa/NetworkTesting.h"
#include "visa/visa.h"

using namespace visa;

namespace {

using Clock = std::chrono::steady_clock;

// A core channel that links anything and hands every other call to the test's script.
struct FakeCore {
    using Script = std::function<void(fake::Peer&, const fake::Peer::Call&)>;
    explicit FakeCore(Script script, std::uint32_t maxRecvSize = 1024, std::int32_t linkError = 0)
        : script(std::move(script)), maxRecvSize(maxRecvSize), linkError(linkError) {}

    void Serve(fake::Peer& peer) {
        while (auto call = peer.ReadCall()) {
            {
                std::lock_guard lock(mutex);
                calls.push_back(*call);
            }
            if (call->procedure == 10) {
                peer.Write(fake::RpcReply(
                    call->xid, fake::Words({std::uint32_t(linkError), 7, 0, maxRecvSize})));
            } else if (call->procedure == 23) {
                peer.Write(fake::RpcReply(call->xid, fake::Words({0})));
            } else {
                script(peer, *call);
            }
        }
    }
    std::vector<fake::Peer::Call> Calls(std::uint32_t procedure) {
        std::lock_guard lock(mutex);
        std::vector<fake::Peer::Call> out;
        for (auto& c : calls) {
            if (c.procedure == procedure)
                out.push_back(c);
        }
        return out;
    }

    Script script;
    std::uint32_t maxRecvSize;
    std::int32_t linkError;
    std::mutex mutex;
    std::vector<fake::Peer::Call> calls;
    fake::Server server{[this](fake::Peer& peer) { Serve(peer); }};  // last: starts at once
};

class Vxi11LyingServer : public ::testing::Test {
protected:
    void TearDown() override {
        if (rm != VI_NULL)
            viClose(rm);
        SetTestPorts(TestPorts{});
    }
    static void UsePorts(std::uint16_t portmapper, std::uint16_t core) {
        SetTestPorts(TestPorts{portmapper, core, kHiSlipDefaultPort});
    }
    ViStatus Open(FakeCore& core, ViUInt32 openTimeoutMs = 0) {
        UsePorts(111, core.server.Port());
        if (rm == VI_NULL)
            viOpenDefaultRM(&rm);
        return viOpen(rm, "TCPIP::127.0.0.1::inst0::INSTR", VI_NO_LOCK, openTimeoutMs, &vi);
    }

    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
};

TEST_F(Vxi11LyingServer,
       WritesSplitAtMaxRecvSizeWithEndOnTheLastPieceAndResumeAfterAPartialAccept) {
    int writes = 0;
    FakeCore core([&](fake::Peer& peer, const fake::Peer::Call& call) {
        const std::uint32_t length = static_cast<std::uint32_t>(fake::GetBe(call.args, 16, 4));
        const std::uint32_t taken = ++writes == 2 ? 500 : length;  // the second piece only in part
        peer.Write(fake::RpcReply(call.xid, fake::Words({0, taken})));
    });
    ASSERT_EQ(Open(core), VI_SUCCESS);
    std::string message(2500, '\0');
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>('a' + i % 26);
    ViUInt32 written = 0;
    EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(message.data()), 2500, &written),
              VI_SUCCESS);
    EXPECT_EQ(written, 2500u);

    const auto calls = core.Calls(11);
    ASSERT_EQ(calls.size(), 3u);
    std::string received;
    const std::uint32_t accepted[] = {1024, 500, 976};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const std::uint32_t flags = static_cast<std::uint32_t>(fake::GetBe(calls[i].args, 12, 4));
        EXPECT_EQ(flags, i + 1 == calls.size() ? 0x08u : 0u) << i;  // END on the last piece only
        received += calls[i].args.substr(20, accepted[i]);
    }
    EXPECT_EQ(received, message);
}

TEST_F(Vxi11LyingServer, ReadsGatherPiecesAndKeepWhatOverflowsTheCount) {
    int reads = 0;
    FakeCore core([&](fake::Peer& peer, const fake::Peer::Call& call) {
        // A piece without END, then more than was asked for, END on its last byte.
        const char* piece = ++reads == 1 ? "ABC" : "DEFGHIJ\n";
        peer.Write(fake::RpcReply(call.xid, fake::ReadResults(0, reads == 1 ? 0 : 4, piece)));
    });
    ASSERT_EQ(Open(core), VI_SUCCESS);
    std::string text;
    EXPECT_EQ(Read(vi, text, 5), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(text, "ABCDE");
    EXPECT_EQ(Read(vi, text, 4), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(text, "FGHI");
    EXPECT_EQ(Read(vi, text), VI_SUCCESS);  // the kept bytes end the message
    EXPECT_EQ(text, "J\n");
    EXPECT_EQ(core.Calls(12).size(), 2u);
    // The second request asked only for what was left of the count.
    EXPECT_EQ(fake::GetBe(core.Calls(12)[1].args, 4, 4), 2u);
}

TEST_F(Vxi11LyingServer, AReplyLeftBehindByATimeoutIsDroppedAndTheSessionGoesOn) {
    std::uint32_t unanswered = 0;
    FakeCore core([&](fake::Peer& peer, const fake::Peer::Call& call) {
        if (unanswered == 0) {
            unanswered = call.xid;  // this server forgets to answer in time...
            return;
        }
        // ...and answers late, just before the reply to the next call.
        peer.Write(fake::RpcReply(unanswered, fake::ReadResults(0, 4, "OLD\n")));
        peer.Write(fake::RpcReply(call.xid, fake::ReadResults(0, 4, "NEW\n")));
    });
    ASSERT_EQ(Open(core), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    std::string text;
    const auto start = Clock::now();
    EXPECT_EQ(Read(vi, text), VI_ERROR_TMO);
    // The server was given 200 ms; the socket waits one second longer for its answer.
    EXPECT_GE(MsSince(start), 1150);
    EXPECT_LE(MsSince(start), 1200 + 250);
    EXPECT_EQ(Read(vi, text), VI_SUCCESS);
    EXPECT_EQ(text, "NEW\n");
}

TEST_F(Vxi11LyingServer, LiesAndHangUpsGiveErrorStatusesAndALostLinkStaysLost) {
    struct Case {
        const char* what;
        std::function<void(fake::Peer&, std::uint32_t xid)> reply;
        ViStatus status;
    };
    const Case cases[] = {
        {"reply to a later call",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::RpcReply(xid + 5, fake::ReadResults(0, 4, "x")));
         },
         VI_ERROR_CONN_LOST},
        {"record of 2 GiB",
         [](fake::Peer& p, std::uint32_t) {
             p.Write(fake::Words({0xFFFFFFF0u, 1, 2, 3}));
         },
         VI_ERROR_CONN_LOST},
        {"closed mid-record",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::RpcReply(xid, fake::ReadResults(0, 4, "ABCDEFGH")).substr(0, 30));
             p.Close();
         },
         VI_ERROR_CONN_LOST},
        {"link gone (error 4)",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::RpcReply(xid, fake::ReadResults(4, 0, "")));
         },
         VI_ERROR_CONN_LOST},
        {"opaque longer than the record",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::RpcReply(xid, fake::Words({0, 4, 100, 0x41424344})));
         },
         VI_ERROR_IO},
        {"RPC denied",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::Words({0x80000010u, xid, 1, 1, 0}));
         },
         VI_ERROR_IO},
        {"procedure unavailable",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::Words({0x80000018u, xid, 1, 0, 0, 0, 3}));
         },
         VI_ERROR_IO},
        {"a call instead of a reply",
         [](fake::Peer& p, std::uint32_t xid) {
             p.Write(fake::Words({0x80000008u, xid, 0}));
         },
         VI_ERROR_IO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeCore core(
            [&](fake::Peer& peer, const fake::Peer::Call& call) { c.reply(peer, call.xid); });
        ASSERT_EQ(Open(core), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);
        std::string text;
        const auto start = Clock::now();
        EXPECT_EQ(Read(vi, text), c.status);
        EXPECT_LT(MsSince(start), 400);  // a lie is seen at once, not after a timeout
        if (c.status == VI_ERROR_CONN_LOST) {
            EXPECT_EQ(Send(vi, "*CLS\n"), VI_ERROR_CONN_LOST);
        }
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
    }
}

TEST_F(Vxi11LyingServer, OpensThatCannotSucceedFailFastWithResourceNotFound) {
    FakeCore unknownDevice([](fake::Peer&, const fake::Peer::Call&) {}, 1024, 3);
    EXPECT_EQ(Open(unknownDevice), VI_ERROR_RSRC_NFOUND);
    FakeCore busy([](fake::Peer&, const fake::Peer::Call&) {}, 1024, 9);
    EXPECT_EQ(Open(busy), VI_ERROR_RSRC_BUSY);

    // Accepts the connection, never answers create_link: the open budget ends it.
    fake::Server silent([](fake::Peer& peer) { peer.ReadExact(1u << 20, 3000); });
    UsePorts(111, silent.Port());
    auto start = Clock::now();
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.1::INSTR", VI_NO_LOCK, 300, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(MsSince(start), 600);
    EXPECT_EQ(vi, VI_NULL);

    // Portmappers: one that knows no core program, one whose reply lacks the last-fragment bit.
    fake::Server unregistered([](fake::Peer& peer) {
        if (auto call = peer.ReadCall())
            peer.Write(fake::RpcReply(call->xid, fake::Words({0})));
    });
    UsePorts(unregistered.Port(), 0);
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.1::INSTR", VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);

    FakeCore core([](fake::Peer&, const fake::Peer::Call&) {});
    fake::Server unterminated([&](fake::Peer& peer) {
        if (auto call = peer.ReadCall()) {
            std::string reply = fake::RpcReply(call->xid, fake::Words({core.server.Port()}));
            reply[0] = 0;  // no last-fragment bit
            peer.Write(reply);
            peer.ReadExact(1, 3000);
        }
    });
    UsePorts(unterminated.Port(), 0);
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.1::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    EXPECT_EQ(core.Calls(23).size(), 1u);  // the link was destroyed, not leaked

    // Nobody listening.
    UsePorts(1, 0);
    start = Clock::now();
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.1::INSTR", VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(MsSince(start), 1000);
}

}  // namespace
