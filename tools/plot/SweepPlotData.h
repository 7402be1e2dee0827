// What the sweep plot shows of "PhaseLogSweep.csv", taken from the same CSweepTable that the
// adjustment to 0 degrees uses, so the plot never disagrees with what the adjustment reads.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvel {

struct SweepLevelLine {
    double levelDbm = 0.0;
    std::vector<double> rawPhaseDeg;        // as the file holds them, 0 to 360
    std::vector<double> unwrappedPhaseDeg;  // after the loader's unwrap
    double slopeDegPerMHz = 0.0;
    double offsetDeg = 0.0;
};

struct SweepPlotData {
    bool loaded = false;
    std::string error;  // the loader's reason when not loaded
    std::vector<double> frequenciesMHz;
    std::vector<SweepLevelLine> levels;
    // From line 2; generator 2 is absent when one generator drives both paths.
    std::optional<double> temperature1C;
    std::optional<double> temperature2C;
};

SweepPlotData LoadSweepPlot(const std::string& path);

// The temperatures of line 2: "Temperature Generator 1/Degree = 35.200;Temperature Generator
// 2/Degree = 36.100;". A generator whose value is absent or not a number gives nothing.
void ParseSweepTemperatures(const std::string& line, std::optional<double>& generator1C,
                            std::optional<double>& generator2C);

}  // namespace korvel
