// Both transports against the simulator's own VXI-11 and HiSLIP servers on loopback: the bench in
// every wiring and behind a gateway, long replies, chunk-boundary sweeps, timeouts, dropped links,
// device clear and refused links. The bench with every fault is the end-to-end tests'. This
// process takes the 127.4.0.0/16 block; every port is ephemeral.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "instrument/CVisaDevice.h"
#include "instrument/MessageSink.h"
#include "instrument/NumberText.h"
#include "sim/core/Bench.h"
#include "sim/server/SimServer.h"
#include "tests/support/TestSupport.h"
#include "visa/NetworkTesting.h"
#include "visa/ResourceName.h"
#include "visa/hislip/HiSlipConnector.h"
#include "visa/hislip/HiSlipTransport.h"
#include "visa/visa.h"
#include "visa/vxi11/Vxi11Connector.h"
#include "visa/vxi11/Vxi11Transport.h"

using namespace korvel;

using namespace visa;

namespace {

using Clock = std::chrono::steady_clock;

// A reply of n bytes: digits, then '\n' carrying END.
std::string Pattern(std::size_t n) {
    std::string text(n, '\n');
    for (std::size_t i = 0; i + 1 < n; ++i)
        text[i] = static_cast<char>('0' + i % 10);
    return text;
}

// Replies as transport tests need them: "*IDN?" is answered, "LEN? n" gets Pattern(n),
// "ECHO?<bytes>" its bytes as sent, "HANG?" nothing; "DROP?" closes the link. Refuses links while
// told to.
class PatternInstrument : public MessageInstrument {
public:
    void Receive(std::string_view message) override {
        std::lock_guard lock(m_mutex);
        if (message == "*IDN?\n") {
            m_pending = "Korvel,PATTERN,0,1\n";
        } else if (message.rfind("LEN? ", 0) == 0) {
            m_pending = Pattern(std::strtoul(std::string(message.substr(5)).c_str(), nullptr, 10));
        } else if (message.rfind("ECHO?", 0) == 0) {
            m_pending = std::string(message.substr(5));
        } else if (message == "DROP?\n") {
            m_drop = true;
        }
    }
    std::optional<std::string> Respond() override {
        std::lock_guard lock(m_mutex);
        std::optional<std::string> reply = std::move(m_pending);
        m_pending.reset();
        return reply;
    }
    bool AcceptsLink() override { return !refuse; }
    bool KeepsLink() override {
        std::lock_guard lock(m_mutex);
        return !m_drop;
    }
    std::atomic<bool> refuse{false};

private:
    std::mutex m_mutex;
    std::optional<std::string> m_pending;
    bool m_drop = false;
};

enum class Protocol { Vxi11, HiSlip };

class MessageRecorder {
public:
    MessageRecorder() {
        SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    }
    ~MessageRecorder() { SetMessageSink({}); }
    std::vector<std::string> messages;
};

// The bench in both wirings, an address per instrument or behind a gateway (one address,
// instruments by GPIB address), over either protocol: each instrument answers through CVisaDevice.
// Measuring over these links is the end-to-end tests' part.
enum class Layout { RfB, Two, Gateway, GatewayTwo };

class BenchOverTransport : public ::testing::TestWithParam<std::tuple<Protocol, Layout>> {};

std::string BenchCaseName(const ::testing::TestParamInfo<std::tuple<Protocol, Layout>>& info) {
    static const char* const layouts[] = {"RfB", "Two", "Gateway", "GatewayTwo"};
    return std::string(std::get<0>(info.param) == Protocol::Vxi11 ? "Vxi11" : "HiSlip") +
           layouts[static_cast<int>(std::get<1>(info.param))];
}

TEST_P(BenchOverTransport, EveryInstrumentAnswersThroughCVisaDevice) {
    const auto [protocol, layout] = GetParam();
    sim::BenchOptions options;
    options.speed.fast = true;
    const bool two = layout == Layout::Two || layout == Layout::GatewayTwo;
    options.wiring = two ? sim::Wiring::Two : sim::Wiring::RfB;
    sim::Bench bench(options);
    const bool gateway = layout == Layout::Gateway || layout == Layout::GatewayTwo;
    const std::string block =
        "127.4." + std::to_string(1 + static_cast<int>(layout) + 4 * static_cast<int>(protocol)) +
        ".";
    std::vector<sim::server::ServedInstrument> instruments;
    for (auto [id, gpib] : {std::pair{sim::InstrumentId::Generator1, 28},
                            {sim::InstrumentId::Generator2, 27},
                            {sim::InstrumentId::Analyzer, 20}}) {
        const std::string n = std::to_string(gpib);
        instruments.push_back({sim::InstrumentName(id), bench.Instrument(id),
                               block + (gateway ? "1" : n), gateway ? "gpib0," + n : "inst0",
                               gateway ? "hislip" + n : "hislip0"});
    }
    sim::server::ServingOptions serving;
    serving.portmapPort = serving.vxi11Port = serving.hislipPort = 0;
    sim::server::SimServer server;
    std::ostringstream diagnostics;
    ASSERT_TRUE(server.Start(instruments, serving, diagnostics)) << diagnostics.str();

    MessageRecorder recorder;
    const std::string idn[] = {options.idnGenerator1, options.idnGenerator2, options.idnAnalyzer};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& instrument = instruments[i];
        std::unique_ptr<ScopedTestPorts> ports;
        for (const auto& e : server.Endpoints()) {
            if (e.address == instrument.address)
                ports =
                    std::make_unique<ScopedTestPorts>(TestPorts{e.portmapPort, 0, e.hislipPort});
        }
        ASSERT_TRUE(ports) << instrument.address;
        CVisaDevice device(
            "TCPIP::" + instrument.address +
            "::" + (protocol == Protocol::Vxi11 ? instrument.vxi11Name : instrument.hislipName) +
            "::INSTR");
        ASSERT_TRUE(device.IsConnected()) << device.Resource();
        EXPECT_EQ(device.Query("*IDN?"), idn[i]);
        EXPECT_EQ(device.Query("SYST:ERR?"), "0,\"No error\"");
        if (i == 2) {
            device.Write("FREQ:CENT 1000000000;SPAN 50Hz");
            device.Write("CALC1:MARK1:X 1000000000");
            bool number = false;
            ParseLeadingDouble(device.Query("CALC1:MARK1:Y?"), &number);
            EXPECT_TRUE(number);
        }
    }
    EXPECT_TRUE(recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Sim, BenchOverTransport,
                         ::testing::Combine(::testing::Values(Protocol::Vxi11, Protocol::HiSlip),
                                            ::testing::Values(Layout::RfB, Layout::Two,
                                                              Layout::Gateway, Layout::GatewayTwo)),
                         BenchCaseName);

class TransportOnSim : public ::testing::TestWithParam<Protocol> {
protected:
    // Small pieces force many calls: VXI-11 reads of at most 1000 bytes and writes of 1024,
    // HiSLIP messages of 64 bytes from us (48 of payload).
    static constexpr std::size_t kReadChunk = 1000;
    static constexpr std::size_t kMaxRecvSize = 1024;
    static constexpr std::size_t kHiSlipMessage = 64;

