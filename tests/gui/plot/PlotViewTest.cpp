#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "PlotTestSupport.h"
#include "tools/plot/ContinuousChart.h"
#include "tools/plot/PlotCommandLine.h"
#include "tools/plot/PlotView.h"

using namespace korvel;

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
    return static_cast<int>(SeriesNames(view.Chart()).filter(QRegularExpression(" dBm$")).size());
}

TEST_F(PlotViewTest, RedrawsAsAContinuousRunWritesItsLogAndOnlyThen) {
    Write("PhaseLogCont.csv", kContinuousHeader + Sample(0, 10.0) + Sample(10, 10.5));
    PlotView view;
    int redrawn = 0;
    QObject::connect(&view, &PlotView::Redrawn, [&] { ++redrawn; });
    view.Open(QPath("PhaseLogCont.csv"));
    ASSERT_EQ(PhasePoints(view), 2);
    EXPECT_EQ(redrawn, 1);

    Append("PhaseLogCont.csv", Sample(20, 11.0) + Sample(30, 11.5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return PhasePoints(view) == 4; })) << PhasePoints(view);
    const int redraws = redrawn;
    QTest::qWait(1300);
    EXPECT_EQ(redrawn, redraws);  // nothing written, nothing redrawn

    // The next run creates the log anew.
    Write("PhaseLogCont.csv", kContinuousHeader + Sample(40, 20.0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return PhasePoints(view) == 1; })) << PhasePoints(view);
}

// A sweep writes beside the file's name and renames into place, which drops the watch on the
// replaced file: every replacement must be seen, not just the first.
TEST_F(PlotViewTest, ReloadsTheSweepFileEachTimeANewOneIsRenamedIntoPlace) {
    PlotView view;
    view.Open(QPath("PhaseLogSweep.csv"));
    EXPECT_EQ(view.Chart(), nullptr);
    EXPECT_TRUE(view.Message().contains("missing"));
    Write("PhaseLogSweep.csv", SweepFile(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return LevelLines(view) == 2; }))
        << view.Message().toStdString();
    for (int levels : {3, 4}) {
        Write("PhaseLogSweep.csv.tmp", SweepFile(levels));
        std::filesystem::rename(Path("PhaseLogSweep.csv.tmp"), Path("PhaseLogSweep.csv"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return LevelLines(view) == levels; })) << levels;
    }
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
    const PlotCommandLine png = ParsePlotCommandLine(
        {"korvel-plot", "PhaseLogCont.csv", "--png", "out.png", "--size", "800x600"});
    ASSERT_TRUE(png.ok) << png.error.toStdString();
    EXPECT_EQ(png.file, "PhaseLogCont.csv");
    EXPECT_EQ(png.pngFile, "out.png");
    EXPECT_EQ(png.size, QSize(800, 600));

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
}

}  // namespace
