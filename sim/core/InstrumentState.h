// Plain settings of the simulated instruments, as the models hold them and tests inspect them.
#pragma once

#include <array>
#include <map>
#include <string>

namespace sim {

enum class LoMode { Internal, Coupled, External };

struct GeneratorPath {
    double frequencyHz = 1e9;
    double levelDbm = -30.0;
    double phaseOffsetDeg = 0.0;  // BB:POFF as set (not wrapped)
    bool outputOn = false;
    bool iqOn = false;
    bool arbOn = false;
    bool alcOn = true;
    std::string waveform;        // selected file name, empty when none
    bool waveformValid = false;  // the selected file is a waveform this generator can play
    double waveformPhaseDeg = 0.0;
    LoMode loMode = LoMode::Internal;
    bool loOutputOn = false;

    // The path's carrier phase follows BB:POFF only while the ARB plays a valid waveform
    // through the I/Q modulator.
    bool Modulated() const { return iqOn && arbOn && waveformValid; }
};

struct GeneratorState {
    std::array<GeneratorPath, 2> paths;  // RF A (source 1) and RF B (source 2)
    bool externalReference = false;
    std::string currentDirectory;
    std::map<std::string, std::string> files;  // mass memory of the list directory, by file name
};

struct AnalyzerMarker {
    bool on = false;
    double frequencyHz = 13.25e9;
    int trace = 1;
};

struct AnalyzerState {
    double centerHz = 13.25e9;
    double spanHz = 26.5e9;
    double rbwHz = 3e6;
    bool rbwAuto = true;
    double vbwHz = 3e6;
    bool vbwAuto = true;
    double sweepTimeS = 0.01;
    bool sweepTimeAuto = true;
    double yRangeDb = 100.0;
    double referenceLevelDbm = 0.0;
    bool continuous = true;
    std::array<AnalyzerMarker, 4> markers;
    int completedSweeps = 0;
};

}  // namespace sim
