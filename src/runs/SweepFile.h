// "PhaseLogSweep.csv": the result table of a sweep, and the generators' temperatures.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "instrument/CVisaDevice.h"

namespace korvel {

constexpr const char* kSweepFileName = "PhaseLogSweep.csv";
constexpr const char* kSweepFileWritten = "File PhaseLogSweep.csv written";
constexpr const char* kSweepFileError =
    "Error writing PhaseLogSweep.csv (opended with another program?)";
constexpr const char* kSweepJournalName = "PhaseLogSweep.partial.csv";

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
std::string WriteSweepFile(const std::filesystem::path& path, const SweepGrid& grid,
                           const double* table, bool useRfB,
                           const std::function<double(int generator)>& temperature);

// The journal of a running sweep, beside the sweep file and in its format (temperatures and
// unmeasured cells 0.000), written through and synced after every point so that a crash or a
// power cut loses no measured point. Lines above the one being measured never change again, so
// an update rewrites the file only from that line on.
class SweepJournal {
public:
    SweepJournal() = default;
    ~SweepJournal() { Close(false); }
    SweepJournal(const SweepJournal&) = delete;
    SweepJournal& operator=(const SweepJournal&) = delete;

    // Creates the journal for the grid from the table (laid out as for WriteSweepFile) just
    // cleared. False when it cannot be written.
    bool Open(const std::filesystem::path& path, const SweepGrid& grid, const double* table,
              bool useRfB);
    // Writes the table from level line `level` (that of the newest point) on; the lines after it
    // are not reached yet and read 0.000. False once a write failed.
    bool Update(const double* table, int level);
    // Closes the file; with remove, deletes it too.
    void Close(bool remove);
    bool IsOpen() const { return m_file != nullptr; }

private:
    bool WriteFrom(const double* table, int level);

    std::FILE* m_file = nullptr;
    std::filesystem::path m_path;
    SweepGrid m_grid;
    std::string m_unreached;  // the cells of a line not reached yet
    int m_level = 0;          // the first line that may still change
    long m_levelOffset = 0;   // where it starts
    long m_size = 0;
    bool m_failed = false;
};

// Moves the journal an interrupted sweep left at path out of the way, to the first free
// "PhaseLogSweep.interrupted-N.csv" beside it, so that a new sweep does not overwrite it.
// Returns false when a journal is there and cannot be moved; kept gets the new file name.
bool KeepOldJournal(const std::filesystem::path& path, std::string& kept);

}  // namespace korvel
