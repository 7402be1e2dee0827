// The sweep plot: per level line the unwrapped phase against frequency, the cells as the file
// holds them (wrapped) as points, and the straight line fitted to the line, dashed.
#pragma once

#include <QString>

#include "SweepPlotData.h"

class QChart;

namespace korvel {

// Series names, which the legend shows and by which the lines can be found again.
QString SweepLevelName(double levelDbm);  // "-40.00 dBm"
QString SweepRawName(double levelDbm);    // "-40.00 dBm as written"
QString SweepFitName(double levelDbm);    // "-40.00 dBm fitted"
inline const char* kSweepRawKeyName = "as written (wrapped)";
inline const char* kSweepFitKeyName = "fitted line";

// A new chart for a loaded table; the caller owns it.
QChart* BuildSweepChart(const SweepPlotData& data, const QString& fileName);

// What the line fit leaves of each level line (unwrapped phase minus fitted line), on a scale
// where the levels and the measurement noise can be told apart; for tables of two or more
// frequencies. The caller owns it.
QChart* BuildSweepResidualChart(const SweepPlotData& data);

}  // namespace korvel
