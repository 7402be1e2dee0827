// korvel-run's command line: the subcommands, the bench overrides and the output choices.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace korvel {

enum class Command { Connect, Setup, Measure, Sweep, Continuous, AdjustZero, AdjustLevels };

// START:STOP:STEP as typed, e.g. "100:300:100" or "-25:-10:5".
struct Range {
    double start = 0.0, stop = 0.0, step = 0.0;
};

struct RunOptions {
    Command command = Command::Connect;
    // Overrides of the store for this run.
    std::optional<std::string> generator1, generator2, analyzer, search;
    std::optional<bool> useRfB;
    bool save = false;
    std::optional<std::uint32_t> average;
    std::optional<bool> rotation;
    Range frequency, level;
    double periodS = 0.0;
    std::optional<int> samples;
    std::optional<std::chrono::seconds> duration;
    std::string table;   // adjust-zero's sweep file
    std::string output;  // -o: the result file
    std::string trace;
    bool json = false;
    bool quiet = false;
};

// "1h30m", "90s", "45m", "2h", "1h2m3s"; a bare number is seconds. Nothing for anything else.
std::optional<std::chrono::seconds> ParseDuration(const std::string& text);
std::optional<Range> ParseRange(const std::string& text);

// Parses argv into options; returns an exit code when the program is to end at once (help: 0,
// usage error: 2, with the text printed), otherwise nothing.
std::optional<int> ParseRunCommandLine(int argc, char** argv, RunOptions& options);

}  // namespace korvel
