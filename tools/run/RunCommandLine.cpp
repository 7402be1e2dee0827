#include "RunCommandLine.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace korvel {

std::optional<std::chrono::seconds> ParseDuration(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    long long total = 0;
    std::size_t i = 0;
    const std::string units = "hms";
    int lastUnit = -1;  // the units come in the order h, m, s, each once
    while (i < text.size()) {
        std::size_t digits = i;
        while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
            ++digits;
        if (digits == i || digits - i > 9)
            return std::nullopt;
        const long long value = std::atoll(text.substr(i, digits - i).c_str());
        if (digits == text.size()) {
            if (i != 0)  // "1h30" is ambiguous
                return std::nullopt;
            return std::chrono::seconds(value);
        }
        const std::size_t unit = units.find(text[digits]);
        if (unit == std::string::npos || static_cast<int>(unit) <= lastUnit)
            return std::nullopt;
        lastUnit = static_cast<int>(unit);
        total += value * (unit == 0 ? 3600 : unit == 1 ? 60 : 1);
        i = digits + 1;
    }
    return std::chrono::seconds(total);
}

std::optional<Range> ParseRange(const std::string& text) {
    Range range;
    double* fields[] = {&range.start, &range.stop, &range.step};
    std::size_t begin = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? text.find(':', begin) : text.size();
        if (end == std::string::npos || end == begin)
            return std::nullopt;
        const std::string field = text.substr(begin, end - begin);
        char* rest = nullptr;
        *fields[i] = std::strtod(field.c_str(), &rest);
        if (*rest != '\0' || !std::isfinite(*fields[i]))
            return std::nullopt;
        begin = end + 1;
    }
    return range;
}

namespace {

// A CLI11 check from one of the parsers above.
template <typename Parse>
CLI::Validator Checked(Parse parse, const char* what) {
    return CLI::Validator(
        [parse, what](std::string& text) {
            return parse(text) ? std::string() : text + " is not " + what;
        },
        "", what);
}

}  // namespace

std::optional<int> ParseRunCommandLine(int argc, char** argv, RunOptions& o) {
    CLI::App app{
        "Korvel's job without the window: the same measurements, settings and result files,\n"
        "driven from a terminal. Results go to standard output, messages and progress to\n"
        "standard error. Exit codes: 0 all measured, 1 an instrument or a point failed,\n"
        "2 usage, 128+N ended by signal N."};
    app.name("korvel-run");
    app.require_subcommand(1);
    app.fallthrough();  // the common flags may follow the subcommand too
    // A script may append an override to a command line it was given: the last one counts.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--gen1", o.generator1, "Generator 1's resource (VisaGenerator1)")
        ->type_name("RESOURCE");
    app.add_option("--gen2", o.generator2, "Generator 2's resource (VisaGenerator2)")
        ->type_name("RESOURCE");
    app.add_option("--analyzer", o.analyzer, "The analyzer's resource (VisaAnalyzer)")
        ->type_name("RESOURCE");
    int rfb = 0, rotation = 0;  // +1 for the flag, -1 for its negation
    app.add_flag("--rfb,!--no-rfb", rfb, "Use RF B of generator 1 (UseRF_B), or not");
    app.add_option("--search", o.search, "The null search (Search)")
        ->check(CLI::IsMember({"standard", "fast"}));
    app.add_flag("--save", o.save,
                 "Write the settings of this run to the store when the command ends\n"
                 "(otherwise the store is only read)");
    app.add_option("-o,--output", o.output,
                   "The result file (default: the window's file\n"
                   "name in the working directory)")
        ->type_name("FILE");
    app.add_option("--trace", o.trace, "Write the instrument traffic to FILE (as KORVEL_TRACE)")
        ->type_name("FILE");
    app.add_flag("--json", o.json, "One JSON object with the results on standard output");
    app.add_flag("-q,--quiet", o.quiet, "No progress line");

    auto* connect = app.add_subcommand("connect", "Print the identifications of the instruments");
    auto* setup = app.add_subcommand("setup", "Setup VRx: couple the generators, load dc.wv");
    auto* measure = app.add_subcommand("measure", "One phase measurement (GetPhaseSingle)");
    auto addAverage = [&](CLI::App* sub) {
        sub->add_option("--avg", o.average, "Passes averaged per point (Average)")
            ->check(CLI::Range(1u, 100u));
    };
    addAverage(measure);
    measure->add_flag("--rotation,!--no-rotation", rotation,
                      "Spread the passes over the circle (PhaseRotation)");
    auto* sweep = app.add_subcommand("sweep", "A sweep over frequencies and levels");
    std::string frequency, level, duration;
    sweep->add_option("--freq", frequency, "Frequencies in MHz")
        ->type_name("START:STOP:STEP")
        ->required()
        ->check(Checked(ParseRange, "START:STOP:STEP"));
    sweep->add_option("--level", level, "Levels in dBm")
        ->type_name("START:STOP:STEP")
        ->required()
        ->check(Checked(ParseRange, "START:STOP:STEP"));
    addAverage(sweep);
    auto* continuous = app.add_subcommand("continuous", "Log the phase every period");
    continuous->add_option("--period", o.periodS, "Seconds between samples")
        ->required()
        ->check(CLI::Range(0.0, 214748364.0));
    auto* samples = continuous->add_option("--samples", o.samples, "Stop after N samples")
                        ->check(CLI::Range(1, 1000000000));
    auto* lasting = continuous->add_option("--duration", duration, "Stop after this time")
                        ->type_name("1h30m|45m|90s")
                        ->check(Checked(ParseDuration, "a duration"));
    samples->excludes(lasting);
    auto* adjustZero =
        app.add_subcommand("adjust-zero", "Set the generator in phase from the last sweep");
    adjustZero->add_option("--table", o.table, "The sweep file (default: PhaseLogSweep.csv)")
        ->type_name("FILE");
    auto* adjustLevels = app.add_subcommand("adjust-levels", "Trim the levels (Adjust Levels)");
    app.footer(
        "Examples:\n"
        "  korvel-run --analyzer TCPIP::10.0.0.5::hislip0::INSTR connect\n"
        "  korvel-run sweep --freq 100:2000:100 --level -30:0:10 --avg 4 -o 25C.csv\n"
        "  korvel-run continuous --period 2 --duration 12h");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (continuous->parsed() && samples->empty() && lasting->empty()) {
        std::fprintf(stderr, "korvel-run: continuous needs --samples N or --duration TIME\n");
        return 2;
    }
    const std::pair<CLI::App*, Command> commands[] = {
        {connect, Command::Connect},          {setup, Command::Setup},
        {measure, Command::Measure},          {sweep, Command::Sweep},
        {continuous, Command::Continuous},    {adjustZero, Command::AdjustZero},
        {adjustLevels, Command::AdjustLevels}};
    for (const auto& [sub, command] : commands) {
        if (sub->parsed())
            o.command = command;
    }
    if (sweep->parsed()) {
        o.frequency = *ParseRange(frequency);
        o.level = *ParseRange(level);
    }
    if (rfb != 0)
        o.useRfB = rfb > 0;
    if (rotation != 0)
        o.rotation = rotation > 0;
    if (!duration.empty())
        o.duration = ParseDuration(duration);
    return std::nullopt;
}

}  // namespace korvel
