// What both protocols share: the served device's hand-over between messages and the instrument's
// responses, and the simulator server's life cycle.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include "RawClients.h"
#include "sim/server/ServedDevice.h"
#include "sim/server/SimServer.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// Answers a query with the query itself. Like a real instrument it drops an unread answer when
// the next message comes; Respond() takes respondMs before it looks at its output.
class EchoInstrument : public visa::MessageInstrument {
public:
    std::atomic<int> respondMs{0};

    void Receive(std::string_view message) override {
        std::lock_guard lock(m_mutex);
        m_output.reset();
        if (message.find('?') != std::string_view::npos)
            m_output = std::string(message);
    }
    std::optional<std::string> Respond() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(respondMs));
        std::lock_guard lock(m_mutex);
        return std::exchange(m_output, std::nullopt);
    }

private:
    std::mutex m_mutex;
    std::optional<std::string> m_output;
};

}  // namespace

// A response still being prepared for one message must not take the next message's response:
// the next one would be dropped as stale and its read would time out.
TEST(ServedDevice, AnAskInFlightCannotTakeTheNextMessagesResponse) {
    auto instrument = std::make_shared<EchoInstrument>();
    ServedDevice device("echo", instrument);
    instrument->respondMs = 200;
    const std::atomic<bool> never{false};
    device.Deliver("A?\n");
    // The client gives up; the ask goes on.
    EXPECT_EQ(device.Read(100, Clock::now() + 20ms, never).kind,
              ServedDevice::ReadResult::Kind::Timeout);
    device.Deliver("B?\n");
    EXPECT_EQ(device.Read(100, Clock::now() + 2000ms, never).data, "B?\n");
}

TEST(SimServer, ARestartReportsOnlyTheNewEndpoints) {
    auto instrument = std::make_shared<ScriptedInstrument>();
    ServingOptions options;
    options.portmapPort = 0;
    options.hislipPort = 0;
    SimServer server;
    std::ostringstream diagnostics;
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(server.Start({{"gen1", instrument, "127.0.0.1", "inst0", "hislip0"}}, options,
                                 diagnostics))
            << diagnostics.str();
        ASSERT_EQ(server.Endpoints().size(), 1u) << run;
        EXPECT_EQ(server.ResourceLines().size(), 2u) << run;
        HiSlipClient client;
        ASSERT_TRUE(client.Open("127.0.0.1", server.Endpoints()[0].hislipPort, "hislip0")) << run;
        client.Write("*IDN?\n");
        EXPECT_EQ(client.ReadResponse(), instrument->idn) << run;
        server.Stop();
    }
    EXPECT_TRUE(server.Endpoints().empty());
}
