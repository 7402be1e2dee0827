// The command line of korvel-plot, read before any window system is chosen: --png has to pick
// the offscreen platform before the application object exists.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

namespace korvel {

struct PlotCommandLine {
    bool ok = true;
    QString error;  // when not ok
    bool help = false;
    QString file;     // empty: the two result files of the working directory
    QString pngFile;  // empty: a window
    QSize size{1280, 800};
};

// arguments as main receives them, the program name first.
PlotCommandLine ParsePlotCommandLine(const QStringList& arguments);
QString PlotHelpText();

constexpr const char* kSweepFileDefault = "PhaseLogSweep.csv";
constexpr const char* kContinuousFileDefault = "PhaseLogCont.csv";

}  // namespace korvel
