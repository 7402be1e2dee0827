#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../support/ScriptedInstrument.h"
#include "visa/InProcess.h"
#include "visa/visa.h"

using namespace visa;

namespace {

class VisaLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        instrument = std::make_shared<ScriptedInstrument>();
        attachment = AttachInProcess("TCPIP0::127.0.0.77::inst0::INSTR", instrument);
        ASSERT_TRUE(attachment);
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    }
    void TearDown() override { viClose(rm); }

    ViSession Open(const char* name = "TCPIP::127.0.0.77::INSTR") {
        ViSession vi = 0;
        EXPECT_EQ(viOpen(rm, name, VI_NO_LOCK, 0, &vi), VI_SUCCESS);
        return vi;
    }
    ViStatus Send(ViSession vi, const std::string& text) {
        ViUInt32 n = 0;
        return viWrite(vi, reinterpret_cast<ViConstBuf>(text.data()), static_cast<ViUInt32>(text.size()), &n);
    }

    std::shared_ptr<ScriptedInstrument> instrument;
    std::unique_ptr<InProcessAttachment> attachment;
    ViSession rm = 0;
};

TEST_F(VisaLibrary, ReadsAMessageInPiecesOfAnyCountWithEndOnlyOnTheLast) {
    ViSession vi = Open();
    for (size_t length = 0; length <= 24; ++length) {
        for (ViUInt32 count = 1; count <= 9; ++count) {
            std::string message;
            for (size_t i = 0; i < length; ++i) message += static_cast<char>('a' + i % 26);
            instrument->QueueReply(message);
            ASSERT_EQ(Send(vi, "Q?"), VI_SUCCESS);
            std::string got;
            ViStatus status = VI_SUCCESS_MAX_CNT;
            int reads = 0;
            while (status == VI_SUCCESS_MAX_CNT) {
                ViByte buffer[16];
                ViUInt32 n = 0;
                status = viRead(vi, buffer, count, &n);
                got.append(reinterpret_cast<char*>(buffer), n);
                ASSERT_LE(++reads, 30);
            }
            ASSERT_EQ(status, VI_SUCCESS) << length << "/" << count;
            ASSERT_EQ(got, message) << length << "/" << count;
            // END on a piece that exactly fills the count still reports success, not MAX_CNT.
            const size_t expectedReads = length == 0 ? 1 : (length + count - 1) / count;
            ASSERT_EQ(static_cast<size_t>(reads), expectedReads) << length << "/" << count;
        }
    }
}

TEST_F(VisaLibrary, TermCharEndsAReadOnlyWhenEnabled) {
    ViSession vi = Open();
    instrument->QueueReply("A\nB\n");
    Send(vi, "Q?");
    ViByte buffer[100];
    ViUInt32 n = 0;
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    // The in-process transport hands a whole message at once, so the term char shows only at a
    // count boundary.
    EXPECT_EQ(viRead(vi, buffer, 2, &n), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(viRead(vi, buffer, 2, &n), VI_SUCCESS);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(vi, 0x3FFF0001, 1), VI_ERROR_NSUP_ATTR);
}

TEST_F(VisaLibrary, HandlesAreCheckedAndClosingTheManagerClosesItsSessions) {
    ViSession vi = Open();
    ViByte buffer[4];
    ViUInt32 n = 0;
    EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    EXPECT_EQ(viRead(0xDEAD, buffer, 4, &n), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viRead(rm, buffer, 4, &n), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viRead(vi, nullptr, 4, &n), VI_ERROR_INV_PARAMETER);
    ViSession other = 0;
    EXPECT_EQ(viOpen(vi, "TCPIP::127.0.0.77::INSTR", 0, 0, &other), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.77::INSTR", 8, 0, &other), VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(other, VI_NULL);

    ViSession rm2 = 0;
    ASSERT_EQ(viOpenDefaultRM(&rm2), VI_SUCCESS);
    EXPECT_NE(rm2, rm);
    ViSession vi2 = 0;
    ASSERT_EQ(viOpen(rm2, "TCPIP::127.0.0.77::INSTR", 0, 0, &vi2), VI_SUCCESS);
    EXPECT_EQ(viClose(rm2), VI_SUCCESS);
    EXPECT_EQ(viWrite(vi2, buffer, 1, &n), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi2), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Send(vi, "*IDN?\n"), VI_SUCCESS);  // the first manager's session is untouched
}

TEST_F(VisaLibrary, NamesNothingCanReachAreNotFoundAndBadNamesInvalid) {
    ViSession vi = 123;
    EXPECT_EQ(viOpen(rm, "GPIB0::28::INSTR", 0, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, VI_NULL);
    EXPECT_EQ(viOpen(rm, "USB0::0x1234::0x5678::SN1::INSTR", 0, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viOpen(rm, "GPIB0::ab::INSTR", 0, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viOpen(rm, nullptr, 0, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    attachment->SetRefuseOpen(true);
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.77::INSTR", 0, 0, &vi), VI_ERROR_RSRC_NFOUND);
}

TEST_F(VisaLibrary, ALostConnectionIsStickyAndDetachingLosesIt) {
    ViSession vi = Open();
    attachment->SetLostAfterMessages(2);
    instrument->QueueReply("1\n");
    EXPECT_EQ(Send(vi, "A?"), VI_SUCCESS);
    ViByte buffer[8];
    ViUInt32 n = 0;
    EXPECT_EQ(viRead(vi, buffer, 8, &n), VI_SUCCESS);
    EXPECT_EQ(Send(vi, "B"), VI_ERROR_CONN_LOST);
    attachment->SetLostAfterMessages(-1);  // the instrument recovers, the session does not
    EXPECT_EQ(Send(vi, "B"), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viRead(vi, buffer, 8, &n), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);

    ViSession fresh = Open();
    attachment.reset();
    EXPECT_EQ(Send(fresh, "A"), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viOpen(rm, "TCPIP::127.0.0.77::INSTR", 0, 0, &fresh), VI_ERROR_RSRC_NFOUND);
}

TEST_F(VisaLibrary, TimeoutAttributeReachesTheTransportAndAReadWithoutReplyTimesOut) {
    ViSession vi = Open();
    ViByte buffer[8];
    ViUInt32 n = 99;
    EXPECT_EQ(viRead(vi, buffer, 8, &n), VI_ERROR_TMO);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 10000), VI_SUCCESS);
    viRead(vi, buffer, 8, &n);
    auto events = attachment->Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 2].timeoutMs, kDefaultTimeoutMs);
    EXPECT_EQ(events.back().timeoutMs, 10000u);
}

}  // namespace
