// The transports of another build (the Windows one, under Wine) against a korvel-sim program
// started beside it, at KORVEL_LIVE_SIM (a loopback block B): generator 1 at B.1 pads every reply
// to 20,000 bytes, generator 2 at B.2 hangs, the analyzer at B.3 drops its link after the first
// message; the server reads in chunks of 1000 bytes, takes writes of 1024 (VXI-11) and sends
// HiSLIP messages of 64. Without the variable every test skips.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "visa/visa.h"

using namespace visa;

namespace {

constexpr std::size_t kHuge = 20000;

class LiveSim : public ::testing::TestWithParam<bool> {  // HiSLIP?
protected:
    void Open(int host) {
        const char* block = std::getenv("KORVEL_LIVE_SIM");
        if (!block || !*block)
            GTEST_SKIP() << "KORVEL_LIVE_SIM names no simulator";
        resource = std::string("TCPIP::") + block + "." + std::to_string(host) +
                   (GetParam() ? "::hislip0::INSTR" : "::inst0::INSTR");
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(rm, resource.c_str(), VI_NO_LOCK, 0, &vi), VI_SUCCESS) << resource;
    }
    void TearDown() override {
        if (rm)
            viClose(rm);
    }
    std::string resource;
    ViSession rm = VI_NULL, vi = VI_NULL;
};

TEST_P(LiveSim, AHugeReplyEndsRightAtEveryChunkBoundaryAndLongWritesArriveWhole) {
    Open(1);
    for (ViUInt32 count : {999u, 1000u, 1001u, 19999u, 20000u, 65536u}) {
        SCOPED_TRACE("count " + std::to_string(count));
        ASSERT_EQ(Send(vi, "*IDN?\n"), VI_SUCCESS);
        std::string text;
        std::vector<ViStatus> expected((kHuge + count - 1) / count, VI_SUCCESS_MAX_CNT);
        expected.back() = VI_SUCCESS;
        EXPECT_EQ(ReadAll(vi, count, text), expected);
        ASSERT_EQ(text.size(), kHuge);
        EXPECT_NE(text.front(), ' ');
        EXPECT_EQ(text.substr(kHuge - 3), "  \n");
    }
    // Queries padded with blanks to around one and two of the server's write limits.
    const std::size_t limit = GetParam() ? 48 : 1024;
    for (std::size_t length :
         {limit - 1, limit, limit + 1, 2 * limit - 1, 2 * limit, 2 * limit + 1}) {
        SCOPED_TRACE("message of " + std::to_string(length));
        ASSERT_EQ(Send(vi, "*IDN?" + std::string(length - 6, ' ') + "\n"), VI_SUCCESS);
        std::string text;
        EXPECT_EQ(ReadAll(vi, 100000, text), std::vector<ViStatus>{VI_SUCCESS});
        EXPECT_EQ(text.size(), kHuge);
    }
}

TEST_P(LiveSim, AHangingInstrumentTimesOutWithinItsMargin) {
    Open(2);
    // Over VXI-11 the server answers at the timeout and our socket waits a second more.
    const ViUInt32 timeoutMs = 1000;
    const long long margin = GetParam() ? 400 : 1000;
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs), VI_SUCCESS);
    ASSERT_EQ(Send(vi, "*IDN?\n"), VI_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    std::string text;
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_ERROR_TMO});
    EXPECT_GE(MsSince(start), timeoutMs);
    EXPECT_LE(MsSince(start), timeoutMs + margin);
}

TEST_P(LiveSim, ADroppedLinkIsLostForGoodAndARefusedOneFailsFast) {
    Open(3);
    Send(vi, "*IDN?\n");  // the link goes with this message, before or after its write returns
    std::string text;
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_ERROR_CONN_LOST});
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_ERROR_CONN_LOST});
    EXPECT_EQ(Send(vi, "*IDN?\n"), VI_ERROR_CONN_LOST);
    // Nothing listens at B.9: the connection is refused, not left to the timeout.
    const std::string nobody = resource.replace(resource.find(".3::"), 4, ".9::");
    const auto start = std::chrono::steady_clock::now();
    ViSession other = VI_NULL;
    EXPECT_EQ(viOpen(rm, nobody.c_str(), VI_NO_LOCK, 0, &other), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(MsSince(start), 500);
}

INSTANTIATE_TEST_SUITE_P(Live, LiveSim, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "HiSlip" : "Vxi11"; });

}  // namespace
