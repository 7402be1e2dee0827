// "PhaseLogSweep.csv": the result table of a sweep, and the generators' temperatures.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "CVisaDevice.h"

constexpr const char* kSweepFileName = "PhaseLogSweep.csv";
constexpr const char* kSweepFileWritten = "File PhaseLogSweep.csv written";
constexpr const char* kSweepFileError = "Error writing PhaseLogSweep.csv (opended with another program?)";

constexpr int kMaxLevelPoints = 200;
constexpr int kMaxFrequencyPoints = 500;

// The temperature in degrees: the vector board's sensor on VRT-family generators, the DAC/IF
// sensor (in hundredths of a degree) on the others. 0 when the reply holds no number.
double ReadGeneratorTemperature(CVisaDevice& generator, bool vrtFamily);

struct SweepGrid {
    double startFrequencyMHz = 0.0;
    double frequencyStepMHz = 0.0;
    int frequencyCount = 0;
    double startLevelDbm = 0.0;
    double levelStepDbm = 0.0;
    int levelCount = 0;
};

// Writes the grid's block of table (row r, column c at r * kMaxFrequencyPoints + c) to path.
// temperature(1) and temperature(2) are asked only once the file could be opened; generator 2's
// only without RF B. The file is written beside its final name and renamed into place only when
// every write succeeded, so a failure leaves the previous file intact. Returns the status text.
std::string WriteSweepFile(const std::filesystem::path& path, const SweepGrid& grid, const double* table,
                           bool useRfB, const std::function<double(int generator)>& temperature);
