// The simulated bench: two generators and an analyzer bound to one physical model. Transports
// (in-process attachment, the network servers) take the instruments from Instrument(); faults
// and the traffic log are already applied there.
//
// Thread safety: any number of links on any threads may talk to the three instruments at once.
// One bench-wide mutex guards the models; nothing sleeps while holding it.
//
// Lifetime: an instrument taken from Instrument() keeps the whole bench alive, so a transport
// may hold it longer than the Bench object lives.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "BenchOptions.h"
#include "InstrumentState.h"

namespace visa {
class MessageInstrument;
}

namespace sim {

class AnalyzerModel;
class BenchPhysics;
class GeneratorModel;
class SimClock;

class Bench {
public:
    // Throws std::runtime_error when the traffic log cannot be opened.
    explicit Bench(const BenchOptions& options);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // The instrument as a transport must see it. All three exist in both wirings; generator 2's
    // carrier reaches the analyzer only in the two-generator wiring.
    std::shared_ptr<visa::MessageInstrument> Instrument(InstrumentId id);

    // The truth: generator 1 path A's offset minus the second path's (degrees, [0, 360)) at which
    // the carriers cancel, at the present frequency, levels, temperatures and bench time.
    double TruthPhaseDeg();
    double TemperatureC(InstrumentId generator);
    // Bench seconds since start (simulated in fast mode).
    double NowS() const;
    // Fast mode only: lets simulated time pass, as a bench left alone would.
    void Idle(double seconds);

    // Copies of the present settings, taken under the bench lock.
    GeneratorState Generator(InstrumentId generator) const;
    AnalyzerState Analyzer() const;

    // The raw pieces, for tests. Touch the models only under Mutex().
    std::mutex& Mutex() const;
    GeneratorModel& GeneratorModelOf(InstrumentId generator);
    AnalyzerModel& AnalyzerModelOf();
    SimClock& Clock();
    BenchPhysics& Physics();
    const BenchOptions& Options() const;

private:
    struct Core;
    std::shared_ptr<Core> m_core;
};

// Writes a valid constant-I/Q ("DC") waveform file that the simulated generators play.
// Returns false and says why in error when the file cannot be written.
bool WriteWaveformFile(const std::string& path, std::string* error);

}  // namespace sim
