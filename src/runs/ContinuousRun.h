// The continuous measurement: one sample per period at the present frequency and level, with
// running statistics and "PhaseLogCont.csv" written through line by line.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "instrument/Instruments.h"
#include "instrument/Window.h"
#include "measure/MeasurePhase.h"

namespace korvel {

constexpr const char* kContinuousFileName = "PhaseLogCont.csv";
constexpr const char* kContinuousFileWritten = "File PhaseLogCont.csv written";
constexpr const char* kContinuousFileError =
    "Error writing PhaseLogCont.csv (opended with another program?)";
constexpr const char* kContinuousRunning = "Continuous measurement logging to PhaseLogCont.csv";
constexpr int kMaxSamples = 999;

// Period in timer ticks of 100 ms, or -1 with a reason when the period cannot be used.
std::int32_t PeriodTicks(double periodSeconds, std::string* refusal);

// "%x;%X;" of the C locale for a local time: 12/06/26;04:03:17;
std::string TimeStamp(const std::tm& local);

// Running statistics over the last 999 samples, each unwrapped to within 180 degrees of the
// sample before it, so that the sequence stays continuous across 0/360, jumps and long drifts.
// Only the displayed average is wrapped.
class PhaseStatistics {
public:
    void Reset();
    void Add(double phaseDeg);
    std::int32_t Count() const { return m_count; }
    double Average() const;    // wrapped into [0, 360)
    double Mean() const;       // the same, unwrapped: beside the latest samples
    double Deviation() const;  // sample standard deviation; below 0.00001 it is 0
    int BarPosition() const;   // deviation in hundredths of a degree, 0 to 100

private:
    std::array<double, kMaxSamples> m_samples{};  // unwrapped, oldest at m_oldest once full
    std::int32_t m_count = 0;
    int m_oldest = 0;
    double m_previous = 0.0;  // the last sample, unwrapped
};

// The log file, written through after every line so that a crash loses nothing logged.
class ContinuousLog {
public:
    ~ContinuousLog() { Close(); }
    bool Open(const std::filesystem::path& path);
    bool WriteLine(const std::string& line);  // appends CR LF; false when the write failed
    bool Close();                             // false when closing failed
    bool IsOpen() const { return m_file != nullptr; }

private:
    std::FILE* m_file = nullptr;
    bool m_failed = false;
};

// The run itself: the statistics as the window shows them, the log with its header, and the
// period counted in timer ticks. The owner keeps the run flag, the status line's other texts and
// the buttons; the sessions and the window are the owner's, borrowed for the run's life.
class ContinuousRun {
public:
    using LocalTime = std::function<std::tm()>;

    ContinuousRun(Instruments& instruments, Window& window)
        : m_instruments(instruments), m_window(window) {}
    // The local time of the log's time stamps.
    void SetLocalTime(LocalTime localTime) { m_localTime = std::move(localTime); }

    // Empties the statistics and the deviation bar.
    void ResetStatistics();
    // Opens the log for one sample every periodTicks; false when it cannot be opened.
    bool Open(const std::filesystem::path& path, std::int32_t periodTicks);
    // The header, with generator 1's frequency and level when there is a generator 1; false
    // when a line could not be written.
    bool WriteHeader();
    // Counts one timer tick; true when the period is complete and a sample is due.
    bool Due();

    enum class Sample { Skipped, Logged, LogFailed };
    // Measures one sample into phaseResult, adds it to the statistics and logs it with the
    // generators' temperatures. A measurement that fails is no sample: status says why.
    Sample Take(const MeasureOptions& options, double& phaseResult, std::string& status);
    // The running text, with the fast search's suffix and this run's fall-backs when chosen.
    std::string RunningText(Search search) const;
    // Closes the log; false when a write or the close failed.
    bool Close() { return m_log.Close(); }

    // The statistics as the window shows them, which it binds to its fields; a run's first
    // sample leaves average and deviation as they were.
    struct Shown {
        std::int32_t sampleCount = 0;
        double averagePhase = 0.0;
        double deviation = 0.0;
    };
    Shown& Display() { return m_shown; }
    const Shown& Display() const { return m_shown; }
    std::int32_t PeriodInTicks() const { return m_periodTicks; }
    // Samples of this run written to the log, samples skipped since the last one logged, and
    // passes that fell back.
    int Logged() const { return m_logged; }
    int SkippedInARow() const { return m_skippedInARow; }
    int FellBack() const { return m_fellBack; }

private:
    std::string TemperatureLine(bool useRfB);

    Instruments& m_instruments;
    Window& m_window;
    PhaseStatistics m_statistics;
    ContinuousLog m_log;
    Shown m_shown;
    std::int32_t m_periodTicks = 0;
    std::int32_t m_tickCounter = 0;
    int m_fellBack = 0;  // passes of this run that fell back
    int m_logged = 0;
    int m_skippedInARow = 0;
    LocalTime m_localTime = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        return local;
    };
};

}  // namespace korvel
