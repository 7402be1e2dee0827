// The korvel-scpi program as a user runs it: exit codes, messages, and a simulated bench reached
// on the standard ports (portmapper 111, HiSLIP 4880) of an address of its own, 127.4.9.x.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>

#include "Bench.h"
#include "SimServer.h"

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs korvel-scpi with a shell-quoted argument string and standard input.
ToolRun Scpi(const std::string& arguments, const std::string& input = {}) {
    const auto dir = std::filesystem::temp_directory_path() / ("korvel-scpi-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "in") << input;
    const std::string command = std::string("timeout 20 ") + KORVEL_SCPI_PATH + " " + arguments + " <" +
                                (dir / "in").string() + " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
    ToolRun run;
    const int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const std::filesystem::path& p) {
        std::ostringstream s;
        s << std::ifstream(p).rdbuf();
        return s.str();
    };
    run.out = slurp(dir / "out");
    run.err = slurp(dir / "err");
    std::filesystem::remove_all(dir);
    return run;
}

TEST(ScpiTool, ExitCodesTellSuccessFailureAndUsageApart) {
    ToolRun run = Scpi("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage: korvel-scpi"), std::string::npos);
    EXPECT_EQ(Scpi("").exitCode, 2);
    EXPECT_EQ(Scpi("28 --timeout soon").exitCode, 2);
    run = Scpi("28 '*IDN?'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "korvel-scpi: Cannot open device GPIB0::28::INSTR\n");
    EXPECT_EQ(run.out, "");
}

TEST(ScpiTool, TalksToTheSimulatedBenchOverBothProtocolsOnTheStandardPorts) {
    sim::BenchOptions options;
    options.speed.fast = true;
    sim::Bench bench(options);
    sim::server::ServingOptions serving;
    serving.vxi11Port = 0;
    sim::server::SimServer server;
    std::ostringstream diagnostics;
    ASSERT_TRUE(server.Start({{"gen1", bench.Instrument(sim::InstrumentId::Generator1), "127.4.9.28", "inst0", "hislip0"},
                              {"analyzer", bench.Instrument(sim::InstrumentId::Analyzer), "127.4.9.20", "inst0",
                               "hislip0"}},
                             serving, diagnostics));
    for (const auto& e : server.Endpoints()) {
        if (e.portmapPort != 111 || e.hislipPort != 4880) {
            GTEST_SKIP() << "the standard ports cannot be had on " << e.address << ": " << diagnostics.str();
        }
    }

    // What a user types: the address alone (VXI-11, inst0), commands on the line.
    ToolRun run = Scpi("127.4.9.28 '*IDN?' 'FREQ 2000000000' 'SYST:ERR?'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, options.idnGenerator1 + "\n0,\"No error\"\n");
    EXPECT_EQ(run.err, "");

    // HiSLIP, commands from standard input.
    run = Scpi("TCPIP::127.4.9.20::hislip0::INSTR - --timeout 5000", "*IDN?\n\nFREQ:CENT 1000000000\nSYST:ERR?\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, options.idnAnalyzer + "\n0,\"No error\"\n");

    // A query the analyzer does not know goes unanswered: the read fails, the run stops.
    run = Scpi("127.4.9.20 'NO:SUCH:THING?' '*IDN?' --timeout 300");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "korvel-scpi: Cannot read from device TCPIP::127.4.9.20::INSTR\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
