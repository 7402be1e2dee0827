// The korvel-sim program as a user runs it: help with the physics defaults, the waveform file,
// resource strings on start, a query in gateway mode, and a clean end on SIGTERM.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>

#include "RawClients.h"
#include "sim/core/Waveform.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

// Its exit code, and standard output and error together.
std::string RunSim(const std::string& arguments, int& status) {
    const ProgramRun run = RunProgram(std::string(KORVEL_SIM_PATH) + " " + arguments + " 2>&1");
    status = run.exitCode;
    return run.out;
}

}  // namespace

TEST(KorvelSimProgram, HelpShowsTheRealBenchDefaults) {
    int status = 0;
    const std::string help = RunSim("--help", status);
    EXPECT_EQ(status, 0);
    // Accuracy tests of later work rely on these; changing a default must fail here.
    for (const char* expected :
         {"--level-mismatch-db FLOAT=0.05", "--reading-noise-db FLOAT:NONNEGATIVE=0.02",
          "--noise-density-dbm-hz FLOAT=-174", "--noise-figure-db FLOAT=24",
          "--delay-difference-ns FLOAT=3.7", "--hislip-port UINT=4880",
          "--gen1-address TEXT=127.0.0.28", "--gen2-address TEXT=127.0.0.27",
          "--analyzer-address TEXT=127.0.0.20", "--portmap-port UINT=111", "--bench rfb|two=rfb ",
          "|FACTOR=realistic", "--seed UINT=1 ", "--fault ", "--log FILE"}) {
        EXPECT_NE(help.find(expected), std::string::npos) << expected;
    }
}

TEST(KorvelSimProgram, WritesTheWaveformFileAndFailsWhereItCannotServe) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvel-sim-dc-" + std::to_string(getpid()) + ".wv");
    int status = 0;
    RunSim("--write-waveform " + path.string(), status);
    EXPECT_EQ(status, 0);
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    std::string error;
    EXPECT_TRUE(sim::ParseWaveform(bytes, &error)) << error;
    std::filesystem::remove(path);
    RunSim("--write-waveform /nonexistent-dir/dc.wv", status);
    EXPECT_NE(status, 0);
    // Serving beyond loopback takes --listen.
    const std::string output = RunSim("--analyzer-address 192.0.2.1", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(output.find("--listen"), std::string::npos);
}

TEST(KorvelSimProgram, GatewayModeServesAllThreeAndStopsOnSigterm) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start({KORVEL_SIM_PATH, "--speed", "fast", "--gateway", "127.0.63.1",
                           "--portmap-port", "0", "--hislip-port", "0"}));
    std::string out;
    while (out.find("ready") == std::string::npos) {
        const auto line = sim.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line) << out;
        out += *line + "\n";
    }
    for (const char* name :
         {"gpib0,28", "gpib0,27", "gpib0,20", "hislip28", "hislip27", "hislip20"}) {
        EXPECT_NE(out.find("TCPIP0::127.0.63.1::" + std::string(name)), std::string::npos)
            << name << "\n"
            << out;
    }
    std::smatch match;
    ASSERT_TRUE(std::regex_search(out, match, std::regex("portmapper on port (\\d+)"))) << out;
    RpcClient portmapper;
    ASSERT_TRUE(portmapper.Connect("127.0.63.1", static_cast<uint16_t>(std::stoi(match[1]))));
    const auto port = portmapper.Call(portmap::kProgram, 2, portmap::kGetPort,
                                      EncodeMapping({vxi11::kCoreProgram, 1, 6, 0}));
    ASSERT_TRUE(port && port->results.size() == 4);
    const uint32_t corePort = XdrReader(port->results).GetU32();
    RpcClient core;
    ASSERT_TRUE(core.Connect("127.0.63.1", static_cast<uint16_t>(corePort)));
    const auto link = CreateLink(core, "GPIB0,20");
    ASSERT_TRUE(link && link->error == 0);
    DeviceWrite(core, link->lid, "*IDN?\n");
    const auto reply = DeviceRead(core, link->lid, 1000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->data.rfind("Maltoven,ZAS", 0), 0u) << reply->data;
    // Stopping while a client is still connected, with a read waiting.
    std::thread waiting([&] { DeviceRead(core, link->lid, 1000, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.Stop(), 0);
    waiting.join();
}
