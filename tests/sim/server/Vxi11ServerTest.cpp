// The VXI-11 server and portmapper driven over loopback by a raw RPC client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <memory>
#include <thread>
#include <tuple>

#include "RawClients.h"
#include "sim/server/Portmapper.h"
#include "sim/server/ServedDevice.h"
#include "sim/server/Vxi11Server.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class Vxi11ServerTest : public ::testing::Test {
protected:
    void Start(Vxi11Options options = {}) {
        options.address = "127.0.0.1";
        analyzer = std::make_shared<FaultyInstrument>();
        gateway = std::make_shared<FaultyInstrument>();
        gateway->idn = "Maltoven,GATEWAYED,1,1.0\n";
        server = std::make_unique<Vxi11Server>(
            options, std::vector<NamedDevice>{
                         {"inst0", std::make_shared<ServedDevice>("analyzer", analyzer)},
                         {"gpib0,28", std::make_shared<ServedDevice>("gen1", gateway)}});
        std::string error;
        ASSERT_TRUE(server->Start(error)) << error;
    }
    RpcClient Client() {
        RpcClient client;
        EXPECT_TRUE(client.Connect("127.0.0.1", server->CorePort()));
        return client;
    }
    void SetUp() override { Start(); }

    std::shared_ptr<FaultyInstrument> analyzer;
    std::shared_ptr<FaultyInstrument> gateway;
    std::unique_ptr<Vxi11Server> server;
};

template <typename T>
T Must(std::optional<T> value) {
    EXPECT_TRUE(value.has_value());
    return value.value_or(T{});
}

}  // namespace

TEST_F(Vxi11ServerTest, DeviceNamesPickTheInstrumentAndLinksAreCountedPerDevice) {
    RpcClient c = Client();
    const LinkReply link = Must(CreateLink(c, "INST0"));  // device names ignore case
    ASSERT_EQ(link.error, 0);
    EXPECT_EQ(link.abortPort, server->AbortPort());
    EXPECT_GE(link.maxRecvSize, 1024u);
    const int32_t gw = Must(CreateLink(c, "gpib0,28")).lid;
    EXPECT_EQ(Must(DeviceWrite(c, gw, "*IDN?\n")).size, 6u);
    const ReadReply read = Must(DeviceRead(c, gw, 1000));
    EXPECT_EQ(read.reason, vxi11::kReasonEnd);
    EXPECT_EQ(read.data, gateway->idn);
    for (const char* unknown : {"inst1", "gpib0,27", "gpib28", ""}) {
        EXPECT_EQ(Must(CreateLink(c, unknown)).error, vxi11::kErrorNotAccessible) << unknown;
    }
    EXPECT_EQ(LinkCall(c, vxi11::kDestroyLink, link.lid), 0);
    EXPECT_EQ(LinkCall(c, vxi11::kDestroyLink, link.lid), vxi11::kErrorInvalidLink);
    EXPECT_EQ(Must(DeviceWrite(c, link.lid, "*IDN?\n")).error, vxi11::kErrorInvalidLink);
    // 16 links per device show a client that leaks them.
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(Must(CreateLink(c, "inst0")).error, 0);
    EXPECT_EQ(Must(CreateLink(c, "inst0")).error, vxi11::kErrorOutOfResources);
    EXPECT_EQ(Must(CreateLink(c, "gpib0,28")).error, 0);
    analyzer->acceptsLink = false;
    EXPECT_EQ(Must(CreateLink(c, "inst0")).error, vxi11::kErrorNotAccessible);
}

