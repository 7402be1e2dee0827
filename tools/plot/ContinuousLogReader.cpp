#include "ContinuousLogReader.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>

namespace korvel {

namespace {

constexpr std::string_view kTitle = "DeltaPhase Measurement Logfile versus Time";
constexpr std::string_view kColumns = "DATE;TIME;";
constexpr int kHeadLines = 4;  // title, frequency and level, column names, first sample
constexpr std::uint64_t kMaxRead = 64u << 20;  // per call, so a huge log cannot stall the window

std::optional<int> Digits(std::string_view text) {
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    int value = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || p != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> Number(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double value = 0.0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || p != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Three numbers separated by sep, e.g. "12/06/26".
bool SplitThree(std::string_view text, char sep, int& a, int& b, int& c) {
    const size_t first = text.find(sep);
    const size_t second = first == std::string_view::npos ? first : text.find(sep, first + 1);
    if (second == std::string_view::npos)
        return false;
    auto x = Digits(text.substr(0, first));
    auto y = Digits(text.substr(first + 1, second - first - 1));
    auto z = Digits(text.substr(second + 1));
    if (!x || !y || !z)
        return false;
    a = *x;
    b = *y;
    c = *z;
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

// The value of phaseDeg (modulo 360) nearest to nearDeg.
double OnBranchOf(double phaseDeg, double nearDeg) {
    return nearDeg + std::remainder(phaseDeg - nearDeg, 360.0);
}

}  // namespace

bool ParseLogTime(std::string_view date, std::string_view time, std::int64_t& civilSeconds) {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (date.size() != 8 || time.size() != 8)
        return false;
    if (!SplitThree(date, '/', month, day, year) || !SplitThree(time, ':', hour, minute, second)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return false;
    }
    year += year < 69 ? 2000 : 1900;  // as strptime reads %y
    civilSeconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

void ContinuousLogReader::Restart() {
    m_data = ContinuousPlotData{};
    m_statistics.Reset();
    m_offset = 0;
    m_lineNumber = 0;
    m_stopped = false;
    m_head.clear();
}

bool ContinuousLogReader::Update() {
    constexpr const char* kMissing = "the file is missing or cannot be read";
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        if (m_lineNumber == 0 && m_data.error == kMissing)
            return false;
        Restart();
        m_data.error = kMissing;
        return true;
    }
    in.seekg(0, std::ios::end);
    const std::uint64_t size = static_cast<std::uint64_t>(in.tellg());
    bool changed = false;

    // A shorter file, or other first lines, is a new run.
    bool replaced = size < m_offset || m_data.error == kMissing;
    if (!replaced && !m_head.empty()) {
        std::string head(m_head.size(), '\0');
        in.seekg(0);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        replaced = !in || head != m_head;
    }
    if (replaced) {
        Restart();
        changed = true;
    }

    if (!m_stopped && size > m_offset) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(m_offset));
        std::string text(static_cast<size_t>(std::min(size - m_offset, kMaxRead)), '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));

        size_t start = 0;
        for (size_t end = text.find('\n'); end != std::string::npos && !m_stopped;
             end = text.find('\n', start)) {
            std::string_view line(text.data() + start, end - start);
            if (m_lineNumber < kHeadLines)
                m_head.append(text, start, end - start + 1);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            start = end + 1;
            Consume(line);
            changed = true;
        }
        m_offset += start;
        if (start == 0 && text.size() == kMaxRead) {
            m_data.loaded = false;
            m_data.error = "line " + std::to_string(m_lineNumber + 1) + " is too long";
            m_stopped = true;
            changed = true;
        }
    }
    if (!m_data.loaded && !m_stopped && m_data.error.empty()) {
        m_data.error = "the header is incomplete";
        changed = true;
    }
    return changed;
}

void ContinuousLogReader::Consume(std::string_view line) {
    ++m_lineNumber;
    switch (m_lineNumber) {
        case 1:
            if (line.find(kTitle) == std::string_view::npos) {
                m_data.error = "line 1 is not the title \"" + std::string(kTitle) + "\"";
                m_stopped = true;
            }
            return;
        case 2: {
            // "Frequency/Hz = <reply> Level/dBm = <reply>"; an empty reply leaves its text empty.
            constexpr std::string_view kFrequency = "Frequency/Hz = ";
            constexpr std::string_view kLevel = " Level/dBm = ";
            const size_t f = line.find(kFrequency);
            const size_t l = line.find(kLevel);
            if (f != std::string_view::npos && l != std::string_view::npos && l >= f) {
                m_data.frequencyText =
                    line.substr(f + kFrequency.size(), l - f - kFrequency.size());
                m_data.levelText = line.substr(l + kLevel.size());
            }
            return;
        }
        case 3:
            if (line.substr(0, kColumns.size()) != kColumns) {
                m_data.error =
                    "line 3 is not the column names \"DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE\"";
                m_stopped = true;
                return;
            }
            m_data.loaded = true;
            m_data.error.clear();
            return;
        default:
            AddSample(line);
    }
}

void ContinuousLogReader::AddSample(std::string_view line) {
    if (line.find_first_not_of(" \t") == std::string_view::npos)
        return;  // a spreadsheet's blank line
    std::string_view fields[5];
    size_t count = 0;
    for (size_t start = 0; count < 5; ++count) {
        const size_t end = line.find(';', start);
        fields[count] = line.substr(start, end == std::string_view::npos ? end : end - start);
        if (end == std::string_view::npos) {
            ++count;
            break;
        }
        start = end + 1;
    }
    ContinuousSample sample;
    std::optional<double> t1, t2, phase;
    if (count == 5) {
        t1 = Number(fields[2]);
        t2 = Number(fields[3]);
        phase = Number(fields[4]);
    }
    if (!phase || !t1 || !t2 || !ParseLogTime(fields[0], fields[1], sample.civilSeconds)) {
        // Kept out of the statistics: a damaged line is no reading.
        if (m_data.unreadableLines++ == 0)
            m_data.firstUnreadableLine = m_lineNumber;
        return;
    }
    sample.temperature1C = *t1;
    sample.temperature2C = *t2;
    sample.phaseDeg = *phase;
    // Each reading goes beside the one before it, so a jump or a drift of several turns stays
    // one continuous line.
    sample.plottedPhaseDeg =
        m_data.samples.empty() ? *phase : OnBranchOf(*phase, m_data.samples.back().plottedPhaseDeg);
    m_statistics.Add(*phase);
    if (m_statistics.Count() > 1) {
        sample.hasStatistics = true;
        // The statistics unwrap as the plot does, from the same first reading.
        sample.meanDeg = m_statistics.Mean();
        sample.deviationDeg = m_statistics.Deviation();
    }
    m_data.samples.push_back(sample);
}

}  // namespace korvel
