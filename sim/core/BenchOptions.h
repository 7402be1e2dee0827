// Everything about the simulated bench that a user or a test can choose. The physics defaults are
// those of a real bench; later accuracy tests rely on them, so they may be raised, not lowered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace sim {

enum class InstrumentId { Generator1, Generator2, Analyzer };

// "gen1", "gen2", "analyzer": the names of --fault and of the traffic log.
const char* InstrumentName(InstrumentId id);
std::optional<InstrumentId> InstrumentFromName(std::string_view name);

// rfb: generator 1's paths A and B summed into the analyzer. two: generator 1 path A and
// generator 2 path A.
enum class Wiring { RfB, Two };

enum class FaultKind {
    Refuse,         // the link is refused
    DropAfter,      // the link closes after N received messages
    HangAfter,      // nothing is answered after N received messages
    Slow,           // every reply is held back N ms (real time, also in fast mode)
    Garbage,        // replies are non-numeric text
    Errors,         // every setting queues an error
    EndlessErrors,  // SYST:ERR? never reports the empty queue
    HugeReply,      // replies are padded to 20,000 bytes
};

struct Fault {
    InstrumentId instrument = InstrumentId::Generator1;
    FaultKind kind = FaultKind::Refuse;
    int value = 0;  // N of drop-after, hang-after and slow
};

// Parses "INSTRUMENT:KIND[=N]" (e.g. "gen1:drop-after=3"). On failure returns nothing and, when
// error is given, says why.
std::optional<Fault> ParseFault(std::string_view text, std::string* error = nullptr);

// Time: fast runs on a simulated clock that each operation advances by what it would take on a
// real bench, without ever sleeping; otherwise bench time is wall time multiplied by factor
// (1 = realistic).
struct Speed {
    bool fast = false;
    double factor = 1.0;
};
// "fast", "realistic" or a positive factor.
std::optional<Speed> ParseSpeed(std::string_view text);

struct PhysicsOptions {
    double levelMismatchDb = 0.05;        // second path's level above its setting
    double readingNoiseDb = 0.02;         // rms of the analyzer's reading noise
    double noiseDensityDbmHz = -174.0;    // thermal noise density at the analyzer input
    double noiseFigureDb = 24.0;          // analyzer noise figure
    double delayDifferenceNs = 3.7;       // second path's delay minus the first path's
    double phaseOffsetDeg = 37.0;         // fixed phase of the second path against the first
    double levelPhaseDegPerDb = 0.02;     // second path's phase per dB of its level setting
    double driftDegPerK = 0.12;           // second path's phase per kelvin its generator warmed
    double temperatureStartC = 28.0;      // at power-on (bench start)
    double temperatureEndC = 38.5;        // generator 1's end value
    double temperatureEndOffset2C = 0.9;  // generator 2 ends this much warmer
    double warmUpTimeConstantS = 900.0;
    double freeLoOffsetHz = 0.2;            // frequency offset of a free-running local oscillator
    double freeLoWanderDegPerSqrtS = 20.0;  // random walk of a free-running path's phase
};

struct TimingOptions {
    double messageMs = 0.5;          // taking in and parsing one program message
    double frequencySettleMs = 5.0;  // a generator frequency change, behind *OPC?
    double levelSettleMs = 2.0;      // a generator level change
    double phaseSettleMs = 0.5;      // a baseband phase offset change
    double resetMs = 200.0;          // *RST
    double minSweepMs = 10.0;        // shortest analyzer sweep
    double sweepFactor = 2.5;        // automatic sweep time = factor * span / RBW^2
};

struct BenchOptions {
    Wiring wiring = Wiring::RfB;
    std::uint64_t seed = 1;
    Speed speed;  // realistic unless told otherwise
    PhysicsOptions physics;
    TimingOptions timing;
    std::string idnGenerator1 = "Maltoven,VRQ200A,100023,4.70";
    std::string idnGenerator2 = "Maltoven,VRT100A,100057,3.20";
    std::string idnAnalyzer = "Maltoven,ZAS26,101077,1.91";
    std::vector<Fault> faults;
    std::string logPath;  // traffic log; empty: none
};

// Registers --bench, --seed, --speed, every physics and timing flag, the identification flags,
// --fault (repeatable) and --log on app, bound to options, with their defaults shown in --help.
void AddBenchOptions(CLI::App& app, BenchOptions& options);

}  // namespace sim