TEST_F(Vxi11ServerTest, ReadsSplitAtRequestSizeOrTermCharAndWritesJoinUntilTheirEnd) {
    RpcClient c = Client();
    const int32_t lid = Must(CreateLink(c, "inst0")).lid;
    // 26 bytes: an exact multiple of 13, and not of 5.
    analyzer->idn = "ABCDEFGHIJKLMNOPQRSTUVWXY\n";
    for (uint32_t requestSize : {5u, 13u, 26u, 100u}) {
        DeviceWrite(c, lid, "*IDN?\n");
        std::string all;
        for (int calls = 0; calls < 10; ++calls) {
            const ReadReply r = Must(DeviceRead(c, lid, requestSize));
            ASSERT_EQ(r.error, 0);
            ASSERT_LE(r.data.size(), requestSize);
            all += r.data;
            const bool last = all.size() == analyzer->idn.size();
            EXPECT_EQ((r.reason & vxi11::kReasonEnd) != 0, last) << requestSize;
            EXPECT_EQ((r.reason & vxi11::kReasonRequestCount) != 0, r.data.size() == requestSize);
            if (last)
                break;
        }
        EXPECT_EQ(all, analyzer->idn) << requestSize;
    }
    // Stopping at the termination character when asked to.
    analyzer->idn = "A\nB\n";
    DeviceWrite(c, lid, "*IDN?\n");
    ReadReply r = Must(DeviceRead(c, lid, 100, 1000, vxi11::kFlagTermCharSet, '\n'));
    EXPECT_EQ(r.data, "A\n");
    EXPECT_EQ(r.reason, vxi11::kReasonTermChar);
    r = Must(DeviceRead(c, lid, 100, 1000, vxi11::kFlagTermCharSet, '\n'));
    EXPECT_EQ(r.data, "B\n");
    EXPECT_EQ(r.reason, vxi11::kReasonTermChar | vxi11::kReasonEnd);
    // END across writes is what our client does; a long write without END, as another client
    // sends past 1024 bytes, must still end at its NL.
    analyzer->ClearReceived();
    const std::string longCommand = "SYST:DISP '" + std::string(1500, 'x') + "'\n";
    DeviceWrite(c, lid, longCommand.substr(0, 1024), 0);
    DeviceWrite(c, lid, longCommand.substr(1024), 0);
    EXPECT_EQ(analyzer->Received(), std::vector<std::string>{longCommand});
}

TEST_F(Vxi11ServerTest, ErrorsForBadLinksSizesAndEmptyReads) {
    Vxi11Options options;
    options.maxRecvSize = 1024;
    Start(options);
    RpcClient c = Client();
    const int32_t lid = Must(CreateLink(c, "inst0")).lid;
    EXPECT_EQ(Must(DeviceRead(c, lid + 1000, 10)).error, vxi11::kErrorInvalidLink);
    EXPECT_EQ(GenericCall(c, vxi11::kDeviceClear, lid + 1000), vxi11::kErrorInvalidLink);
    const WriteReply tooBig = Must(DeviceWrite(c, lid, std::string(1025, 'x')));
    EXPECT_EQ(tooBig.error, vxi11::kErrorParameter);
    EXPECT_EQ(tooBig.size, 0u);
    EXPECT_TRUE(analyzer->Received().empty());
    EXPECT_EQ(Must(DeviceWrite(c, lid, std::string(1023, 'x') + "\n")).error, 0);
    EXPECT_EQ(Must(DeviceRead(c, lid, 100, 50)).error, vxi11::kErrorIoTimeout);  // nothing to read
    // Unknown procedures and versions are refused at the RPC level; the link survives.
    EXPECT_EQ(Must(c.Call(vxi11::kCoreProgram, 1, 99, "")).acceptStat, 3u);
    EXPECT_EQ(Must(c.Call(vxi11::kCoreProgram, 2, 11, "")).acceptStat, 2u);
    EXPECT_EQ(Must(c.Call(vxi11::kCoreProgram, 1, vxi11::kDeviceWrite, "\0\0")).acceptStat, 4u);
    EXPECT_EQ(GenericCall(c, vxi11::kDeviceTrigger, lid), 0);
    EXPECT_EQ(LinkCall(c, vxi11::kCreateIntrChan, 0), vxi11::kErrorNotSupported);
}

