// A signal generator of the VRx family with two paths (RF A = source 1, RF B = source 2).
// Models outside the VRT family report their temperature point in hundredths; the VRTK model
// keeps its lists under a Unix path.
#pragma once

#include <string>

#include "InstrumentState.h"
#include "ScpiInstrument.h"

namespace sim {

class GeneratorModel : public ScpiInstrument {
public:
    static constexpr double kMinFrequencyHz = 100e3;
    static constexpr double kMaxFrequencyHz = 6e9;
    static constexpr double kMinLevelDbm = -145.0;
    static constexpr double kMaxLevelDbm = 20.0;
    static constexpr double kMaxPhaseOffsetDeg = 999.99;
    static constexpr size_t kMaxFileBytes = 1 << 20;

    GeneratorModel(InstrumentId id, std::string identification, std::mutex& benchMutex,
                   SimClock& clock, const BenchOptions& options);

    // Under the bench lock.
    const GeneratorState& State() const { return m_state; }
    // The model field of the identification starts with "VRT".
    bool VrtFamily() const { return m_vrtFamily; }
    // The only directory of the mass memory.
    const std::string& ListDirectory() const { return m_listDirectory; }

protected:
    void Reset() override;

private:
    void AddCommands();
    void AddSynthesizerCommands();  // frequency, level, reference and local oscillator
    void AddBasebandCommands();     // phase offset, waveform, ARB, I/Q and the outputs
    void AddMemoryCommands();
    void AddDiagnosticCommands();
    // A numeric setting of one path bound to member: limits, default and unit from rule; a change
    // keeps *OPC? waiting for the settle time. The query answers the member unless given.
    void AddPathNumber(const std::string& pattern, const NumericRule& rule,
                       double GeneratorPath::*member, double TimingOptions::*settleMs,
                       ScpiHandler query = {});
    // A boolean setting of one path.
    void AddPathFlag(const std::string& pattern, bool GeneratorPath::*member);
    GeneratorPath& Path(ScpiCall& call) {
        return m_state.paths[static_cast<size_t>(call.Suffix("SOURCE") - 1)];
    }
    // The file name part of name if name lies in the list directory (or has no directory).
    bool FileInListDirectory(const std::string& name, std::string& file) const;
    bool SameDirectory(const std::string& a, const std::string& b) const;
    void SelectWaveform(GeneratorPath& path, const std::string& file);

    InstrumentId m_id;
    const BenchOptions& m_options;
    GeneratorState m_state;
    bool m_vrtFamily = false;
    std::string m_listDirectory;
};

}  // namespace sim
