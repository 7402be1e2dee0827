#include <QImage>
#include <QLineSeries>
#include <cstdio>
#include <filesystem>

#include "ContinuousChart.h"
#include "PlotCommandLine.h"
#include "PlotTestSupport.h"
#include "PlotView.h"

namespace {

using PlotViewTest = PlotTest;

const std::string kContinuousHeader =
    "DeltaPhase Measurement Logfile versus Time\r\n"
    "Frequency/Hz = 1000000000 Level/dBm = -10\r\n"
    "DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE\r\n";

std::string Sample(int second, double phaseDeg) {
    char line[64];
    std::snprintf(line, sizeof line, "12/06/26;04:03:%02d;35.200;36.100;%.3f\r\n", second,
                  phaseDeg);
    return line;
}

std::string SweepFile(int levels) {
    std::string text =
        "DeltaPhase Measurement (Sweep)\r\nTemperature Generator 1/Degree = 35.200;\r\n"
        "Level ;10.00;20.00;\r\n";
    for (int r = 0; r < levels; ++r)
        text += std::to_string(-40 + 5 * r) + ".00;1.000;2.000;\r\n";
    return text;
}

int PhasePoints(const PlotView& view) {
    QXYSeries* phase = FindXY(view.Chart(), kPhaseName);
    return phase ? static_cast<int>(phase->count()) : -1;
}

int LevelLines(const PlotView& view) {
    int count = 0;
    for (const QString& name : SeriesNames(view.Chart()))
        count += name.endsWith(" dBm");
    return count;
}

TEST_F(PlotViewTest, RedrawsAsAContinuousRunWritesItsLog) {
    Write("PhaseLogCont.csv", kContinuousHeader + Sample(0, 10.0) + Sample(10, 10.5));
    PlotView view;
    int redrawn = 0;
    QObject::connect(&view, &PlotView::Redrawn, [&] { ++redrawn; });
    view.Open(QPath("PhaseLogCont.csv"));
    ASSERT_EQ(PhasePoints(view), 2);
    EXPECT_EQ(redrawn, 1);

    Append("PhaseLogCont.csv", Sample(20, 11.0) + Sample(30, 11.5));
    EXPECT_TRUE(WaitUntil([&] { return PhasePoints(view) == 4; })) << PhasePoints(view);

    // Nothing written, nothing redrawn.
    const int redraws = redrawn;
    WaitUntil([] { return false; }, 1300);
    EXPECT_EQ(redrawn, redraws);

    // The next run creates the log anew.
    Write("PhaseLogCont.csv", kContinuousHeader + Sample(40, 20.0));
    EXPECT_TRUE(WaitUntil([&] { return PhasePoints(view) == 1; })) << PhasePoints(view);
}

TEST_F(PlotViewTest, ReloadsTheSweepFileWhenANewOneIsRenamedIntoPlace) {
    // Not there yet: the reason now, the chart once a sweep ends.
    PlotView view;
    view.Open(QPath("PhaseLogSweep.csv"));
    EXPECT_EQ(view.Chart(), nullptr);
    EXPECT_TRUE(view.Message().contains("missing"));
    Write("PhaseLogSweep.csv", SweepFile(2));
    ASSERT_TRUE(WaitUntil([&] { return LevelLines(view) == 2; })) << view.Message().toStdString();

    // A sweep writes beside the file's name and renames into place.
    Write("PhaseLogSweep.csv.tmp", SweepFile(3));
    std::filesystem::rename(Path("PhaseLogSweep.csv.tmp"), Path("PhaseLogSweep.csv"));
    EXPECT_TRUE(WaitUntil([&] { return LevelLines(view) == 3; }));

    // And again, now that the watched file was replaced once.
    Write("PhaseLogSweep.csv.tmp", SweepFile(4));
    std::filesystem::rename(Path("PhaseLogSweep.csv.tmp"), Path("PhaseLogSweep.csv"));
    EXPECT_TRUE(WaitUntil([&] { return LevelLines(view) == 4; }));
}

TEST_F(PlotViewTest, TellsTheTwoFilesApartAndRendersPngsOfTheAskedSize) {
    Write("sweep.csv", SweepFile(2));
    Write("cont.csv", kContinuousHeader + Sample(0, 10.0));
    Write("odd.csv", "neither\r\n");
    PlotView view;
    view.Open(QPath("cont.csv"));
    EXPECT_EQ(view.ShownKind(), PlotView::Kind::Continuous);
    view.Open(QPath("sweep.csv"));
    EXPECT_EQ(view.ShownKind(), PlotView::Kind::Sweep);
    EXPECT_TRUE(view.SavePng(QPath("sweep.png"), QSize(640, 480)));
    EXPECT_EQ(QImage(QPath("sweep.png")).size(), QSize(640, 480));

    // Neither title: read as a sweep, whose loader says what is wrong; the image shows it too.
    view.Open(QPath("odd.csv"));
    EXPECT_EQ(view.ShownKind(), PlotView::Kind::Sweep);
    EXPECT_TRUE(view.Message().contains("line 1 is not the title"));
    EXPECT_TRUE(view.SavePng(QPath("odd.png"), QSize(300, 200)));
    EXPECT_EQ(QImage(QPath("odd.png")).size(), QSize(300, 200));

    EXPECT_FALSE(view.SavePng(QPath("no-such-dir/x.png"), QSize(300, 200)));
}

TEST_F(PlotViewTest, CommandLine) {
    PlotCommandLine window = ParsePlotCommandLine({"korvel-plot"});
    EXPECT_TRUE(window.ok);
    EXPECT_TRUE(window.file.isEmpty());  // both files of the working directory, in tabs
    EXPECT_TRUE(window.pngFile.isEmpty());

    PlotCommandLine png = ParsePlotCommandLine({"korvel-plot", "--png", "out.png"});
    ASSERT_TRUE(png.ok) << png.error.toStdString();
    EXPECT_EQ(png.file, "PhaseLogSweep.csv");
    EXPECT_EQ(png.size, QSize(1280, 800));

    png = ParsePlotCommandLine(
        {"korvel-plot", "PhaseLogCont.csv", "--png", "out.png", "--size", "800x600"});
    ASSERT_TRUE(png.ok) << png.error.toStdString();
    EXPECT_EQ(png.file, "PhaseLogCont.csv");
    EXPECT_EQ(png.pngFile, "out.png");
    EXPECT_EQ(png.size, QSize(800, 600));

    EXPECT_TRUE(ParsePlotCommandLine({"korvel-plot", "--help"}).help);
    for (const QStringList& bad :
         {QStringList{"korvel-plot", "a.csv", "b.csv"}, QStringList{"korvel-plot", "--png"},
          QStringList{"korvel-plot", "--png", "o.png", "--size", "800"},
          QStringList{"korvel-plot", "--png", "o.png", "--size", "0x600"},
          QStringList{"korvel-plot", "--png", "o.png", "--size", "99999x600"},
          QStringList{"korvel-plot", "--png", "o.png", "--size", "-800x600"},
          QStringList{"korvel-plot", "--size", "800x600"},
          QStringList{"korvel-plot", "--colour", "red"}}) {
        const PlotCommandLine parsed = ParsePlotCommandLine(bad);
        EXPECT_FALSE(parsed.ok) << bad.join(' ').toStdString();
        EXPECT_FALSE(parsed.error.isEmpty());
    }
    EXPECT_TRUE(PlotHelpText().contains("--png"));
    EXPECT_TRUE(PlotHelpText().contains("korvel-plot"));
}

}  // namespace
