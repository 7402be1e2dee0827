#include "BenchOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <map>

namespace sim {

namespace {

struct FaultName {
    const char* name;
    FaultKind kind;
    bool takesValue;
};

constexpr FaultName kFaultNames[] = {
    {"refuse", FaultKind::Refuse, false},
    {"drop-after", FaultKind::DropAfter, true},
    {"hang-after", FaultKind::HangAfter, true},
    {"slow", FaultKind::Slow, true},
    {"garbage", FaultKind::Garbage, false},
    {"errors", FaultKind::Errors, false},
    {"endless-errors", FaultKind::EndlessErrors, false},
    {"huge-reply", FaultKind::HugeReply, false},
};

std::optional<Fault> Fail(std::string* error, std::string why) {
    if (error)
        *error = std::move(why);
    return std::nullopt;
}

}  // namespace

const char* InstrumentName(InstrumentId id) {
    switch (id) {
        case InstrumentId::Generator1:
            return "gen1";
        case InstrumentId::Generator2:
            return "gen2";
        case InstrumentId::Analyzer:
            return "analyzer";
    }
    return "?";
}

std::optional<InstrumentId> InstrumentFromName(std::string_view name) {
    for (InstrumentId id :
         {InstrumentId::Generator1, InstrumentId::Generator2, InstrumentId::Analyzer}) {
        if (name == InstrumentName(id))
            return id;
    }
    return std::nullopt;
}

std::optional<Fault> ParseFault(std::string_view text, std::string* error) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return Fail(error, "expected INSTRUMENT:KIND[=N]");
    const std::optional<InstrumentId> instrument = InstrumentFromName(text.substr(0, colon));
    if (!instrument)
        return Fail(error, "unknown instrument (gen1, gen2 or analyzer)");
    std::string_view kind = text.substr(colon + 1);
    std::string_view value;
    const size_t equals = kind.find('=');
    const bool hasValue = equals != std::string_view::npos;
    if (hasValue) {
        value = kind.substr(equals + 1);
        kind = kind.substr(0, equals);
    }
    for (const FaultName& name : kFaultNames) {
        if (kind != name.name)
            continue;
        Fault fault{*instrument, name.kind, 0};
        if (!name.takesValue) {
            if (hasValue)
                return Fail(error, std::string(name.name) + " takes no value");
            return fault;
        }
        if (!hasValue)
            return Fail(error, std::string(name.name) + " needs =N");
        const auto [end, ec] =
            std::from_chars(value.data(), value.data() + value.size(), fault.value);
        if (ec != std::errc() || end != value.data() + value.size() || fault.value < 0) {
            return Fail(error, std::string(name.name) + " needs a whole number N >= 0");
        }
        return fault;
    }
    return Fail(error,
                "unknown fault kind (refuse, drop-after=N, hang-after=N, slow=MS, garbage, errors, "
                "endless-errors, huge-reply)");
}

std::optional<Speed> ParseSpeed(std::string_view text) {
    if (text == "fast")
        return Speed{true, 1.0};
    if (text == "realistic")
        return Speed{false, 1.0};
    double factor = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), factor);
    if (ec != std::errc() || end != text.data() + text.size() || !(factor > 0.0) ||
        !std::isfinite(factor)) {
        return std::nullopt;
    }
    return Speed{false, factor};
}

