#include "CSweepTable.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <string_view>
#include <utility>

#include "FileNames.h"
#include "measure/MeasurePhase.h"

namespace korvel {

namespace {

constexpr const char* kTitle = "DeltaPhase Measurement (Sweep)";
constexpr size_t kMaxCells = 200 * 500 * 4;  // far beyond any sweep, short of exhausting memory

// A number as "%lf" scans it: leading white space skipped. Anything else, and values that are
// not finite, is not a number here.
std::optional<double> ScanNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (ec != std::errc{} || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A step the lookup divides by: it and its reciprocal must both be finite, else the cell index
// becomes NaN or infinite.
bool Usable(double step) {
    return std::isfinite(step) && std::isfinite(1.0 / step);
}

bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

}  // namespace

CSweepTable::CSweepTable(const std::string& fileName) : m_fileName(fileName) {
    if (Load()) {
        m_rawCells = m_cells;
        PrepareRows();
        m_loaded = true;
    } else {
        m_rowCount = m_columnCount = 0;
        m_cells.clear();
        m_lines.clear();
    }
}

bool CSweepTable::Refuse(std::string reason) {
    m_error = std::move(reason);
    return false;
}

bool CSweepTable::Load() {
    std::ifstream in(PathFromText(m_fileName), std::ios::binary);
    if (!in)
        return Refuse("the file is missing or cannot be read");
    std::string line;
    if (!ReadLine(in, line) || line.find(kTitle) == std::string::npos) {
        return Refuse(std::string("line 1 is not the title \"") + kTitle + "\"");
    }
    if (!ReadLine(in, line))
        return Refuse("line 2 (temperatures) is missing");
    std::string header;
    if (!ReadLine(in, header))
        return Refuse("line 3 (frequencies) is missing");
    std::vector<std::string> rows;
    if (!ReadFrequencies(header) || !ReadLevelLines(in, rows))
        return false;
    m_cells.assign(static_cast<size_t>(m_rowCount) * m_columnCount, 0.0);
    for (int i = 0; i < m_rowCount; ++i) {
        if (!ReadLevelLine(i, rows[i]))
            return false;
    }
    if (m_rowCount > 1 && m_levelStep == 0.0)
        return Refuse("line 5: the level step is 0");
    if (m_rowCount > 1 && (!Usable(m_levelStep) || !std::isfinite(LastLevel()))) {
        return Refuse("line 5: the level step is too small or too large to compute with");
    }
    return true;
}

bool CSweepTable::ReadFrequencies(const std::string& header) {
    const size_t firstSemicolon = header.find(';');
    if (firstSemicolon == std::string::npos)
        return Refuse("line 3 (frequencies) has no semicolon");

    // Frequencies: every value after the first semicolon ends with one.
    std::vector<double> frequencies;
    for (size_t at = firstSemicolon + 1; at < header.size();) {
        const size_t end = header.find(';', at);
        if (end == std::string::npos)
            break;  // text after the last semicolon is no column
        if (frequencies.size() < 2) {
            std::optional<double> value = ScanNumber(std::string_view(header).substr(at, end - at));
            if (!value) {
                return Refuse("line 3: frequency " + std::to_string(frequencies.size() + 1) +
                              " is not a number");
            }
            frequencies.push_back(*value);
        } else {
            frequencies.push_back(0.0);
        }
        at = end + 1;
    }
    if (frequencies.empty())
        return Refuse("line 3 has no frequency column");
    m_columnCount = static_cast<int>(std::min<size_t>(frequencies.size(), kMaxCells));
    m_firstFrequency = frequencies[0];
    if (m_columnCount > 1) {
        m_frequencyStep = frequencies[1] - frequencies[0];
        if (m_frequencyStep == 0.0) {
            return Refuse("line 3: the frequency step is 0");  // the fit would divide by zero
        }
        if (!Usable(m_frequencyStep) || !std::isfinite(LastFrequency())) {
            return Refuse("line 3: the frequency step is too small or too large to compute with");
        }
    }
    return true;
}

bool CSweepTable::ReadLevelLines(std::istream& in, std::vector<std::string>& rows) {
    std::string line;
    while (ReadLine(in, line)) {
        rows.push_back(line);
        if (rows.size() * static_cast<size_t>(m_columnCount) > kMaxCells) {
            return Refuse("the table is too large");
        }
    }
    // Empty lines at the end (as a spreadsheet may add) are not level lines.
    while (!rows.empty() && rows.back().find_first_not_of(" \t") == std::string::npos)
        rows.pop_back();
    if (rows.empty())
        return Refuse("no level line follows the frequencies");
    m_rowCount = static_cast<int>(rows.size());
    return true;
}

bool CSweepTable::ReadLevelLine(int i, const std::string& row) {
    // Line i + 4: the level (read from the first two lines only), then one value per frequency.
    const std::string where = "line " + std::to_string(i + 4) + ": ";
    if (row.find_first_not_of(" \t") == std::string::npos) {
        return Refuse("line " + std::to_string(i + 4) + " is empty");
    }
    if (i < 2) {
        std::optional<double> level = ScanNumber(row);
        if (!level)
            return Refuse(where + "the level is not a number");
        if (i == 0)
            m_firstLevel = *level;
        if (i == 1)
            m_levelStep = *level - m_firstLevel;
    }
    size_t semicolon = row.find(';');
    for (int j = 0; j < m_columnCount; ++j) {
        if (semicolon == std::string::npos) {
            return Refuse(where + "fewer values than frequencies");
        }
        std::optional<double> cell = ScanNumber(std::string_view(row).substr(semicolon + 1));
        if (!cell) {
            const bool blank = row.find_first_not_of(" \t", semicolon + 1) == std::string::npos;
            return Refuse(where + (blank ? std::string("fewer values than frequencies")
                                         : "value " + std::to_string(j + 1) + " is not a number"));
        }
        // A point that could not be measured would corrupt the unwrap and the fit.
        if (*cell == kNotMeasured) {
            return Refuse(where + "point " + std::to_string(j + 1) +
                          " was not measured (-999.000)");
        }
        m_cells[static_cast<size_t>(i) * m_columnCount + j] = *cell;
        semicolon = row.find(';', semicolon + 1);
    }
    return true;
}

void CSweepTable::PrepareRows() {
    m_lines.assign(m_rowCount, Line{});
    if (m_columnCount == 1)
        return;
    for (int i = 0; i < m_rowCount; ++i) {
        double* row = &m_cells[static_cast<size_t>(i) * m_columnCount];
        for (int j = 1; j < m_columnCount; ++j) {
            const double d = row[j] - row[j - 1];
            if (std::fabs(d) > 200.0) {
                const double shift = d < 0 ? 360.0 : -360.0;
                for (int m = j; m < m_columnCount; ++m)
                    row[m] += shift;
            }
        }
        const double meanX = m_firstFrequency + (m_columnCount - 1) * m_frequencyStep * 0.5;
        double sumY = 0.0;
        for (int j = 0; j < m_columnCount; ++j)
            sumY += row[j];
        const double meanY = sumY / m_columnCount;
        double sxx = 0.0;
        double sxy = 0.0;
        for (int j = 0; j < m_columnCount; ++j) {
            const double dx = m_firstFrequency + j * m_frequencyStep - meanX;
            sxx += dx * dx;
            sxy += dx * (row[j] - meanY);
        }
        m_lines[i].slope = sxy / sxx;
        m_lines[i].offset = meanY - m_lines[i].slope * meanX;
    }
}

double CSweepTable::EvaluateRow(double x, int row, int mode) const {
    if (!std::isfinite(x))
        return std::nan("");  // no cell lies at a non-finite frequency
    if (mode == Automatic)
        mode = (x < m_firstFrequency || x > LastFrequency()) ? FittedLine : Table;
    if (m_columnCount == 1)
        mode = SingleValue;
    if (row < 0)
        row = 0;
    if (row >= m_rowCount)
        row = m_rowCount - 1;

    double y = 0.0;
    if (mode == SingleValue) {
        y = Cell(row, 0);
    } else if (mode == FittedLine || x < m_firstFrequency || x > LastFrequency()) {
        y = x * m_lines[row].slope + m_lines[row].offset;
    } else {
        const double r = 1.0 / m_frequencyStep;
        // Inside the range the index is at most the last column; rounding may overshoot it.
        const double kd = std::trunc((x - m_firstFrequency) * r);
        const int k =
            kd >= m_columnCount - 1 ? m_columnCount - 1 : (kd > 0.0 ? static_cast<int>(kd) : 0);
        if (k >= m_columnCount - 1) {
            y = Cell(row, m_columnCount - 1);
        } else {
            y = Cell(row, k) + r * ((x - m_firstFrequency - m_frequencyStep * k) *
                                    (Cell(row, k + 1) - Cell(row, k)));
        }
    }
    const double t = (y + 180.0) * 0.002777777777777778;
    return (t - std::trunc(t)) * 360.0;
}

int CSweepTable::Interpolate(double x, double level, double& result, int mode) const {
    if (!m_loaded)
        return NotLoaded;
    if (!std::isfinite(x) || !std::isfinite(level))
        return Unanswered;
    double value = 0.0;
    bool outside = false;
    if (mode == Table && (x < m_firstFrequency || x > LastFrequency()))
        outside = true;
    if (level < m_firstLevel || level > LastLevel())
        outside = true;
    if (m_rowCount == 1) {
        value = EvaluateRow(x, 0, mode);
    } else {
        const double d = level - m_firstLevel;
        const double kd = std::trunc(d / m_levelStep);
        // Far outside the table the row index would not fit an int; the clamp decides anyway.
        const int k = kd < -1.0 ? -1 : (kd > m_rowCount ? m_rowCount : static_cast<int>(kd));
        const double a = EvaluateRow(x, k, mode);
        double b = EvaluateRow(x, k + 1, mode);
        // Lines that straddle the 0/360 wrap must meet on the short way round the circle.
        if (b - a > 180.0) {
            b -= 360.0;
        } else if (b - a < -180.0) {
            b += 360.0;
        }
        // Clamped to one line, the line's value: far away the weight below would be inf * 0.
        value =
            k < 0 || k >= m_rowCount - 1 ? a : a + (b - a) / m_levelStep * (d - m_levelStep * kd);
        // Wrapped as EvaluateRow wraps, keeping the sign; inside (-360, 360) nothing changes.
        value -= 360.0 * std::trunc(value / 360.0);
    }
    // A fitted line far beyond the table can overflow; such an answer is no offset to set.
    if (!std::isfinite(value))
        return Unanswered;
    result = value;
    return outside ? Outside : Inside;
}

}  // namespace korvel
