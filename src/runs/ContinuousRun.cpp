#include "ContinuousRun.h"

#include <cmath>
#include <limits>

#include "FileNames.h"
#include "SearchStatus.h"
#include "SweepFile.h"
#include "instrument/NumberText.h"

namespace korvel {

std::int32_t PeriodTicks(double periodSeconds, std::string* refusal) {
    const double ticks = std::trunc(periodSeconds * 10.0);
    if (!std::isfinite(periodSeconds) || periodSeconds < 0.0 ||
        ticks > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        if (refusal) {
            *refusal =
                "The continuous measurement cannot start: Period/s must be a number from 0 to 214748364.";
        }
        return -1;
    }
    return static_cast<std::int32_t>(ticks);
}

std::string TimeStamp(const std::tm& local) {
    char text[128];
    const size_t n = std::strftime(text, sizeof text, "%m/%d/%y;%H:%M:%S;", &local);
    return std::string(text, n);
}

void PhaseStatistics::Reset() {
    m_count = 0;
    m_oldest = 0;
    m_previous = 0.0;
}

void PhaseStatistics::Add(double phaseDeg) {
    // Against the previous sample, not the first: a jump or a slow drift past 180 degrees from
    // the start must not split the readings into two clusters a turn apart.
    double unwrapped = phaseDeg;
    if (m_count > 0 && std::isfinite(m_previous)) {
        unwrapped = m_previous + std::remainder(phaseDeg - m_previous, 360.0);
    }
    m_previous = unwrapped;
    if (m_count < kMaxSamples) {
        m_samples[m_count++] = unwrapped;
    } else {
        // Full: the newest replaces the oldest, and the statistics cover the last 999.
        m_samples[m_oldest] = unwrapped;
        m_oldest = (m_oldest + 1) % kMaxSamples;
    }
}

double PhaseStatistics::Mean() const {
    double sum = 0.0;
    for (std::int32_t i = 0; i < m_count; ++i)
        sum += m_samples[(m_oldest + i) % kMaxSamples];
    return sum / m_count;
}

double PhaseStatistics::Average() const {
    if (m_count == 0)
        return 0.0;
    double mean = Mean();
    mean -= 360.0 * std::floor(mean / 360.0);
    return mean >= 360.0 ? 0.0 : mean;
}

double PhaseStatistics::Deviation() const {
    if (m_count < 2)
        return 0.0;
    const double mean = Mean();
    double squares = 0.0;
    for (std::int32_t i = 0; i < m_count; ++i) {
        const double d = mean - m_samples[(m_oldest + i) % kMaxSamples];
        squares += d * d;
    }
    const double deviation = std::sqrt(squares / (m_count - 1));
    return deviation < 0.00001 ? 0.0 : deviation;
}

int PhaseStatistics::BarPosition() const {
    // The bar ignores positions beyond its range, so a deviation of 1 degree or more is held
    // at full scale here.
    const double position = std::trunc(Deviation() * 100.0);
    return position > 100.0 ? 100 : static_cast<int>(position);
}

bool ContinuousLog::Open(const std::filesystem::path& path) {
    Close();
    m_file = OpenFile(path, "wb");
    m_failed = false;
    return m_file != nullptr;
}

bool ContinuousLog::WriteLine(const std::string& line) {
    if (!m_file || m_failed)
        return false;
    const std::string text = line + "\r\n";
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() ||
        std::fflush(m_file) != 0) {
        m_failed = true;
    }
    return !m_failed;
}

bool ContinuousLog::Close() {
    if (!m_file)
        return true;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return closed && !m_failed;
}

void ContinuousRun::ResetStatistics() {
    m_statistics.Reset();
    m_shown = Shown{};
    m_window.SetProgress(ProgressBarId::Deviation, 0, 100, 0);
}

bool ContinuousRun::Open(const std::filesystem::path& path, std::int32_t periodTicks) {
    m_periodTicks = periodTicks;
    m_tickCounter = 0;
    m_fellBack = 0;
    m_logged = 0;
    m_skippedInARow = 0;
    return m_log.Open(path);
}

bool ContinuousRun::WriteHeader() {
    bool written = m_log.WriteLine("DeltaPhase Measurement Logfile versus Time");
    if (m_instruments.generator1) {
        const std::string frequency = m_instruments.generator1->Query("FREQ?");
        const std::string level = m_instruments.generator1->Query("SOUR:POW:LEV?");
        written =
            m_log.WriteLine("Frequency/Hz = " + frequency + " Level/dBm = " + level) && written;
    }
    return m_log.WriteLine("DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE") && written;
}

bool ContinuousRun::Due() {
    if (++m_tickCounter < m_periodTicks)
        return false;
    m_tickCounter = 0;
    return true;
}

ContinuousRun::Sample ContinuousRun::Take(const MeasureOptions& options, double& phaseResult,
                                          std::string& status) {
    MeasureReport report;
    const double measured = MeasurePhase(m_instruments, options, phaseResult, m_window, &report);
    m_fellBack += report.fellBack;
    if (measured == kNotMeasured) {
        // The phase display still holds an earlier reading: it is no new sample.
        status =
            "Sample skipped: no measurement (" +
            (report.failure.empty() ? std::string("instrument not connected") : report.failure) +
            ")" + SearchSuffix(options.search, m_fellBack);
        m_window.Refresh();
        ++m_skippedInARow;
        return Sample::Skipped;
    }
    const double sample = phaseResult;
    if (const std::string running = RunningText(options.search); status != running) {
        status = running;
        m_window.Refresh();
    }
    m_statistics.Add(sample);
    m_shown.sampleCount = m_statistics.Count();
    if (m_shown.sampleCount > 1) {
        m_shown.averagePhase = m_statistics.Average();
        m_shown.deviation = m_statistics.Deviation();
        m_window.SetProgress(ProgressBarId::Deviation, 0, 100, m_statistics.BarPosition());
        m_window.Refresh();
    }
    std::string line = TimeStamp(m_localTime());
    line += TemperatureLine(options.useRfB);
    line += FormatFixed(sample, 3);
    if (!m_log.WriteLine(line))
        return Sample::LogFailed;
    ++m_logged;
    m_skippedInARow = 0;
    return Sample::Logged;
}

std::string ContinuousRun::RunningText(Search search) const {
    return kContinuousRunning + SearchSuffix(search, m_fellBack);
}

std::string ContinuousRun::TemperatureLine(bool useRfB) {
    // With one generator, or without generator 2, its column repeats generator 1's.
    const std::string temperature1 =
        m_instruments.generator1
            ? FormatFixed(ReadGeneratorTemperature(*m_instruments.generator1,
                                                   m_instruments.generator1IsVrt),
                          3) +
                  ";"
            : "0.000;";
    if (useRfB || !m_instruments.generator2)
        return temperature1 + temperature1;
    return temperature1 +
           FormatFixed(
               ReadGeneratorTemperature(*m_instruments.generator2, m_instruments.generator2IsVrt),
               3) +
           ";";
}

}  // namespace korvel
