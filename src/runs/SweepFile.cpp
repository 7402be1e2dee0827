#include "SweepFile.h"

#include <cstdio>
#include <system_error>

#include "NumberText.h"

double ReadGeneratorTemperature(CVisaDevice& generator, bool vrtFamily) {
    if (vrtFamily) return ParseLeadingDouble(generator.Query("DIAG1:MEAS:POIN? 'DIAG_VECBRD_TEMP2';*OPC?"));
    return ParseLeadingDouble(generator.Query("DIAG1:MEAS:POIN? 'DIAG_DACIF_TEMP_SENSOR';*OPC?")) * 100.0;
}

namespace {

class LineWriter {
public:
    explicit LineWriter(std::FILE* file) : m_file(file) {}
    void Text(const std::string& text) {
        if (m_ok && std::fwrite(text.data(), 1, text.size(), m_file) != text.size()) m_ok = false;
    }
    void Value(double value, int decimals) { Text(FormatFixed(value, decimals) + ";"); }
    void End() { Text("\r\n"); }
    bool Ok() const { return m_ok; }

private:
    std::FILE* m_file;
    bool m_ok = true;
};

}  // namespace

std::string WriteSweepFile(const std::filesystem::path& path, const SweepGrid& grid, const double* table,
                           bool useRfB, const std::function<double(int generator)>& temperature) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
    if (!file) return kSweepFileError;

    LineWriter out(file);
    out.Text("DeltaPhase Measurement (Sweep)");
    out.End();
    out.Text("Temperature Generator 1/Degree = ");
    out.Value(temperature(1), 3);
    if (!useRfB) {
        out.Text("Temperature Generator 2/Degree = ");
        out.Value(temperature(2), 3);
    }
    out.End();
    out.Text("Level ;");
    for (int c = 0; c < grid.frequencyCount; ++c) out.Value(grid.startFrequencyMHz + c * grid.frequencyStepMHz, 2);
    out.End();
    for (int r = 0; r < grid.levelCount; ++r) {
        out.Value(grid.startLevelDbm + r * grid.levelStepDbm, 2);
        for (int c = 0; c < grid.frequencyCount; ++c) out.Value(table[r * kMaxFrequencyPoints + c], 3);
        out.End();
    }
    const bool written = out.Ok() && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written && closed) {
        std::filesystem::rename(temporary, path, error);
        if (!error) return kSweepFileWritten;
    }
    std::filesystem::remove(temporary, error);
    return kSweepFileError;
}
