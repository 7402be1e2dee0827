#include "SweepFile.h"

#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "FileNames.h"
#include "instrument/NumberText.h"

namespace korvel {

double ReadGeneratorTemperature(CVisaDevice& generator, bool vrtFamily) {
    if (vrtFamily)
        return ParseLeadingDouble(generator.Query("DIAG1:MEAS:POIN? 'DIAG_VECBRD_TEMP2';*OPC?"));
    return ParseLeadingDouble(generator.Query("DIAG1:MEAS:POIN? 'DIAG_DACIF_TEMP_SENSOR';*OPC?")) *
           100.0;
}

namespace {

std::string Head(const SweepGrid& grid, bool useRfB, double temperature1, double temperature2) {
    std::string text = "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = " +
                       FormatFixed(temperature1, 3) + ";";
    if (!useRfB)
        text += "Temperature Generator 2/Degree = " + FormatFixed(temperature2, 3) + ";";
    text += "\r\nLevel ;";
    for (int c = 0; c < grid.frequencyCount; ++c)
        text += FormatFixed(grid.startFrequencyMHz + c * grid.frequencyStepMHz, 2) + ";";
    return text + "\r\n";
}

std::string LevelLine(const SweepGrid& grid, const double* table, int level) {
    std::string text = FormatFixed(grid.startLevelDbm + level * grid.levelStepDbm, 2) + ";";
    for (int c = 0; c < grid.frequencyCount; ++c)
        text += FormatFixed(table[level * kMaxFrequencyPoints + c], 3) + ";";
    return text + "\r\n";
}

bool Put(std::FILE* file, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

// Down to the device: a power cut after this loses nothing written.
bool Sync(std::FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#elif defined(__linux__)
    return ::fdatasync(fileno(file)) == 0;
#else
    return ::fsync(fileno(file)) == 0;
#endif
}

}  // namespace

std::string WriteSweepFile(const std::filesystem::path& path, const SweepGrid& grid,
                           const double* table, bool useRfB,
                           const std::function<double(int generator)>& temperature) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    std::FILE* file = OpenFile(temporary, "wb");
    if (!file)
        return kSweepFileError;

    const double temperature1 = temperature(1);
    const double temperature2 = useRfB ? 0.0 : temperature(2);
    bool written = Put(file, Head(grid, useRfB, temperature1, temperature2));
    for (int r = 0; r < grid.levelCount && written; ++r)
        written = Put(file, LevelLine(grid, table, r));
    written = written && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written && closed) {
        std::filesystem::rename(temporary, path, error);
        if (!error)
            return kSweepFileWritten;
    }
    std::filesystem::remove(temporary, error);
    return kSweepFileError;
}

bool SweepJournal::Open(const std::filesystem::path& path, const SweepGrid& grid,
                        const double* table, bool useRfB) {
    Close(false);
    m_file = OpenFile(path, "wb");
    if (!m_file)
        return false;
    m_path = path;
    m_grid = grid;
    m_failed = false;
    // The generators are not asked for temperatures during the sweep: the journal adds no traffic.
    const std::string head = Head(grid, useRfB, 0.0, 0.0);
    m_unreached.clear();
    for (int c = 0; c < grid.frequencyCount; ++c)
        m_unreached += "0.000;";
    m_unreached += "\r\n";
    m_failed = !Put(m_file, head);
    m_level = 0;
    m_levelOffset = static_cast<long>(head.size());
    m_size = m_levelOffset;
    return WriteFrom(table, 0);
}

bool SweepJournal::Update(const double* table, int level) {
    if (!m_file || m_failed)
        return false;
    return WriteFrom(table, level);
}

bool SweepJournal::WriteFrom(const double* table, int level) {
    // From the first line that may have changed since the last update, to the end.
    std::string text;
    long offset = m_levelOffset;
    for (int r = m_level; r < m_grid.levelCount; ++r) {
        if (r == level)
            offset = m_levelOffset + static_cast<long>(text.size());
        if (r <= level) {
            text += LevelLine(m_grid, table, r);
        } else {  // not reached yet: only the level is formatted, the cells are the same every time
            text +=
                FormatFixed(m_grid.startLevelDbm + r * m_grid.levelStepDbm, 2) + ";" + m_unreached;
        }
    }
    const long end = m_levelOffset + static_cast<long>(text.size());
    bool ok = !m_failed && std::fseek(m_file, m_levelOffset, SEEK_SET) == 0 && Put(m_file, text) &&
              std::fflush(m_file) == 0;
    if (ok && end < m_size) {
        std::error_code error;
        std::filesystem::resize_file(m_path, static_cast<std::uintmax_t>(end), error);
        ok = !error;
    }
    ok = ok && Sync(m_file);
    m_failed = !ok;
    if (ok && level > m_level) {
        m_level = level;
        m_levelOffset = offset;
    }
    m_size = end;
    return ok;
}

void SweepJournal::Close(bool remove) {
    if (!m_file)
        return;
    std::fclose(m_file);
    m_file = nullptr;
    std::error_code ignored;
    if (remove)
        std::filesystem::remove(m_path, ignored);
}

bool KeepOldJournal(const std::filesystem::path& path, std::string& kept) {
    kept.clear();
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return true;
    const std::string stem = std::filesystem::path(kSweepFileName).stem().string();
    for (int n = 1; n < 100000; ++n) {
        const std::string name = stem + ".interrupted-" + std::to_string(n) + ".csv";
        const std::filesystem::path target = path.parent_path() / name;
        if (std::filesystem::exists(target, error))
            continue;
        std::filesystem::rename(path, target, error);
        if (error)
            return false;
        kept = name;
        return true;
    }
    return false;
}

}  // namespace korvel
