// Reads "PhaseLogCont.csv" while a continuous measurement writes it: each call takes only the
// lines appended since the last one, and starts over when a new run has replaced the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runs/ContinuousRun.h"

namespace korvel {

struct ContinuousSample {
    // The logged local date and time as seconds since 1970-01-01 00:00:00 of the same clock;
    // the log names no time zone.
    std::int64_t civilSeconds = 0;
    double temperature1C = 0.0;
    double temperature2C = 0.0;
    double phaseDeg = 0.0;         // as logged
    double plottedPhaseDeg = 0.0;  // within 180 degrees of the run's first reading, as the
                                   // statistics take it, so readings around 0/360 stay together
    // The window shows statistics from the second sample on; mean on the plotted branch.
    bool hasStatistics = false;
    double meanDeg = 0.0;
    double deviationDeg = 0.0;
};

struct ContinuousPlotData {
    bool loaded = false;        // the three header lines are there
    std::string error;          // why not, when not loaded
    std::string frequencyText;  // the generator's replies of line 2, as logged
    std::string levelText;
    std::vector<ContinuousSample> samples;
    int unreadableLines = 0;
    int firstUnreadableLine = 0;  // 1-based, 0 when none
};

class ContinuousLogReader {
public:
    explicit ContinuousLogReader(std::string path) : m_path(std::move(path)) {}

    // True when the data changed. A line still being written (no line end yet) waits for the
    // next call.
    bool Update();
    const ContinuousPlotData& Data() const { return m_data; }

private:
    void Restart();
    void Consume(std::string_view line);
    void AddSample(std::string_view line);

    std::string m_path;
    ContinuousPlotData m_data;
    PhaseStatistics m_statistics;
    std::uint64_t m_offset = 0;  // just after the last whole line taken
    int m_lineNumber = 0;        // lines taken
    bool m_stopped = false;      // a bad header: nothing more is read from this file
    // The header and the first sample as read: a new run rewrites them (another time stamp at
    // least), which tells a replaced file from a grown one.
    std::string m_head;
};

// "12/06/26" and "04:03:17" (month/day/two-digit year, 24-hour time) as civil seconds.
bool ParseLogTime(std::string_view date, std::string_view time, std::int64_t& civilSeconds);

}  // namespace korvel
