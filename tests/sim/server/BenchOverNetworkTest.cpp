// The simulated bench behind the real servers: its faults as a network client sees them.
#include <gtest/gtest.h>

#include <sstream>

#include "Bench.h"
#include "RawClients.h"
#include "SimServer.h"

using namespace testing_support;
using sim::InstrumentId;

namespace {

// All three instruments on 127.0.0.1 under gateway names, every port ephemeral.
class BenchOverNetwork : public ::testing::Test {
protected:
    void Serve(const std::vector<std::string>& faults, uint64_t hislipMaxMessage = 1u << 20) {
        sim::BenchOptions options;
        options.speed.fast = true;
        for (const std::string& fault : faults) options.faults.push_back(*sim::ParseFault(fault));
        bench = std::make_unique<sim::Bench>(options);
        std::vector<sim::server::ServedInstrument> served;
        for (auto [id, gpib] : {std::pair{InstrumentId::Generator1, 28},
                                {InstrumentId::Generator2, 27}, {InstrumentId::Analyzer, 20}}) {
            served.push_back({sim::InstrumentName(id), bench->Instrument(id), "127.0.0.1",
                              "gpib0," + std::to_string(gpib), "hislip" + std::to_string(gpib)});
        }
        sim::server::ServingOptions serving;
        serving.portmapPort = 0;
        serving.hislipPort = 0;
        serving.hislipMaxMessage = hislipMaxMessage;
        std::ostringstream diagnostics;
        ASSERT_TRUE(server.Start(served, serving, diagnostics)) << diagnostics.str();
        endpoint = server.Endpoints().at(0);
    }
    std::pair<RpcClient, int32_t> Link(const std::string& device, int32_t expectError = 0) {
        RpcClient client;
        EXPECT_TRUE(client.Connect("127.0.0.1", endpoint.corePort));
        const auto link = CreateLink(client, device);
        EXPECT_TRUE(link && link->error == expectError) << device;
        return {std::move(client), link ? link->lid : -1};
    }

    std::unique_ptr<sim::Bench> bench;
    sim::server::SimServer server;
    sim::server::SimServer::Endpoint endpoint;
};

}  // namespace

TEST_F(BenchOverNetwork, DropRefuseAndHangAreSeenAsLostLinksRefusalsAndTimeouts) {
    Serve({"gen1:drop-after=2", "gen2:refuse", "analyzer:hang-after=1"});
    auto [gen1, lid1] = Link("gpib0,28");
    EXPECT_EQ(DeviceWrite(gen1, lid1, "*IDN?\n")->error, 0);
    EXPECT_EQ(DeviceRead(gen1, lid1, 1000)->data.rfind("Maltoven,VRQ", 0), 0u);
    EXPECT_EQ(DeviceWrite(gen1, lid1, "FREQ 1E9\n")->error, 0);
    EXPECT_TRUE(gen1.ClosedByServer());  // lost after the second message

    Link("gpib0,27", vxi11::kDeviceNotAccessible);
    HislipClient refused;
    EXPECT_FALSE(refused.Open("127.0.0.1", endpoint.hislipPort, "hislip27"));

    auto [analyzer, lid] = Link("gpib0,20");
    DeviceWrite(analyzer, lid, "*IDN?\n");
    EXPECT_EQ(DeviceRead(analyzer, lid, 1000)->error, 0);
    DeviceWrite(analyzer, lid, "*IDN?\n");
    EXPECT_EQ(DeviceRead(analyzer, lid, 1000, 200)->error, vxi11::kIoTimeout);
    HislipClient hung;
    ASSERT_TRUE(hung.Open("127.0.0.1", endpoint.hislipPort, "hislip20"));
    hung.Write("*IDN?\n");
    hung.sync.SetReadTimeoutMs(300);
    EXPECT_FALSE(hung.ReadResponse());
}

TEST_F(BenchOverNetwork, SlowAndHugeRepliesCrossBothProtocolsIntact) {
    Serve({"gen1:slow=300", "analyzer:huge-reply"}, 16 + 4096);
    auto [gen1, lid1] = Link("gpib0,28");
    DeviceWrite(gen1, lid1, "*IDN?\n");
    EXPECT_EQ(DeviceRead(gen1, lid1, 1000, 100)->error, vxi11::kIoTimeout);
    DeviceWrite(gen1, lid1, "*IDN?\n");
    const auto late = DeviceRead(gen1, lid1, 1000, 3000);
    EXPECT_EQ(late->error, 0);
    EXPECT_EQ(late->data.rfind("Maltoven,VRQ", 0), 0u);

    // 20,000 bytes over VXI-11 in 4096-byte reads, END only on the last piece.
    auto [analyzer, lid] = Link("gpib0,20");
    DeviceWrite(analyzer, lid, "*IDN?\n");
    std::string all;
    int pieces = 0;
    for (;;) {
        const auto r = DeviceRead(analyzer, lid, 4096);
        ASSERT_TRUE(r && r->error == 0);
        all += r->data;
        ++pieces;
        if (r->reason & vxi11::kReasonEnd) break;
        ASSERT_LT(pieces, 10);
    }
    EXPECT_EQ(all.size(), 20000u);
    EXPECT_EQ(pieces, 5);
    EXPECT_EQ(all.rfind("Maltoven,ZAS", 0), 0u);
    EXPECT_EQ(all.back(), '\n');
    // The same over HiSLIP with a 4 KiB client limit: Data messages, then DataEnd.
    HislipClient c;
    ASSERT_TRUE(c.Open("127.0.0.1", endpoint.hislipPort, "hislip20", 16 + 4096));
    std::vector<uint32_t> ids;
    c.Write("*IDN?\n");
    const auto response = c.ReadResponse(&ids);
    ASSERT_TRUE(response);
    EXPECT_EQ(*response, all);
    EXPECT_EQ(ids.size(), 5u);
}