TEST_F(Vxi11ServerTest, LinksAreServerWideAndDieWithTheirConnection) {
    RpcClient first = Client();
    RpcClient second = Client();
    const int32_t lid = Must(CreateLink(first, "inst0")).lid;
    const int32_t other = Must(CreateLink(first, "inst0")).lid;
    EXPECT_NE(lid, other);
    // A link created on one connection works from another.
    DeviceWrite(second, lid, "*IDN?\n");
    EXPECT_EQ(Must(DeviceRead(second, lid, 1000)).data, analyzer->idn);
    EXPECT_EQ(server->LinkCount(), 2u);
    first.socket.Close();  // abrupt: no destroy_link
    for (int i = 0; i < 100 && server->LinkCount() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(server->LinkCount(), 0u);
    EXPECT_EQ(Must(DeviceWrite(second, lid, "*IDN?\n")).error, vxi11::kErrorInvalidLink);
}

TEST_F(Vxi11ServerTest, LocksBlockOtherLinksUntilReleased) {
    RpcClient a = Client();
    RpcClient b = Client();
    const int32_t la = Must(CreateLink(a, "inst0")).lid;
    const int32_t lb = Must(CreateLink(b, "inst0")).lid;
    EXPECT_EQ(LockCall(a, la, 0, 0), 0);
    EXPECT_EQ(LockCall(a, la, 0, 0), vxi11::kErrorLocked);  // already held by this link
    EXPECT_EQ(Must(DeviceWrite(b, lb, "*IDN?\n")).error, vxi11::kErrorLocked);
    EXPECT_EQ(LockCall(b, lb, vxi11::kFlagWaitLock, 100), vxi11::kErrorLocked);
    EXPECT_EQ(LinkCall(b, vxi11::kDeviceUnlock, lb), vxi11::kErrorNoLock);
    // A waiting write goes ahead once the holder's connection breaks.
    std::thread drop([&] {
        std::this_thread::sleep_for(100ms);
        a.socket.Close();
    });
    const WriteReply waited =
        Must(DeviceWrite(b, lb, "*IDN?\n", vxi11::kFlagEnd | vxi11::kFlagWaitLock, 2000, 3000));
    drop.join();
    EXPECT_EQ(waited.error, 0);
    EXPECT_EQ(LockCall(b, lb, 0, 0), 0);
    EXPECT_EQ(LinkCall(b, vxi11::kDeviceUnlock, lb), 0);
    // Locking inside create_link.
    RpcClient c = Client();
    const LinkReply locked = Must(CreateLink(c, "inst0", true, 0));
    EXPECT_EQ(locked.error, 0);
    EXPECT_EQ(Must(CreateLink(b, "inst0", true, 50)).error, vxi11::kErrorLocked);
}

TEST_F(Vxi11ServerTest, AbortEndsAWaitingRead) {
    RpcClient c = Client();
    const LinkReply link = Must(CreateLink(c, "inst0"));
    RpcClient abort;
    ASSERT_TRUE(abort.Connect("127.0.0.1", static_cast<uint16_t>(link.abortPort)));
    std::thread aborter([&] {
        std::this_thread::sleep_for(200ms);
        XdrWriter w;
        w.PutI32(link.lid);
        const auto reply = abort.Call(vxi11::kAbortProgram, 1, vxi11::kDeviceAbort, w.Bytes());
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->results, EncodeDeviceError(0));
    });
    const auto start = std::chrono::steady_clock::now();
    const ReadReply r = Must(DeviceRead(c, link.lid, 100, 4000));
    aborter.join();
    EXPECT_EQ(r.error, vxi11::kErrorAbort);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
    // The link is still usable.
    DeviceWrite(c, link.lid, "*IDN?\n");
    EXPECT_EQ(Must(DeviceRead(c, link.lid, 1000)).data, analyzer->idn);
}

TEST_F(Vxi11ServerTest, DeviceClearDropsPendingOutputAndPartialInput) {
    RpcClient c = Client();
    const int32_t lid = Must(CreateLink(c, "inst0")).lid;
    DeviceWrite(c, lid, "*IDN?\n");
    EXPECT_EQ(Must(DeviceRead(c, lid, 4)).data.size(), 4u);
    DeviceWrite(c, lid, "*ID", 0);
    EXPECT_EQ(GenericCall(c, vxi11::kDeviceClear, lid), 0);
    EXPECT_EQ(analyzer->clears, 1);
    EXPECT_EQ(Must(DeviceRead(c, lid, 100, 200)).error, vxi11::kErrorIoTimeout);
    DeviceWrite(c, lid, "*IDN?\n");
    EXPECT_EQ(Must(DeviceRead(c, lid, 1000)).data, analyzer->idn);
    EXPECT_EQ(analyzer->Received().back(), "*IDN?\n");
}

