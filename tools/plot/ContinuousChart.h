// The continuous plot: phase against time with the running mean and its ±1 deviation band as
// the window shows them, and both generators' temperatures on a second axis.
#pragma once

#include <QDateTime>
#include <QString>

#include "ContinuousLogReader.h"

class QChart;

namespace korvel {

inline const char* kPhaseName = "Phase";
inline const char* kMeanName = "Running mean";
inline const char* kBandName = "±1 deviation";
inline const char* kTemperature1Name = "Generator 1 temperature";
inline const char* kTemperature2Name = "Generator 2 temperature";

// The logged local date and time as the time axis counts it.
QDateTime LogDateTime(std::int64_t civilSeconds);

// A new chart for a log whose header was read; the caller owns it.
QChart* BuildContinuousChart(const ContinuousPlotData& data, const QString& fileName);

}  // namespace korvel
