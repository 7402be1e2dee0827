#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "visa/hislip/HiSlipCodec.h"

using namespace visa::hislip;

namespace {

TEST(HiSlipCodec, ClientMessagesMatchTheReferenceBytes) {
    std::vector<std::uint8_t> out;
    const char vendor[2] = {'X', 'X'};
    EncodeInitialize(out, kProtocolVersion, vendor, "hislip0");
    EXPECT_EQ(out, Hex("48 53 00 00 01 00 58 58 00 00 00 00 00 00 00 07 68 69 73 6c 69 70 30"));
    EncodeAsyncInitialize(out, 1);
    EXPECT_EQ(out, Hex("48 53 11 00 00 00 00 01 00 00 00 00 00 00 00 00"));
    EncodeAsyncMaximumMessageSize(out, 1 << 20);
    EXPECT_EQ(out, Hex("48 53 0f 00 00 00 00 00 00 00 00 00 00 00 00 08 00 00 00 00 00 10 00 00"));
    const std::string idn = "*IDN?\n";
    EncodeMessage(out, kDataEnd, 0, kInitialMessageId,
                  reinterpret_cast<const std::uint8_t*>(idn.data()), idn.size());
    EXPECT_EQ(out, Hex("48 53 07 00 ff ff ff 00 00 00 00 00 00 00 00 06 2a 49 44 4e 3f 0a"));
    EncodeMessage(out, kDataEnd, 1, kInitialMessageId + 2);
    EXPECT_EQ(out, Hex("48 53 07 01 ff ff ff 02 00 00 00 00 00 00 00 00"));
}

// Lying lengths and prologues against the client are the lying-server tests'; here the edges.
TEST(HiSlipCodec, AHeaderNeedsAllSixteenBytesButABadPrologueShowsAtOnce) {
    Header header;
    auto bytes = Hex("58");
    EXPECT_EQ(DecodeHeader(bytes.data(), bytes.size(), header), HeaderCheck::BadPrologue);
    bytes = Hex("48 53 07 00 ff ff ff 00 00 00 00 00 00 00 00 40");
    EXPECT_EQ(DecodeHeader(bytes.data(), 15, header), HeaderCheck::NeedMore);
    ASSERT_EQ(DecodeHeader(bytes.data(), 16, header), HeaderCheck::Ok);
    EXPECT_EQ(header.type, kDataEnd);
    EXPECT_EQ(header.parameter, kInitialMessageId);
    EXPECT_EQ(header.payloadLength, 64u);
    std::uint64_t size = 0;
    ASSERT_TRUE(DecodeMaximumMessageSize(bytes.data() + 8, 8, size));
    EXPECT_EQ(size, 64u);
    EXPECT_FALSE(DecodeMaximumMessageSize(bytes.data() + 8, 7, size));
}

}  // namespace