    void SetUp() override {
        sim::server::ServingOptions options;
        options.portmapPort = options.vxi11Port = options.hislipPort = 0;
        options.maxRecvSize = kMaxRecvSize;
        options.readChunkLimit = kReadChunk;
        options.hislipMaxMessage = kHiSlipMessage;
        const bool vxi11 = GetParam() == Protocol::Vxi11;
        const std::string address = vxi11 ? "127.4.10.1" : "127.4.11.1";
        std::ostringstream diagnostics;
        ASSERT_TRUE(server.Start({{"pattern", instrument, address, "inst0", "hislip0"}}, options,
                                 diagnostics))
            << diagnostics.str();
        const auto& endpoint = server.Endpoints().at(0);
        ports = std::make_unique<ScopedTestPorts>(
            TestPorts{endpoint.portmapPort, 0, endpoint.hislipPort});
        resource = "TCPIP::" + address + (vxi11 ? "::inst0::INSTR" : "::hislip0::INSTR");
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(rm, resource.c_str(), VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    }
    void TearDown() override { viClose(rm); }

    std::shared_ptr<PatternInstrument> instrument = std::make_shared<PatternInstrument>();
    sim::server::SimServer server;
    std::unique_ptr<ScopedTestPorts> ports;
    std::string resource;
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
};

TEST_P(TransportOnSim, RepliesAndWritesEndRightAtEveryChunkBoundaryAndAtAHundredKilobytes) {
    // Reply lengths around one and two read chunks, read with a count of one chunk and with a
    // large one: END on a piece that ends exactly at the count must end the read.
    for (std::size_t length : {kReadChunk - 1, kReadChunk, kReadChunk + 1, 2 * kReadChunk - 1,
                               2 * kReadChunk, 2 * kReadChunk + 1}) {
        for (ViUInt32 count : {ViUInt32(kReadChunk), ViUInt32(100000)}) {
            SCOPED_TRACE("length " + std::to_string(length) + ", count " + std::to_string(count));
            ASSERT_EQ(Send(vi, "LEN? " + std::to_string(length) + "\n"), VI_SUCCESS);
            std::string text;
            const auto statuses = ReadAll(vi, count, text);
            const std::size_t reads = (length + count - 1) / count;
            std::vector<ViStatus> expected(reads, VI_SUCCESS_MAX_CNT);
            expected.back() = VI_SUCCESS;
            EXPECT_EQ(statuses, expected);
            EXPECT_EQ(text, Pattern(length));
        }
    }
    // Messages around one and two of the server's write limits arrive whole.
    const std::size_t limit = GetParam() == Protocol::Vxi11 ? kMaxRecvSize : kHiSlipMessage - 16;
    for (std::size_t length :
         {limit - 1, limit, limit + 1, 2 * limit - 1, 2 * limit, 2 * limit + 1}) {
        SCOPED_TRACE("message of " + std::to_string(length));
        const std::string message = "ECHO?" + Pattern(length - 5);
        ASSERT_EQ(Send(vi, message), VI_SUCCESS);
        std::string text;
        EXPECT_EQ(ReadAll(vi, 100000, text), std::vector<ViStatus>{VI_SUCCESS});
        EXPECT_EQ(text, message.substr(5));
    }

    ASSERT_EQ(Send(vi, "LEN? 100000\n"), VI_SUCCESS);
    std::string text;
    EXPECT_EQ(ReadAll(vi, 200000, text), std::vector<ViStatus>{VI_SUCCESS});
    EXPECT_EQ(text, Pattern(100000));
    // CVisaDevice keeps the first 10,000 bytes (less its last) and drains the rest, so the next
    // query gets its own reply.
    CVisaDevice device(resource);
    ASSERT_TRUE(device.IsConnected());
    EXPECT_EQ(device.Query("LEN? 100000"), Pattern(100000).substr(0, CVisaDevice::kBufferSize - 1));
    EXPECT_EQ(device.Query("LEN? 4"), "012");
}

TEST_P(TransportOnSim,
       AHangingInstrumentTimesOutWithinItsMarginAndAnImmediateTimeoutStillMovesWhatIsReady) {
    // 2 s, so that HiSLIP's 10 % margin is wider than a busy machine's scheduling delays (the
    // wait is ours alone); over VXI-11 the server answers at the timeout, our socket would wait
    // one second more.
    const ViUInt32 timeoutMs = 2000;
    const long long margin = GetParam() == Protocol::Vxi11 ? 1000 : timeoutMs / 10;
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs), VI_SUCCESS);
    ASSERT_EQ(Send(vi, "HANG?\n"), VI_SUCCESS);
    std::string text;
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_ERROR_TMO});
    EXPECT_GE(MsSince(start), timeoutMs);
    EXPECT_LE(MsSince(start), timeoutMs + margin);
    // The session goes on, even with no time to wait at all.
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE), VI_SUCCESS);
    ASSERT_EQ(Send(vi, "LEN? 5\n"), VI_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reply is there by now
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_SUCCESS});
    EXPECT_EQ(text, "0123\n");
}

