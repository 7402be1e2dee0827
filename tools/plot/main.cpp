// korvel-plot: plots of the sweep file and the continuous log, in a window or as a PNG.
#include <QApplication>
#include <QTabWidget>
#include <clocale>
#include <cstdio>

#include "PlotCommandLine.h"
#include "PlotView.h"

using namespace korvel;

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const PlotCommandLine options = ParsePlotCommandLine(arguments);
    if (options.help) {
        std::fputs(qPrintable(PlotHelpText()), stdout);
        return 0;
    }
    if (!options.ok) {
        std::fprintf(stderr, "korvel-plot: %s\n", qPrintable(options.error));
        std::fputs(qPrintable(PlotHelpText()), stderr);
        return 2;
    }
    // Rendering for reports and CI needs no display.
    if (!options.pngFile.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication application(argc, argv);
    // QApplication adopts the user's locale; numbers in the files always use a point.
    std::setlocale(LC_NUMERIC, "C");

    if (!options.pngFile.isEmpty()) {
        PlotView view;
        view.Open(options.file);
        if (!view.SavePng(options.pngFile, options.size)) {
            std::fprintf(stderr, "korvel-plot: cannot write %s\n", qPrintable(options.pngFile));
            return 3;
        }
        if (!view.Message().isEmpty()) {
            // The image shows the reason too; the exit status tells a script.
            std::fprintf(stderr, "korvel-plot: %s cannot be shown: %s\n", qPrintable(options.file),
                         qPrintable(view.Message()));
            return 1;
        }
        return 0;
    }

    QWidget* window = nullptr;
    if (!options.file.isEmpty()) {
        auto* view = new PlotView;
        view->Open(options.file);
        view->setWindowTitle("korvel-plot - " + options.file);
        window = view;
    } else {
        auto* tabs = new QTabWidget;
        auto* sweep = new PlotView;
        sweep->Open(kSweepFileDefault, PlotView::Kind::Sweep);
        auto* continuous = new PlotView;
        continuous->Open(kContinuousFileDefault, PlotView::Kind::Continuous);
        tabs->addTab(sweep, "Sweep");
        tabs->addTab(continuous, "Continuous");
        tabs->setWindowTitle("korvel-plot");
        window = tabs;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(1200, 760);
    window->show();
    return application.exec();
}
