#include "BenchPhysics.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Wrap360(double deg) {
    double wrapped = std::fmod(deg, 360.0);
    if (wrapped < 0.0)
        wrapped += 360.0;
    return wrapped >= 360.0 ? 0.0 : wrapped;
}

std::complex<double> Phasor(double levelDbm, double phaseDeg) {
    return std::polar(std::sqrt(std::pow(10.0, levelDbm / 10.0)), phaseDeg * kPi / 180.0);
}

}  // namespace

BenchPhysics::BenchPhysics(const BenchOptions& options, const GeneratorState& generator1,
                           const GeneratorState& generator2)
    : m_options(options),
      m_generator1(generator1),
      m_generator2(generator2),
      m_random(options.seed) {}

double GeneratorTemperatureC(const PhysicsOptions& p, InstrumentId generator, double t) {
    double end = p.temperatureEndC;
    if (generator == InstrumentId::Generator2)
        end += p.temperatureEndOffset2C;
    const double tau = std::max(p.warmUpTimeConstantS, 1e-9);
    return end - (end - p.temperatureStartC) * std::exp(-std::max(t, 0.0) / tau);
}

const GeneratorPath& BenchPhysics::FirstPath() const {
    return m_generator1.paths[0];
}

const GeneratorPath& BenchPhysics::SecondPath() const {
    return m_options.wiring == Wiring::RfB ? m_generator1.paths[1] : m_generator2.paths[0];
}

InstrumentId BenchPhysics::SecondGenerator() const {
    return m_options.wiring == Wiring::RfB ? InstrumentId::Generator1 : InstrumentId::Generator2;
}

double BenchPhysics::SecondFrequencyHz() const {
    // In coupled mode path B runs on path A's synthesizer, so it takes path A's frequency.
    if (m_options.wiring == Wiring::RfB && FirstPath().loMode == LoMode::Coupled)
        return FirstPath().frequencyHz;
    return SecondPath().frequencyHz;
}

bool BenchPhysics::Coherent() const {
    if (!m_generator1.externalReference)
        return false;
    if (m_options.wiring == Wiring::RfB)
        return FirstPath().loMode == LoMode::Coupled;
    return FirstPath().loOutputOn && m_generator2.paths[0].loMode == LoMode::External;
}

void BenchPhysics::Wander(double t) {
    if (Coherent()) {
        m_wasCoherent = true;
        m_wanderDeg = 0.0;
        m_wanderAtS = t;
        return;
    }
    if (m_wasCoherent) {
        // Oscillators that stop sharing a reference start from an arbitrary phase.
        m_wasCoherent = false;
        m_wanderDeg = 360.0 * m_random.Uniform();
        m_wanderAtS = t;
        return;
    }
    const double dt = t - m_wanderAtS;
    if (dt <= 0.0)
        return;
    const PhysicsOptions& p = m_options.physics;
    m_wanderDeg = Wrap360(m_wanderDeg + 360.0 * p.freeLoOffsetHz * dt +
                          p.freeLoWanderDegPerSqrtS * std::sqrt(dt) * m_random.Gaussian());
    m_wanderAtS = t;
}

double BenchPhysics::ElectricalPhaseDeg(double frequencyHz, double levelDbm, double t) {
    const PhysicsOptions& p = m_options.physics;
    Wander(t);
    const double warmingK = TemperatureC(SecondGenerator(), t) - p.temperatureStartC;
    double phase = p.phaseOffsetDeg - 360.0 * frequencyHz * p.delayDifferenceNs * 1e-9 +
                   p.levelPhaseDegPerDb * levelDbm + p.driftDegPerK * warmingK;
    if (!m_wasCoherent)
        phase += m_wanderDeg;
    return Wrap360(phase);
}

double BenchPhysics::TruthPhaseDeg(double t) {
    const GeneratorPath& first = FirstPath();
    const GeneratorPath& second = SecondPath();
    const double electrical = ElectricalPhaseDeg(SecondFrequencyHz(), second.levelDbm, t);
    // Cancellation: (offsetA + waveA) - (offset2 + wave2 + electrical) = 180.
    return Wrap360(180.0 + electrical + second.waveformPhaseDeg - first.waveformPhaseDeg);
}

double BenchPhysics::NoiseFloorDbm(double rbwHz) const {
    const PhysicsOptions& p = m_options.physics;
    return p.noiseDensityDbmHz + p.noiseFigureDb + 10.0 * std::log10(std::max(rbwHz, 1e-3));
}

double BenchPhysics::MarkerReadingDbm(const AnalyzerState& analyzer, double markerHz, double t) {
    const PhysicsOptions& p = m_options.physics;
    const double rbwHz = analyzer.rbwHz;
    const double windowHz = std::max(rbwHz, analyzer.spanHz / 2.0);
    auto seen = [&](double frequencyHz) {
        return std::abs(frequencyHz - markerHz) <= rbwHz &&
               std::abs(frequencyHz - analyzer.centerHz) <= windowHz;
    };

    const GeneratorPath& first = FirstPath();
    const GeneratorPath& second = SecondPath();
    const double secondHz = SecondFrequencyHz();
    const double electrical = ElectricalPhaseDeg(secondHz, second.levelDbm, t);

    Carrier carriers[2];
    int count = 0;
    if (first.outputOn && seen(first.frequencyHz)) {
        const double phase =
            first.Modulated() ? first.phaseOffsetDeg + first.waveformPhaseDeg : 0.0;
        carriers[count++] = Carrier{first.frequencyHz, Phasor(first.levelDbm, phase)};
    }
    if (second.outputOn && seen(secondHz)) {
        const double phase =
            (second.Modulated() ? second.phaseOffsetDeg + second.waveformPhaseDeg : 0.0) +
            electrical;
        carriers[count++] = Carrier{secondHz, Phasor(second.levelDbm + p.levelMismatchDb, phase)};
    }
    double powerMw = 0.0;
    if (count == 2 && std::abs(carriers[0].frequencyHz - carriers[1].frequencyHz) < 1e-6) {
        powerMw = std::norm(carriers[0].amplitude + carriers[1].amplitude);
    } else {
        for (int i = 0; i < count; ++i)
            powerMw += std::norm(carriers[i].amplitude);
    }
    powerMw += std::pow(10.0, NoiseFloorDbm(rbwHz) / 10.0);
    return 10.0 * std::log10(powerMw) + p.readingNoiseDb * m_random.Gaussian();
}

}  // namespace sim
