// The continuous measurement: one sample per period at the present frequency and level, with
// running statistics and "PhaseLogCont.csv" written through line by line.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "instrument/Instruments.h"

constexpr const char* kContinuousFileName = "PhaseLogCont.csv";
constexpr const char* kContinuousFileWritten = "File PhaseLogCont.csv written";
constexpr const char* kContinuousFileError = "Error writing PhaseLogCont.csv (opended with another program?)";
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
    double Average() const;      // wrapped into [0, 360)
    double Mean() const;         // the same, unwrapped: beside the latest samples
    double Deviation() const;    // sample standard deviation; below 0.00001 it is 0
    int BarPosition() const;     // deviation in hundredths of a degree, 0 to 100

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
