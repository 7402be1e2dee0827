// What the analyzer sees. Each path that reaches the analyzer with its output on contributes a
// carrier: amplitude from its level (the second path off by the level mismatch), phase from its
// baseband offset (only while it plays a valid waveform through the I/Q modulator) plus its
// electrical phase. The second path's electrical phase against the first is a delay difference
// (linear in frequency), a fixed offset, a level term and a drift with its generator's warm-up;
// while the local oscillators are not coupled as the generator setup couples them, it also
// wanders (a free-running offset frequency plus a random walk). Carriers at the same frequency
// add as phasors, others in power, plus the noise in the resolution bandwidth and the analyzer's
// reading noise.
//
// Callers hold the bench lock.
#pragma once

#include <complex>

#include "BenchOptions.h"
#include "InstrumentState.h"
#include "Random.h"

namespace sim {

// Generator temperature (degrees C) at bench time t: an exponential warm-up from power-on.
double GeneratorTemperatureC(const PhysicsOptions& physics, InstrumentId generator, double t);

class BenchPhysics {
public:
    BenchPhysics(const BenchOptions& options, const GeneratorState& generator1,
                 const GeneratorState& generator2);

    double TemperatureC(InstrumentId generator, double t) const {
        return GeneratorTemperatureC(m_options.physics, generator, t);
    }
    // Whether the two paths share their local oscillator as the generator setup arranges it.
    bool Coherent() const;
    // Phase of the second path's carrier against the first's (degrees), apart from the offsets.
    double ElectricalPhaseDeg(double frequencyHz, double levelDbm, double t);
    // The offset difference (path A minus second path, [0, 360)) at which the carriers cancel.
    double TruthPhaseDeg(double t);
    // One marker reading (dBm) at markerHz of a sweep at bench time t.
    double MarkerReadingDbm(const AnalyzerState& analyzer, double markerHz, double t);
    // Displayed average noise level in the given resolution bandwidth (dBm).
    double NoiseFloorDbm(double rbwHz) const;

private:
    struct Carrier {
        double frequencyHz;
        std::complex<double> amplitude;  // sqrt(mW) with the carrier phase
    };
    const GeneratorPath& FirstPath() const;
    const GeneratorPath& SecondPath() const;
    InstrumentId SecondGenerator() const;
    double SecondFrequencyHz() const;
    // Moves the free-running phase forward to t.
    void Wander(double t);

    const BenchOptions& m_options;
    const GeneratorState& m_generator1;
    const GeneratorState& m_generator2;
    Random m_random;
    bool m_wasCoherent = true;
    double m_wanderDeg = 0.0;
    double m_wanderAtS = 0.0;
};

}  // namespace sim