TEST_P(TransportOnSim, ADroppedLinkIsLostForGoodAndCVisaDeviceSaysSo) {
    {
        MessageRecorder recorder;
        CVisaDevice device(resource);
        ASSERT_TRUE(device.IsConnected());
        EXPECT_EQ(device.Query("DROP?"), "");
        EXPECT_EQ(recorder.messages,
                  std::vector<std::string>{"Cannot read from device " + device.Resource()});
    }
    ASSERT_EQ(Send(vi, "DROP?\n"), VI_SUCCESS);
    std::string text;
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_ERROR_CONN_LOST});
    EXPECT_EQ(ReadAll(vi, 100, text), std::vector<ViStatus>{VI_ERROR_CONN_LOST});
    EXPECT_EQ(Send(vi, "LEN? 5\n"), VI_ERROR_CONN_LOST);
}

TEST_P(TransportOnSim, DeviceClearDropsTheResponseThatWasNotRead) {
    const ResourceName name = ParseResourceName(resource).name;
    std::unique_ptr<Transport> transport;
    if (GetParam() == Protocol::Vxi11) {
        ASSERT_EQ(vxi11::Vxi11Connector().Open(name, 1000, transport), VI_SUCCESS);
    } else {
        ASSERT_EQ(hislip::HiSlipConnector().Open(name, 1000, transport), VI_SUCCESS);
    }
    const IoSettings io;
    ViUInt32 n = 0;
    ViByte buffer[8];
    ASSERT_EQ(transport->Write(reinterpret_cast<ViConstBuf>("LEN? 5000\n"), 10, n, io), VI_SUCCESS);
    ASSERT_EQ(transport->Read(buffer, 4, n, io), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(transport->Clear(io), VI_SUCCESS);
    // Nothing of the old response is left on either side.
    IoSettings quick;
    quick.timeoutMs = 200;
    EXPECT_EQ(transport->Read(buffer, 8, n, quick), VI_ERROR_TMO);
    ASSERT_EQ(transport->Write(reinterpret_cast<ViConstBuf>("LEN? 4\n"), 7, n, io), VI_SUCCESS);
    EXPECT_EQ(transport->Read(buffer, 8, n, io), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), n), "012\n");
    transport->Close();
}

