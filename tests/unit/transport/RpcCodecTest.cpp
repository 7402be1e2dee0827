#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Hex.h"
#include "visa/vxi11/RpcCodec.h"
#include "visa/vxi11/Vxi11Codec.h"

using namespace visa::vxi11;

namespace {

std::string Text(const std::uint8_t* data, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

// Finds the one record in bytes and returns its results, checking the reply header on the way.
std::vector<std::uint8_t> Results(const std::vector<std::uint8_t>& stream, std::uint32_t xid) {
    const RecordExtent extent = FindRecord(stream.data(), stream.size(), 1 << 20);
    EXPECT_EQ(extent.scan, RecordScan::Complete);
    EXPECT_EQ(extent.streamBytes, stream.size());
    const ReplyHeader header = DecodeReply(stream.data() + 4, extent.payloadBytes);
    EXPECT_EQ(header.xid, xid);
    EXPECT_EQ(header.kind, ReplyKind::Success);
    return std::vector<std::uint8_t>(stream.begin() + 4 + header.resultsOffset, stream.end());
}

TEST(RpcCodec, CallsMatchTheReferenceBytes) {
    std::vector<std::uint8_t> out;
    EncodeGetPort(out, 1, kCoreProgram, kCoreVersion, kProtocolTcp);
    EXPECT_EQ(out, Hex("80000038 00000001 00000000 00000002 000186a0 00000002 00000003 00000000 00000000 "
                       "00000000 00000000 000607af 00000001 00000006 00000000"));

    EncodeCreateLink(out, 2, 0x1234, false, 10000, "inst0");
    EXPECT_EQ(out, Hex("80000040 00000002 00000000 00000002 000607af 00000001 0000000a 00000000 00000000 "
                       "00000000 00000000 00001234 00000000 00002710 00000005 696e7374 30000000"));

    const std::string idn = "*IDN?\n";
    EncodeDeviceWrite(out, 3, 0, 10000, 10000, kFlagEnd, reinterpret_cast<const std::uint8_t*>(idn.data()),
                      idn.size());
    EXPECT_EQ(out, Hex("80000044 00000003 00000000 00000002 000607af 00000001 0000000b 00000000 00000000 "
                       "00000000 00000000 00000000 00002710 00002710 00000008 00000006 2a49444e 3f0a0000"));

    EncodeDeviceRead(out, 4, 0, 10000, 10000, 10000, 0, 0);
    EXPECT_EQ(out, Hex("80000040 00000004 00000000 00000002 000607af 00000001 0000000c 00000000 00000000 "
                       "00000000 00000000 00000000 00002710 00002710 00002710 00000000 00000000"));

    // The encoder reuses the vector: a shorter message leaves nothing of the longer one behind.
    EncodeDestroyLink(out, 5, 7);
    EXPECT_EQ(out.size(), 4u + 40u + 4u);
}

TEST(RpcCodec, RepliesMatchTheReferenceBytes) {
    std::uint32_t port = 0;
    auto results = Results(Hex("8000001c 00000001 00000001 00000000 00000000 00000000 00000000 00000400"), 1);
    ASSERT_TRUE(DecodeGetPort(results.data(), results.size(), port));
    EXPECT_EQ(port, 1024u);

    CreateLinkResult link;
    results = Results(Hex("80000028 00000002 00000001 00000000 00000000 00000000 00000000 00000000 00000000 "
                          "00000000 00000400"),
                      2);
    ASSERT_TRUE(DecodeCreateLink(results.data(), results.size(), link));
    EXPECT_EQ(link.error, 0);
    EXPECT_EQ(link.lid, 0);
    EXPECT_EQ(link.maxRecvSize, 1024u);

    DeviceWriteResult write;
    results = Results(Hex("80000020 00000003 00000001 00000000 00000000 00000000 00000000 00000000 00000006"), 3);
    ASSERT_TRUE(DecodeDeviceWrite(results.data(), results.size(), write));
    EXPECT_EQ(write.size, 6u);

    DeviceReadResult read;
    results = Results(Hex("80000034 00000004 00000001 00000000 00000000 00000000 00000000 00000000 00000004 "
                          "0000000f 41434d45 2c53494d 2c312c31 2e300a00"),
                      4);
    ASSERT_TRUE(DecodeDeviceRead(results.data(), results.size(), read));
    EXPECT_EQ(read.reason, kReasonEnd);
    EXPECT_EQ(Text(read.data, read.length), "ACME,SIM,1,1.0\n");
}

TEST(RpcCodec, RecordsArriveInFragmentsAndByteByByte) {
    // The device_read reply of the reference, cut into fragments of 10, 0 and 42 bytes.
    const auto single = Hex("80000034 00000004 00000001 00000000 00000000 00000000 00000000 00000000 00000004 "
                            "0000000f 41434d45 2c53494d 2c312c31 2e300a00");
    const std::vector<std::uint8_t> payload(single.begin() + 4, single.end());
    std::vector<std::uint8_t> stream = Hex("0000000a");
    stream.insert(stream.end(), payload.begin(), payload.begin() + 10);
    const auto empty = Hex("00000000");
    stream.insert(stream.end(), empty.begin(), empty.end());
    const auto lastMark = Hex("8000002a");
    stream.insert(stream.end(), lastMark.begin(), lastMark.end());
    stream.insert(stream.end(), payload.begin() + 10, payload.end());
    const std::size_t recordBytes = stream.size();
    const auto next = Hex("80000010 0000");  // the start of the next record must not matter
    stream.insert(stream.end(), next.begin(), next.end());

    for (std::size_t have = 0; have < recordBytes; ++have) {
        ASSERT_EQ(FindRecord(stream.data(), have, 1 << 20).scan, RecordScan::NeedMore) << have;
    }
    const RecordExtent extent = FindRecord(stream.data(), stream.size(), 1 << 20);
    ASSERT_EQ(extent.scan, RecordScan::Complete);
    EXPECT_EQ(extent.streamBytes, recordBytes);
    EXPECT_EQ(extent.fragments, 3u);
    EXPECT_EQ(extent.payloadBytes, payload.size());
    JoinFragments(stream.data(), extent);
    EXPECT_EQ(std::vector<std::uint8_t>(stream.begin(), stream.begin() + payload.size()), payload);
}

TEST(RpcCodec, LyingLengthsAreCaughtBeforeTheDataArrives) {
    // A fragment announcing more than the bound is refused from its mark alone.
    auto stream = Hex("80100001 00000001");
    EXPECT_EQ(FindRecord(stream.data(), stream.size(), 1 << 20).scan, RecordScan::TooLong);
    stream = Hex("7fffffff");
    EXPECT_EQ(FindRecord(stream.data(), stream.size(), 1 << 20).scan, RecordScan::TooLong);
    // So is a record whose fragments add up to more.
    stream = Hex("00000008 00000000 00000000 80000008");
    EXPECT_EQ(FindRecord(stream.data(), stream.size(), 12).scan, RecordScan::TooLong);

    // A portmapper reply without the last-fragment bit: accepted only where asked for.
    stream = Hex("0000001c 00000001 00000001 00000000 00000000 00000000 00000000 00000400");
    EXPECT_EQ(FindRecord(stream.data(), stream.size(), 1 << 20).scan, RecordScan::NeedMore);
    EXPECT_EQ(FindRecord(stream.data(), stream.size(), 1 << 20, 28).scan, RecordScan::Complete);

    // Opaque lengths beyond the record, and structures cut short, do not decode.
    DeviceReadResult read;
    auto results = Hex("00000000 00000004 00000010 41424344");
    EXPECT_FALSE(DecodeDeviceRead(results.data(), results.size(), read));
    results = Hex("00000000 00000004 ffffffff 41424344");
    EXPECT_FALSE(DecodeDeviceRead(results.data(), results.size(), read));
    CreateLinkResult link;
    results = Hex("00000000 00000001 00000000");
    EXPECT_FALSE(DecodeCreateLink(results.data(), results.size(), link));
    DeviceWriteResult write;
    results = Hex("00000000");
    EXPECT_FALSE(DecodeDeviceWrite(results.data(), results.size(), write));
    std::uint32_t port = 0;
    EXPECT_FALSE(DecodeGetPort(results.data(), 3, port));
}

TEST(RpcCodec, ReplyHeadersTellRejectsAndGarbageApart) {
    struct Case {
        const char* bytes;
        ReplyKind kind;
    };
    const Case cases[] = {
        {"00000009 00000001 00000001 00000000 00000002 00000002", ReplyKind::Denied},
        {"00000009 00000001 00000000 00000000 00000000 00000063", ReplyKind::Malformed},
        {"00000009 00000000 00000002 00000000", ReplyKind::Malformed},           // a call, not a reply
        {"00000009 00000001 00000002", ReplyKind::Malformed},                    // no such reply_stat
        {"00000009 00000001 00000000 00000000 00000191", ReplyKind::Malformed},  // verifier over 400 bytes
        {"00000009 00000001", ReplyKind::Malformed},                             // cut short
    };
    for (const Case& c : cases) {
        const auto record = Hex(c.bytes);
        const ReplyHeader header = DecodeReply(record.data(), record.size());
        EXPECT_EQ(header.kind, c.kind) << c.bytes;
        EXPECT_EQ(header.xid, 9u) << c.bytes;
    }

    // A verifier with a body is skipped; padding missing at the very end and extra bytes after
    // the results are tolerated, as instruments send both.
    auto record = Hex("00000009 00000001 00000000 00000001 00000005 41424344 45000000 00000000 "
                      "00000000 00000004 00000003 414243");
    ReplyHeader header = DecodeReply(record.data(), record.size());
    ASSERT_EQ(header.kind, ReplyKind::Success);
    DeviceReadResult read;
    ASSERT_TRUE(DecodeDeviceRead(record.data() + header.resultsOffset, record.size() - header.resultsOffset, read));
    EXPECT_EQ(Text(read.data, read.length), "ABC");
    record = Hex("00000009 00000001 00000000 00000000 00000000 00000000 00000000 00000006 deadbeef deadbeef");
    header = DecodeReply(record.data(), record.size());
    DeviceWriteResult write;
    ASSERT_TRUE(DecodeDeviceWrite(record.data() + header.resultsOffset, record.size() - header.resultsOffset, write));
    EXPECT_EQ(write.size, 6u);
}

}  // namespace
