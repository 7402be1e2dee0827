#include "SweepPlotData.h"

#include <charconv>
#include <cmath>
#include <fstream>

#include "runs/CSweepTable.h"

namespace korvel {

namespace {

std::optional<double> NumberAfter(const std::string& line, const std::string& label) {
    const size_t at = line.find(label);
    if (at == std::string::npos)
        return std::nullopt;
    const char* p = line.data() + at + label.size();
    const char* end = line.data() + line.size();
    while (p < end && *p == ' ')
        ++p;
    double value = 0.0;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc{} || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

void ParseSweepTemperatures(const std::string& line, std::optional<double>& generator1C,
                            std::optional<double>& generator2C) {
    generator1C = NumberAfter(line, "Temperature Generator 1/Degree =");
    generator2C = NumberAfter(line, "Temperature Generator 2/Degree =");
}

SweepPlotData LoadSweepPlot(const std::string& path) {
    SweepPlotData data;
    const CSweepTable table(path);
    if (!table.IsLoaded()) {
        data.error = table.Error();
        return data;
    }
    data.loaded = true;
    const int columns = table.ColumnCount();
    for (int c = 0; c < columns; ++c) {
        data.frequenciesMHz.push_back(table.FirstFrequency() + c * table.FrequencyStep());
    }
    for (int r = 0; r < table.RowCount(); ++r) {
        SweepLevelLine line;
        line.levelDbm = table.FirstLevel() + r * table.LevelStep();
        for (int c = 0; c < columns; ++c) {
            line.rawPhaseDeg.push_back(table.RawCell(r, c));
            line.unwrappedPhaseDeg.push_back(table.Cell(r, c));
        }
        line.slopeDegPerMHz = table.Slope(r);
        line.offsetDeg = table.Offset(r);
        data.levels.push_back(std::move(line));
    }

    // The loader skips line 2; the temperatures are for the title only.
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (std::getline(in, line) && std::getline(in, line)) {
        ParseSweepTemperatures(line, data.temperature1C, data.temperature2C);
    }
    return data;
}

}  // namespace korvel
