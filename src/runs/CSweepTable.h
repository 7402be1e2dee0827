// The last sweep file read back: unwrapped along each level line, a straight line fitted to each,
// with the lookup that interpolates between points and lines and extrapolates beyond them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace korvel {

class CSweepTable {
public:
    enum EvaluationMode { Table = 0, SingleValue = 1, FittedLine = 2, Automatic = 3 };
    // Unanswered: a frequency or level that is not finite, or a lookup that overflows; the
    // result is then untouched, as when not loaded.
    enum InterpolateResult { Inside = 0, Outside = 1, NotLoaded = 2, Unanswered = 3 };

    explicit CSweepTable(const std::string& fileName);

    bool IsLoaded() const { return m_loaded; }
    // Why the file was refused, for the user; empty once loaded.
    const std::string& Error() const { return m_error; }
    int RowCount() const { return m_rowCount; }
    int ColumnCount() const { return m_columnCount; }
    double FirstLevel() const { return m_firstLevel; }
    double LevelStep() const { return m_levelStep; }
    double FirstFrequency() const { return m_firstFrequency; }
    double FrequencyStep() const { return m_frequencyStep; }
    double Cell(int row, int column) const {
        return m_cells[static_cast<size_t>(row) * m_columnCount + column];
    }
    // The cell as the file holds it, before the unwrap.
    double RawCell(int row, int column) const {
        return m_rawCells[static_cast<size_t>(row) * m_columnCount + column];
    }
    double Slope(int row) const { return m_lines[row].slope; }
    double Offset(int row) const { return m_lines[row].offset; }

    // The row's cancellation offset at frequencyMHz, plus 180 degrees, wrapped; NaN for a
    // frequency that is not finite.
    double EvaluateRow(double frequencyMHz, int row, int mode) const;
    // The in-phase offset at frequency and level; result untouched when not loaded or unanswered.
    int Interpolate(double frequencyMHz, double levelDbm, double& result, int mode) const;

private:
    struct Line {
        double slope = 0.0;   // degrees per MHz
        double offset = 0.0;  // degrees
    };
    // Load reads the title and temperature lines, then the parts below; each refuses the file
    // with the reason at its first fault.
    bool Load();
    bool ReadFrequencies(const std::string& header);  // line 3: first frequency and step
    bool ReadLevelLines(std::istream& in, std::vector<std::string>& rows);
    bool ReadLevelLine(int i, const std::string& row);
    bool Refuse(std::string reason);
    void PrepareRows();
    double LastFrequency() const {
        return m_firstFrequency + (m_columnCount - 1) * m_frequencyStep;
    }
    double LastLevel() const { return m_firstLevel + (m_rowCount - 1) * m_levelStep; }

    std::string m_fileName;
    int m_rowCount = 0;
    int m_columnCount = 0;
    double m_firstLevel = 0.0;
    double m_levelStep = 0.0;
    double m_firstFrequency = 0.0;
    double m_frequencyStep = 0.0;
    std::vector<double> m_cells;
    std::vector<double> m_rawCells;
    std::vector<Line> m_lines;
    bool m_loaded = false;
    std::string m_error;
};

}  // namespace korvel