TEST_P(TransportOnSim, ARefusedLinkAndAnUnknownHostFailFast) {
    instrument->refuse = true;
    ViSession other = VI_NULL;
    auto start = Clock::now();
    // The HiSLIP server refuses as one that has too many clients.
    EXPECT_EQ(viOpen(rm, resource.c_str(), VI_NO_LOCK, 0, &other),
              GetParam() == Protocol::Vxi11 ? VI_ERROR_RSRC_NFOUND : VI_ERROR_RSRC_BUSY);
    EXPECT_LT(MsSince(start), 500);
    start = Clock::now();
    const std::string unknown = GetParam() == Protocol::Vxi11
                                    ? "TCPIP::no-such-host.invalid::INSTR"
                                    : "TCPIP::no-such-host.invalid::hislip0::INSTR";
    EXPECT_EQ(viOpen(rm, unknown.c_str(), VI_NO_LOCK, 0, &other), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(MsSince(start), kDefaultTimeoutMs + 200);
    EXPECT_EQ(other, VI_NULL);
}

INSTANTIATE_TEST_SUITE_P(Sim, TransportOnSim, ::testing::Values(Protocol::Vxi11, Protocol::HiSlip),
                         [](const auto& info) {
                             return info.param == Protocol::Vxi11 ? "Vxi11" : "HiSlip";
                         });

}  // namespace
