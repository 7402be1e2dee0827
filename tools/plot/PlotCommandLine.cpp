#include "PlotCommandLine.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace korvel {

namespace {

constexpr int kMinSide = 200;
constexpr int kMaxSide = 8000;  // 8000 x 8000 ARGB is 256 MB; anything larger is a typo

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption png{"png", "Render FILE to the PNG file OUT without a display, then exit.",
                           "OUT"};
    QCommandLineOption size{"size", "Image size for --png, default 1280x800.", "WxH", "1280x800"};
    QCommandLineOption help{{"h", "help"}, "Show this help."};

    Parser() {
        parser.setApplicationDescription(
            "Plots Korvel's result files.\n"
            "A sweep file shows one line per level: the unwrapped phase against frequency, the\n"
            "cells as written (wrapped) as points and the fitted line dashed, read as \"Adjust to\n"
            "0°\" reads them, with what the fit leaves below. A continuous log shows the phase\n"
            "against time with the running mean, its ±1 deviation band and both generators'\n"
            "temperatures. The window redraws when the file changes.\n"
            "Exit status with --png: 0 drawn, 1 the file cannot be shown (the image and stderr\n"
            "say why), 2 bad command line, 3 the image cannot be written.");
        parser.addPositionalArgument(
            "FILE",
            "PhaseLogSweep.csv or PhaseLogCont.csv. Default: both from the working directory, "
            "in two tabs; with --png, PhaseLogSweep.csv.",
            "[FILE]");
        parser.addOption(png);
        parser.addOption(size);
        parser.addOption(help);
    }
};

}  // namespace

PlotCommandLine ParsePlotCommandLine(const QStringList& arguments) {
    PlotCommandLine result;
    Parser p;
    auto fail = [&](const QString& error) {
        result.ok = false;
        result.error = error;
        return result;
    };
    if (!p.parser.parse(arguments))
        return fail(p.parser.errorText());
    if (p.parser.isSet(p.help)) {
        result.help = true;
        return result;
    }
    const QStringList files = p.parser.positionalArguments();
    if (files.size() > 1)
        return fail("Give one file at most; got " + files.join(' ') + ".");
    if (!files.isEmpty())
        result.file = files.front();
    result.pngFile = p.parser.value(p.png);
    if (p.parser.isSet(p.png) && result.pngFile.isEmpty())
        return fail("--png needs a file name.");
    if (p.parser.isSet(p.size) && !p.parser.isSet(p.png))
        return fail("--size goes with --png.");

    static const QRegularExpression kSize("^(\\d{1,5})x(\\d{1,5})$");
    const QRegularExpressionMatch match = kSize.match(p.parser.value(p.size));
    const int width = match.hasMatch() ? match.captured(1).toInt() : 0;
    const int height = match.hasMatch() ? match.captured(2).toInt() : 0;
    if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide) {
        return fail(
            QString("--size must be WxH with each side from %1 to %2 pixels, e.g. 1280x800.")
                .arg(kMinSide)
                .arg(kMaxSide));
    }
    result.size = QSize(width, height);
    if (!result.pngFile.isEmpty() && result.file.isEmpty())
        result.file = kSweepFileDefault;
    return result;
}

QString PlotHelpText() {
    // Read before the application object exists, the parser may not know the program name.
    static const QRegularExpression kUsage("^Usage: \\S+");
    return Parser().parser.helpText().replace(kUsage, "Usage: korvel-plot");
}

}  // namespace korvel
