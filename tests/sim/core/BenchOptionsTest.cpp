// The bench's command line, as korvel-sim registers it.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include "Bench.h"

namespace {

// Parses args after a program name; returns the CLI11 exit code (0 when accepted).
int Parse(sim::BenchOptions& options, std::vector<std::string> args) {
    CLI::App app("bench");
    sim::AddBenchOptions(app, options);
    std::vector<const char*> argv{"korvel-sim"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        return e.get_exit_code() == 0 ? -1 : e.get_exit_code();
    }
    return 0;
}

TEST(BenchOptions, FlagsReachTheOptions) {
    sim::BenchOptions options;
    ASSERT_EQ(Parse(options, {"--bench", "two", "--seed", "42", "--speed", "fast", "--level-mismatch-db", "0.1",
                              "--delay-difference-ns=4.2", "--fault", "gen1:drop-after=3", "--fault", "analyzer:garbage",
                              "--log", "traffic.log", "--idn-gen1", "Maltoven,VRTK200,1,1"}),
              0);
    EXPECT_EQ(options.wiring, sim::Wiring::Two);
    EXPECT_EQ(options.seed, 42u);
    EXPECT_TRUE(options.speed.fast);
    EXPECT_EQ(options.physics.levelMismatchDb, 0.1);
    EXPECT_EQ(options.physics.delayDifferenceNs, 4.2);
    ASSERT_EQ(options.faults.size(), 2u);
    EXPECT_EQ(options.faults[0].kind, sim::FaultKind::DropAfter);
    EXPECT_EQ(options.faults[1].instrument, sim::InstrumentId::Analyzer);
    EXPECT_EQ(options.logPath, "traffic.log");
    EXPECT_EQ(options.idnGenerator1, "Maltoven,VRTK200,1,1");

    sim::BenchOptions scaled;
    ASSERT_EQ(Parse(scaled, {"--speed", "20"}), 0);
    EXPECT_FALSE(scaled.speed.fast);
    EXPECT_EQ(scaled.speed.factor, 20.0);

    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--bench", "three"}, {"--speed", "slow"}, {"--speed", "0"}, {"--fault", "gen1:melt"},
             {"--fault", "gen4:refuse"}, {"--warm-up-s", "0"}, {"--reading-noise-db", "-1"}}) {
        sim::BenchOptions rejected;
        EXPECT_NE(Parse(rejected, bad), 0) << bad[0] << ' ' << bad[1];
    }
}

}  // namespace
