#include <gtest/gtest.h>

#include <random>

#include "visa/ResourceName.h"

using namespace visa;

namespace {

TEST(ResourceName, ParsesAndCanonicalisesTheDocumentedFormsAndRefusesTheRest) {
    const struct {
        const char* text;
        ViStatus status;
        const char* canonical;  // when status is VI_SUCCESS
    } cases[] = {
        {"GPIB0::28::INSTR", VI_SUCCESS, "GPIB0::28::INSTR"},
        {"TCPIP::192.168.0.10::INSTR", VI_SUCCESS, "TCPIP0::192.168.0.10::inst0::INSTR"},
        {"GPIB1::5::2::INSTR", VI_SUCCESS, "GPIB1::5::2::INSTR"},
        {"GPIB::5", VI_SUCCESS, "GPIB0::5::INSTR"},
        {"tcpip0::localhost::instr", VI_SUCCESS, "TCPIP0::localhost::inst0::INSTR"},
        {"TCPIP0::127.0.0.1::gpib0,28::INSTR", VI_SUCCESS, "TCPIP0::127.0.0.1::gpib0,28::INSTR"},
        {"TCPIP0::[::1]::hislip0::INSTR", VI_SUCCESS, "TCPIP0::[::1]::hislip0::INSTR"},
        {"TCPIP::gpib0::28::instr::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP::::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"GPIB0::31::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP0::127.0.0.1::hislip0,abc::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP0::127.0.0.1::hislip0,0::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP0::127.0.0.1::hislip0,65536::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP0::127.0.0.1::5025::SOCKET", VI_ERROR_RSRC_NFOUND, ""},
        {"TCPIP:: host::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"FOO0::1::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP99999999999::h::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"GPIB0::99999999999999999999::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
        {"TCPIP0::[::1::INSTR", VI_ERROR_INV_RSRC_NAME, ""},
    };
    for (const auto& c : cases) {
        const ResourceParse parse = ParseResourceName(c.text);
        EXPECT_EQ(parse.status, c.status) << c.text;
        if (c.status == VI_SUCCESS) {
            EXPECT_EQ(parse.name.Canonical(), c.canonical) << c.text;
        }
    }
}

TEST(ResourceName, ChoosesHiSlipByDeviceNameAndStripsBracketsForTheResolver) {
    ResourceParse parse = ParseResourceName("TCPIP0::127.0.0.1::HiSLIP0,4881::INSTR");
    ASSERT_EQ(parse.status, VI_SUCCESS);
    EXPECT_EQ(parse.name.protocol, TcpipProtocol::HiSlip);
    EXPECT_EQ(parse.name.hislipSubAddress, "HiSLIP0");  // as typed
    EXPECT_EQ(parse.name.hislipPort, 4881);
    EXPECT_EQ(ParseResourceName("TCPIP::h::hislip_CHASSIS1_SLOT3::INSTR").name.hislipPort,
              kHiSlipDefaultPort);
    EXPECT_EQ(ParseResourceName("TCPIP::h::gpib0,28::INSTR").name.protocol, TcpipProtocol::Vxi11);
    EXPECT_EQ(ParseResourceName("TCPIP0::[fe80::1]::inst0::INSTR").name.ResolverHost(), "fe80::1");
}

TEST(ResourceName, SurvivesArbitraryBytesAndLengthsAndCanonicalNamesParseToThemselves) {
    std::mt19937 random(1234);
    const std::string alphabet = "TCPIGBNSR0123456789:[],.hislpx \t\x01\xff";
    for (int i = 0; i < 20000; ++i) {
        std::string text(random() % 64, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        const ResourceParse parse = ParseResourceName(text);
        if (parse.status == VI_SUCCESS) {
            ASSERT_EQ(ParseResourceName(parse.name.Canonical()).name.Canonical(),
                      parse.name.Canonical());
        }
    }
    EXPECT_EQ(ParseResourceName("TCPIP::" + std::string(1 << 20, 'a') + "::INSTR").status,
              VI_SUCCESS);
    EXPECT_EQ(ParseResourceName(std::string(1 << 20, ':')).status, VI_ERROR_INV_RSRC_NAME);
}

}  // namespace
