#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/ScriptedInstrument.h"
#include "tests/support/TestSupport.h"
#include "visa/InProcess.h"
#include "visa/visa.h"

using namespace visa;

namespace {

class VisaLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        attachment = AttachInProcess("TCPIP0::127.0.0.77::inst0::INSTR", instrument);
        ASSERT_TRUE(attachment);
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(rm, kName, VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    }
    void TearDown() override { viClose(rm); }
    ViStatus Read(ViSession session, ViUInt32 count = 8) {
        n = 99;
        return viRead(session, buffer, count, &n);
    }

    static constexpr const char* kName = "TCPIP::127.0.0.77::INSTR";
    std::shared_ptr<ScriptedInstrument> instrument = std::make_shared<ScriptedInstrument>();
    std::unique_ptr<InProcessAttachment> attachment;
    ViSession rm = 0, vi = 0;
    ViByte buffer[16];
    ViUInt32 n = 0;
};

// Closed handles, the access mode, null names and buffers are refused the same way in front of an
// installed library; the vendor tests show those.
TEST_F(VisaLibrary, HandlesOfTheWrongKindAreRefusedAndManagersAreIndependent) {
    ViSession other = 0;
    EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    EXPECT_EQ(Read(0xDEAD), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Read(rm), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viOpen(vi, kName, 0, 0, &other), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(vi, 0x3FFF0001, 1), VI_ERROR_NSUP_ATTR);

    ViSession rm2 = 0;
    ASSERT_EQ(viOpenDefaultRM(&rm2), VI_SUCCESS);
    EXPECT_NE(rm2, rm);
    ASSERT_EQ(viOpen(rm2, kName, 0, 0, &other), VI_SUCCESS);
    EXPECT_EQ(viClose(rm2), VI_SUCCESS);
    EXPECT_EQ(Send(other, "X"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Send(vi, "*IDN?\n"), VI_SUCCESS);  // the first manager's session is untouched
}

TEST_F(VisaLibrary, NamesNothingCanReachAreNotFoundAndBadNamesInvalid) {
    const std::pair<const char*, ViStatus> cases[] = {
        {"GPIB0::28::INSTR", VI_ERROR_RSRC_NFOUND},
        {"USB0::0x1234::0x5678::SN1::INSTR", VI_ERROR_RSRC_NFOUND},
        {"GPIB0::ab::INSTR", VI_ERROR_INV_RSRC_NAME},
        {nullptr, VI_ERROR_INV_RSRC_NAME}};
    for (const auto& [name, status] : cases) {
        ViSession other = 123;
        EXPECT_EQ(viOpen(rm, name, 0, 0, &other), status) << (name ? name : "null");
        EXPECT_EQ(other, VI_NULL);
    }
    attachment->SetRefuseOpen(true);
    ViSession other = 0;
    EXPECT_EQ(viOpen(rm, kName, 0, 0, &other), VI_ERROR_RSRC_NFOUND);
}

TEST_F(VisaLibrary, ALostConnectionIsStickyAndDetachingLosesIt) {
    attachment->SetLostAfterMessages(1);
    EXPECT_EQ(Send(vi, "A"), VI_SUCCESS);
    EXPECT_EQ(Send(vi, "B"), VI_ERROR_CONN_LOST);
    attachment->SetLostAfterMessages(-1);  // the instrument recovers, the session does not
    EXPECT_EQ(Send(vi, "B"), VI_ERROR_CONN_LOST);
    EXPECT_EQ(Read(vi), VI_ERROR_CONN_LOST);
    EXPECT_EQ(n, 0u);

    ViSession fresh = 0;
    ASSERT_EQ(viOpen(rm, kName, 0, 0, &fresh), VI_SUCCESS);
    attachment.reset();
    EXPECT_EQ(Send(fresh, "A"), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viOpen(rm, kName, 0, 0, &fresh), VI_ERROR_RSRC_NFOUND);
}

}  // namespace
