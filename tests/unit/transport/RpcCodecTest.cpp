#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "visa/vxi11/RpcCodec.h"
#include "visa/vxi11/Vxi11Codec.h"

using namespace visa::vxi11;

namespace {

std::string Text(const std::uint8_t* data, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

TEST(RpcCodec, CallsMatchTheReferenceBytes) {
    std::vector<std::uint8_t> out;
    EncodeGetPort(out, 1, kCoreProgram, kCoreVersion, portmap::kProtocolTcp);
    EXPECT_EQ(
        out, Hex("80000038 00000001 00000000 00000002 000186a0 00000002 00000003 00000000 00000000 "
                 "00000000 00000000 000607af 00000001 00000006 00000000"));
    EncodeCreateLink(out, 2, 0x1234, false, 10000, "inst0");
    EXPECT_EQ(
        out, Hex("80000040 00000002 00000000 00000002 000607af 00000001 0000000a 00000000 00000000 "
                 "00000000 00000000 00001234 00000000 00002710 00000005 696e7374 30000000"));
    const std::string idn = "*IDN?\n";
    EncodeDeviceWrite(out, 3, 0, 10000, 10000, kFlagEnd,
                      reinterpret_cast<const std::uint8_t*>(idn.data()), idn.size());
    EXPECT_EQ(
        out,
        Hex("80000044 00000003 00000000 00000002 000607af 00000001 0000000b 00000000 00000000 "
            "00000000 00000000 00000000 00002710 00002710 00000008 00000006 2a49444e 3f0a0000"));
    EncodeDeviceRead(out, 4, 0, 10000, 10000, 10000, 0, 0);
    EXPECT_EQ(
        out, Hex("80000040 00000004 00000000 00000002 000607af 00000001 0000000c 00000000 00000000 "
                 "00000000 00000000 00000000 00002710 00002710 00002710 00000000 00000000"));
    // The encoder reuses the vector: a shorter message leaves nothing of the longer one behind.
    EncodeDestroyLink(out, 5, 7);
    EXPECT_EQ(out.size(), 4u + 40u + 4u);
}

TEST(RpcCodec, TheReferenceReadReplyDecodesWholeOrInFragmentsAndNotBeforeItsLastByte) {
    const auto single =
        Hex("80000034 00000004 00000001 00000000 00000000 00000000 00000000 00000000 00000004 "
            "0000000f 41434d45 2c53494d 2c312c31 2e300a00");
    const std::vector<std::uint8_t> payload(single.begin() + 4, single.end());
    // The same record cut into fragments of 10, 0 and 42 bytes, followed by the start of the next.
    std::vector<std::uint8_t> stream = Hex("0000000a");
    stream.insert(stream.end(), payload.begin(), payload.begin() + 10);
    for (const auto& piece : {Hex("00000000"), Hex("8000002a")})
        stream.insert(stream.end(), piece.begin(), piece.end());
    stream.insert(stream.end(), payload.begin() + 10, payload.end());
    const std::size_t recordBytes = stream.size();
    for (std::uint8_t byte : Hex("80000010 0000"))
        stream.push_back(byte);

    for (std::size_t have = 0; have < recordBytes; ++have) {
        ASSERT_EQ(FindRecord(stream.data(), have, 1 << 20).scan, RecordScan::NeedMore) << have;
    }
    const RecordExtent extent = FindRecord(stream.data(), stream.size(), 1 << 20);
    ASSERT_EQ(extent.scan, RecordScan::Complete);
    EXPECT_EQ(extent.streamBytes, recordBytes);
    EXPECT_EQ(extent.fragments, 3u);
    ASSERT_EQ(extent.payloadBytes, payload.size());
    JoinFragments(stream.data(), extent);
    EXPECT_EQ(std::vector<std::uint8_t>(stream.begin(), stream.begin() + payload.size()), payload);

    const ReplyHeader header = DecodeReply(payload.data(), payload.size());
    EXPECT_EQ(header.xid, 4u);
    ASSERT_EQ(header.kind, ReplyKind::Success);
    DeviceReadResult read;
    ASSERT_TRUE(DecodeDeviceRead(payload.data() + header.resultsOffset,
                                 payload.size() - header.resultsOffset, read));
    EXPECT_EQ(read.reason, kReasonEnd);
    EXPECT_EQ(Text(read.data, read.length), "ACME,SIM,1,1.0\n");
}

TEST(RpcCodec, LyingLengthsAreCaughtBeforeTheDataArrives) {
    const struct {
        const char* bytes;
        std::size_t bound;
        RecordScan scan;
    } records[] = {
        {"80100001 00000001", 1 << 20,
         RecordScan::TooLong},  // a fragment beyond the bound, from its mark
        {"00000008 00000000 00000000 80000008", 12,
         RecordScan::TooLong},  // fragments adding up to more
        // A portmapper reply without the last-fragment bit waits for more unless accepted as is.
        {"0000001c 00000001 00000001 00000000 00000000 00000000 00000000 00000400", 1 << 20,
         RecordScan::NeedMore},
    };
    for (const auto& r : records) {
        const auto stream = Hex(r.bytes);
        EXPECT_EQ(FindRecord(stream.data(), stream.size(), r.bound).scan, r.scan) << r.bytes;
    }
    const auto portmapper = Hex(records[2].bytes);
    EXPECT_EQ(FindRecord(portmapper.data(), portmapper.size(), 1 << 20, 28).scan,
              RecordScan::Complete);

    // An opaque length that would wrap the offset does not decode (one merely beyond the record
    // is the lying-server tests'; structures cut short are the fuzz target's).
    DeviceReadResult read;
    const auto results = Hex("00000000 00000004 ffffffff 41424344");
    EXPECT_FALSE(DecodeDeviceRead(results.data(), results.size(), read));
}

TEST(RpcCodec, ReplyHeadersTellRejectsAndGarbageApart) {
    const std::pair<const char*, ReplyKind> cases[] = {
        {"00000009 00000001 00000001 00000000 00000002 00000002", ReplyKind::Denied},
        {"00000009 00000001 00000000 00000000 00000000 00000063", ReplyKind::Malformed},
        {"00000009 00000001 00000002", ReplyKind::Malformed},  // no such reply_stat
        {"00000009 00000001 00000000 00000000 00000191",
         ReplyKind::Malformed},                       // verifier over 400 bytes
        {"00000009 00000001", ReplyKind::Malformed},  // cut short
    };
    for (const auto& [bytes, kind] : cases) {
        const auto record = Hex(bytes);
        const ReplyHeader header = DecodeReply(record.data(), record.size());
        EXPECT_EQ(header.kind, kind) << bytes;
        EXPECT_EQ(header.xid, 9u) << bytes;
    }

    // A verifier with a body is skipped; padding missing at the very end and extra bytes after
    // the results are tolerated, as instruments send both.
    auto record =
        Hex("00000009 00000001 00000000 00000001 00000005 41424344 45000000 00000000 "
            "00000000 00000004 00000003 414243");
    ReplyHeader header = DecodeReply(record.data(), record.size());
    ASSERT_EQ(header.kind, ReplyKind::Success);
    DeviceReadResult read;
    ASSERT_TRUE(DecodeDeviceRead(record.data() + header.resultsOffset,
                                 record.size() - header.resultsOffset, read));
    EXPECT_EQ(Text(read.data, read.length), "ABC");
    record = Hex(
        "00000009 00000001 00000000 00000000 00000000 00000000 00000000 00000006 deadbeef deadbeef");
    header = DecodeReply(record.data(), record.size());
    DeviceWriteResult write;
    ASSERT_TRUE(DecodeDeviceWrite(record.data() + header.resultsOffset,
                                  record.size() - header.resultsOffset, write));
    EXPECT_EQ(write.size, 6u);
}

}  // namespace