void AddBenchOptions(CLI::App& app, BenchOptions& options) {
    const std::map<std::string, Wiring> wirings{{"rfb", Wiring::RfB}, {"two", Wiring::Two}};
    app.add_option(
           "--bench", options.wiring,
           "rfb: generator 1's paths A and B summed into the analyzer; two: generator 1 path A and "
           "generator 2 path A")
        ->transform(CLI::CheckedTransformer(wirings, CLI::ignore_case).description(""))
        ->type_name("rfb|two")
        ->default_str(options.wiring == Wiring::RfB ? "rfb" : "two");
    app.add_option("--seed", options.seed, "Seed of every random number of the bench")
        ->capture_default_str();
    app.add_option_function<std::string>(
           "--speed", [&options](const std::string& text) { options.speed = *ParseSpeed(text); },
           "fast (simulated clock, no waiting), realistic, or a factor (bench time runs that much faster)")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseSpeed(text) ? std::string()
                                        : "expected fast, realistic or a factor > 0";
            },
            "fast|realistic|FACTOR"))
        ->default_str(options.speed.fast            ? "fast"
                      : options.speed.factor == 1.0 ? "realistic"
                                                    : std::to_string(options.speed.factor));

    PhysicsOptions& p = options.physics;
    const std::string physics = "Bench physics";
    auto add = [&app](const std::string& group, const std::string& name, double& value,
                      const std::string& help) {
        return app.add_option(name, value, help)->capture_default_str()->group(group);
    };
    add(physics, "--level-mismatch-db", p.levelMismatchDb,
        "Second path's level above its setting (dB)");
    add(physics, "--reading-noise-db", p.readingNoiseDb, "Rms noise of an analyzer reading (dB)")
        ->check(CLI::NonNegativeNumber);
    add(physics, "--noise-density-dbm-hz", p.noiseDensityDbmHz,
        "Noise density at the analyzer input (dBm/Hz)");
    add(physics, "--noise-figure-db", p.noiseFigureDb, "Analyzer noise figure (dB)");
    add(physics, "--delay-difference-ns", p.delayDifferenceNs,
        "Second path's delay minus the first path's (ns)");
    add(physics, "--phase-offset-deg", p.phaseOffsetDeg,
        "Fixed phase of the second path against the first (deg)");
    add(physics, "--level-phase-deg-per-db", p.levelPhaseDegPerDb,
        "Second path's phase per dB of its level setting (deg/dB)");
    add(physics, "--drift-deg-per-k", p.driftDegPerK,
        "Second path's phase per kelvin its generator has warmed since power-on (deg/K)");
    add(physics, "--temperature-start-c", p.temperatureStartC,
        "Generator temperature at power-on (deg C)");
    add(physics, "--temperature-end-c", p.temperatureEndC,
        "Generator 1's warmed-up temperature (deg C)");
    add(physics, "--temperature-end-offset2-c", p.temperatureEndOffset2C,
        "Generator 2 ends this much warmer than generator 1 (K)");
    add(physics, "--warm-up-s", p.warmUpTimeConstantS, "Warm-up time constant (s)")
        ->check(CLI::PositiveNumber);
    add(physics, "--free-lo-offset-hz", p.freeLoOffsetHz,
        "Frequency offset of a local oscillator that is not coupled (Hz)");
    add(physics, "--free-lo-wander-deg-per-sqrt-s", p.freeLoWanderDegPerSqrtS,
        "Random walk of an uncoupled path's phase (deg/sqrt(s))")
        ->check(CLI::NonNegativeNumber);

    TimingOptions& t = options.timing;
    const std::string timing = "Bench timing (realistic speed, or simulated time in fast mode)";
    add(timing, "--message-ms", t.messageMs, "Taking in one program message (ms)")
        ->check(CLI::NonNegativeNumber);
    add(timing, "--frequency-settle-ms", t.frequencySettleMs,
        "Generator frequency settling behind *OPC? (ms)")
        ->check(CLI::NonNegativeNumber);
    add(timing, "--level-settle-ms", t.levelSettleMs, "Generator level settling (ms)")
        ->check(CLI::NonNegativeNumber);
    add(timing, "--phase-settle-ms", t.phaseSettleMs, "Baseband phase offset settling (ms)")
        ->check(CLI::NonNegativeNumber);
    add(timing, "--reset-ms", t.resetMs, "*RST (ms)")->check(CLI::NonNegativeNumber);
    add(timing, "--min-sweep-ms", t.minSweepMs, "Shortest analyzer sweep (ms)")
        ->check(CLI::NonNegativeNumber);
    add(timing, "--sweep-factor", t.sweepFactor,
        "Automatic sweep time = factor * span / RBW^2 (s Hz)")
        ->check(CLI::NonNegativeNumber);

    const std::string instruments = "Instruments";
    app.add_option("--idn-gen1", options.idnGenerator1, "Identification of generator 1")
        ->capture_default_str()
        ->group(instruments);
    app.add_option("--idn-gen2", options.idnGenerator2, "Identification of generator 2")
        ->capture_default_str()
        ->group(instruments);
    app.add_option("--idn-analyzer", options.idnAnalyzer, "Identification of the analyzer")
        ->capture_default_str()
        ->group(instruments);

    app.add_option_function<std::vector<std::string>>(
           "--fault",
           [&options](const std::vector<std::string>& texts) {
               for (const std::string& text : texts)
                   options.faults.push_back(*ParseFault(text));
           },
           "Inject a fault (repeatable): INSTRUMENT is gen1, gen2 or analyzer; KIND is refuse, drop-after=N, "
           "hang-after=N, slow=MS, garbage, errors, endless-errors or huge-reply")
        ->check(CLI::Validator(
            [](std::string& text) {
                std::string error;
                return ParseFault(text, &error) ? std::string() : error;
            },
            "INSTRUMENT:KIND[=N]"))
        ->default_str("none");
    app.add_option(
           "--log", options.logPath,
           "Traffic log: one line per message (<) or reply (>): SECONDS INSTRUMENT <|> TEXT")
        ->type_name("FILE");
}

}  // namespace sim