TEST_F(Vxi11ServerTest, MalformedInputClosesOnlyThatConnection) {
    RpcClient good = Client();
    const int32_t lid = Must(CreateLink(good, "inst0")).lid;
    const std::vector<std::string> attacks = {
        std::string("\x7f\xff\xff\xff", 4) + "xxxx",       // a fragment announcing 2 GiB
        EncodeRecord(std::string("\0\0\0\1\0\0\0\0", 8)),  // a call header cut short
        EncodeRecord(RpcClient::CallBody(1, vxi11::kCoreProgram, 1, 11, "") +
                     std::string(64, '\xff'))
            .substr(0, 30),  // then the client vanishes
    };
    for (const std::string& attack : attacks) {
        RpcClient bad = Client();
        ASSERT_TRUE(bad.socket.WriteAll(attack));
        if (attack.size() != 30) {
            EXPECT_TRUE(bad.ClosedByServer());
        }
    }
    DeviceWrite(good, lid, "*IDN?\n");
    EXPECT_EQ(Must(DeviceRead(good, lid, 1000)).data, analyzer->idn);
    // A reply message or another RPC version is not a reason to hang up.
    RpcClient odd = Client();
    XdrWriter reply;
    for (uint32_t word : {9u, 1u, 0u})
        reply.PutU32(word);
    odd.SendRecord(reply.Bytes());
    XdrWriter version3;
    for (uint32_t word : {10u, 0u, 3u})
        version3.PutU32(word);
    odd.SendRecord(version3.Bytes());
    const auto denied = RpcClient::Parse(Must(odd.ReadRecord()));
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->xid, 10u);
    EXPECT_EQ(denied->replyStat, 1u);
}

TEST(Portmapper, AnswersVersion2Rpcbind3And4OverTcpAndUdp) {
    const std::vector<PortMapping> mappings = {
        {vxi11::kCoreProgram, 1, portmap::kProtocolTcp, 4321},
        {vxi11::kAbortProgram, 1, portmap::kProtocolTcp, 4322}};
    Portmapper portmapper("127.0.0.1", 0, mappings);
    std::string error;
    ASSERT_TRUE(portmapper.Start(error)) << error;
    RpcClient c;
    ASSERT_TRUE(c.Connect("127.0.0.1", portmapper.Port()));
    const std::string v2 = EncodeMapping({vxi11::kCoreProgram, 1, portmap::kProtocolTcp, 0});
    const std::vector<std::tuple<uint32_t, std::string, std::string>> lookups = {
        {2, v2, EncodeU32(4321)},
        {2, EncodeMapping({vxi11::kAbortProgram, 1, portmap::kProtocolTcp, 0}), EncodeU32(4322)},
        {2, EncodeMapping({vxi11::kCoreProgram, 1, portmap::kProtocolUdp, 0}), EncodeU32(0)},
        {2, EncodeMapping({0x0607B1, 1, portmap::kProtocolTcp, 0}), EncodeU32(0)},
        {3, EncodeRpcb({vxi11::kCoreProgram, 1, "tcp", "", ""}), EncodeString("127.0.0.1.16.225")},
        {4, EncodeRpcb({vxi11::kCoreProgram, 1, "tcp", "", ""}), EncodeString("127.0.0.1.16.225")},
        {4, EncodeRpcb({vxi11::kCoreProgram, 1, "udp", "", ""}), EncodeString("")},
    };
    for (const auto& [version, args, results] : lookups) {
        EXPECT_EQ(Must(c.Call(portmap::kProgram, version, portmap::kGetPort, args)).results,
                  results)
            << version;
    }
    const RpcReply mismatch = Must(c.Call(portmap::kProgram, 5, 3, ""));
    EXPECT_EQ(mismatch.acceptStat, 2u);
    EXPECT_EQ(mismatch.results, EncodeU32(2) + EncodeU32(4));
    EXPECT_EQ(Must(c.Call(200000, 2, 3, "")).acceptStat, 1u);
    EXPECT_EQ(Must(c.Call(portmap::kProgram, 2, portmap::kSet, EncodeMapping(mappings[0]))).results,
              EncodeBool(false));
    EXPECT_EQ(Must(c.Call(portmap::kProgram, 2, portmap::kDump, "")).results,
              EncodeMappingList(mappings));

    // UDP: one datagram per call, no record mark.
    UdpSocket udp;
    ASSERT_TRUE(udp.Bind("127.0.0.1", 0, error));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(portmapper.Port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    udp.SendTo(RpcClient::CallBody(77, portmap::kProgram, 2, portmap::kGetPort, v2),
               std::string(reinterpret_cast<const char*>(&to), sizeof to));
    StopSignal never;
    UdpSocket::Datagram datagram;
    ASSERT_TRUE(udp.Receive(datagram, never));
    const RpcReply udpReply = Must(RpcClient::Parse(datagram.bytes));
    EXPECT_EQ(udpReply.xid, 77u);
    EXPECT_EQ(udpReply.results, EncodeU32(4321));
}
