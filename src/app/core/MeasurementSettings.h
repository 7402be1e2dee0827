// The fourteen persisted settings, named by their store keys, and their load and save.
#pragma once

#include <cstdint>
#include <string>

#include "measure/MeasurePhase.h"

namespace korvel {

struct MeasurementSettings {
    std::string VisaGenerator1 = "28";
    std::string VisaGenerator2 = "27";
    std::int32_t UseRF_B = 1;  // a 32-bit integer used as bool
    std::string VisaAnalyzer = "20";
    double StartFreq = 10.0;    // MHz
    double StopFreq = 2000.0;   // MHz
    double StepFreq = 10.0;     // MHz
    double StartLevel = -40.0;  // dBm
    double StopLevel = 10.0;    // dBm
    double StepLevel = 5.0;     // dBm
    double Period = 10.0;       // s
    std::uint32_t Average = 1;  // passes; not held against the window's limits when loaded
    std::int32_t PhaseRotation = 1;
    korvel::Search Search = korvel::Search::Standard;  // stored as "standard" or "fast"
};

// A section-less per-user key/value profile: texts and 32-bit integers.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::string ReadString(const std::string& key, const std::string& defaultValue) = 0;
    // The stored 32-bit value, or defaultValue when the key is missing or holds no such value.
    virtual std::uint32_t ReadInteger(const std::string& key, std::uint32_t defaultValue) = 0;
    virtual void WriteString(const std::string& key, const std::string& value) = 0;
    virtual void WriteInteger(const std::string& key, std::uint32_t value) = 0;
};

// Reads the keys in declaration order; doubles are texts read as atof reads them. A Search text
// other than "fast" (missing, hand-edited) means the standard search.
MeasurementSettings LoadSettings(SettingsStore& store);
// Writes the texts, UseRF_B, the doubles as "%lf" texts, then Average, PhaseRotation and
// Search.
void SaveSettings(const MeasurementSettings& settings, SettingsStore& store);

}  // namespace korvel
