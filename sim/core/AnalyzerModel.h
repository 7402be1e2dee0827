// A spectrum analyzer of the ZAx family: centre, span, bandwidths with automatic coupling,
// single and continuous sweeps, four markers, and the simulator-only truth query.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "InstrumentState.h"
#include "ScpiInstrument.h"

namespace sim {

class BenchPhysics;

class AnalyzerModel : public ScpiInstrument {
public:
    static constexpr double kMaxFrequencyHz = 26.5e9;

    AnalyzerModel(std::string identification, std::mutex& benchMutex, SimClock& clock,
                  const BenchOptions& options, BenchPhysics& physics);

    // Under the bench lock.
    const AnalyzerState& State() const { return m_state; }

protected:
    void Reset() override;

private:
    using Readings = std::array<double, 4>;  // per marker, dBm
    struct Sweep {
        double endS = 0.0;
        Readings readings{};
    };

    void AddCommands();
    // Applies the automatic couplings (RBW from span, VBW from RBW, sweep time from both).
    void Couple();
    Readings Measure(double t);
    // Marker readings of the last sweep completed by now.
    Readings Current();

    const BenchOptions& m_options;
    BenchPhysics& m_physics;
    AnalyzerState m_state;
    std::optional<Sweep> m_running;
    std::optional<Readings> m_completed;
};

}  // namespace sim
