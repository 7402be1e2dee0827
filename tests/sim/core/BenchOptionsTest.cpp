// What users type for the bench: korvel-sim's options and fault texts are checked when parsed.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include "sim/core/Bench.h"

namespace {

// Parses args after a program name; returns the CLI11 exit code (0 when accepted).
int Parse(sim::BenchOptions& options, std::vector<std::string> args) {
    CLI::App app("bench");
    sim::AddBenchOptions(app, options);
    std::vector<const char*> argv{"korvel-sim"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        return e.get_exit_code() == 0 ? -1 : e.get_exit_code();
    }
    return 0;
}

TEST(BenchOptions, FlagsReachTheOptionsAndUnusableValuesAreRefused) {
    sim::BenchOptions options;
    ASSERT_EQ(Parse(options, {"--bench", "two", "--speed", "20", "--delay-difference-ns=4.2",
                              "--fault", "gen1:drop-after=3", "--fault", "analyzer:garbage"}),
              0);
    EXPECT_EQ(options.wiring, sim::Wiring::Two);
    EXPECT_FALSE(options.speed.fast);
    EXPECT_EQ(options.speed.factor, 20.0);
    EXPECT_EQ(options.physics.delayDifferenceNs, 4.2);
    EXPECT_EQ(options.faults.size(), 2u);  // repeated, not the last one only

    // A zero speed or time constant would divide by zero.
    for (std::vector<std::string> bad :
         std::vector<std::vector<std::string>>{{"--bench", "three"},
                                               {"--speed", "slow"},
                                               {"--speed", "0"},
                                               {"--fault", "gen1:melt"},
                                               {"--fault", "gen4:refuse"},
                                               {"--warm-up-s", "0"},
                                               {"--reading-noise-db", "-1"}}) {
        sim::BenchOptions rejected;
        EXPECT_NE(Parse(rejected, bad), 0) << bad[0] << ' ' << bad[1];
    }
}

TEST(BenchOptions, FaultTextsAreCheckedWhenParsed) {
    const std::optional<sim::Fault> drop = sim::ParseFault("analyzer:drop-after=3");
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->instrument, sim::InstrumentId::Analyzer);
    EXPECT_EQ(drop->value, 3);
    for (const char* good :
         {"gen1:refuse", "gen2:hang-after=0", "gen1:slow=250", "analyzer:garbage", "gen1:errors",
          "gen2:endless-errors", "analyzer:huge-reply"}) {
        EXPECT_TRUE(sim::ParseFault(good)) << good;
    }
    for (const char* bad :
         {"gen3:refuse", "gen1", "gen1:", "gen1:melt", "gen1:refuse=2", "gen1:slow",
          "gen1:slow=", "gen1:slow=-5", "gen1:drop-after=2x", "Gen1:refuse"}) {
        std::string why;
        EXPECT_FALSE(sim::ParseFault(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

}  // namespace
