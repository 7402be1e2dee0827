#include <QLegend>
#include <QLegendMarker>
#include <QValueAxis>

#include "PlotTestSupport.h"
#include "runs/CSweepTable.h"
#include "tools/plot/PlotView.h"
#include "tools/plot/SweepChart.h"

using namespace korvel;

namespace {

using SweepPlot = PlotTest;

const std::string kHead = "DeltaPhase Measurement (Sweep)\r\n";
const std::string kTemperatures =
    "Temperature Generator 1/Degree = 35.200;Temperature Generator 2/Degree = 36.100;\r\n";

std::vector<QPointF> Points(QAbstractSeries* series) {
    auto* xy = qobject_cast<QXYSeries*>(series);
    const QList<QPointF> points = xy ? xy->points() : QList<QPointF>();
    return {points.begin(), points.end()};
}

QStringList LegendNames(QChart* chart) {
    QStringList names;
    for (QLegendMarker* marker : chart->legend()->markers())
        if (marker->isVisible())
            names << marker->label();
    return names;
}

// Row -40 dBm wraps after its first cell and unwraps to a falling line of -2 degrees per MHz;
// row -35 dBm is a rising line of 2 degrees per MHz. Both lie exactly on their fit.
TEST_F(SweepPlot, AKnownFileGivesPerLevelTracesCellsAsWrittenFitsAndAxes) {
    Write("PhaseLogSweep.csv", kHead + kTemperatures +
                                   "Level ;10.00;20.00;30.00;40.00;\r\n"
                                   "-40.00;10.000;350.000;330.000;310.000;\r\n"
                                   "-35.00;100.000;120.000;140.000;160.000;\r\n");
    PlotView view;
    view.Open(QPath("PhaseLogSweep.csv"));
    QChart* chart = view.Chart();
    ASSERT_NE(chart, nullptr) << view.Message().toStdString();
    EXPECT_EQ(SeriesNames(chart),
              QStringList({"-40.00 dBm", "-40.00 dBm as written", "-35.00 dBm",
                           "-35.00 dBm as written", "-40.00 dBm fitted", "-35.00 dBm fitted",
                           kSweepRawKeyName, kSweepFitKeyName}));
    EXPECT_EQ(LegendNames(chart),
              QStringList({"-40.00 dBm", "-35.00 dBm", kSweepRawKeyName, kSweepFitKeyName}));

    // The trace is unwrapped, the points are the cells as written.
    EXPECT_EQ(Points(FindSeries(chart, "-40.00 dBm")),
              (std::vector<QPointF>{{10, 10}, {20, -10}, {30, -30}, {40, -50}}));
    EXPECT_EQ(Points(FindSeries(chart, "-40.00 dBm as written")),
              (std::vector<QPointF>{{10, 10}, {20, 350}, {30, 330}, {40, 310}}));

    // Fits span the table, on the loader's line.
    for (const auto& [name, atFirst, atLast] : {std::tuple{"-40.00 dBm fitted", 10.0, -50.0},
                                                std::tuple{"-35.00 dBm fitted", 100.0, 160.0}}) {
        SCOPED_TRACE(name);
        const std::vector<QPointF> points = Points(FindSeries(chart, name));
        ASSERT_EQ(points.size(), 2u);
        EXPECT_EQ(points[0].x(), 10.0);
        EXPECT_NEAR(points[0].y(), atFirst, 1e-9);
        EXPECT_EQ(points[1].x(), 40.0);
        EXPECT_NEAR(points[1].y(), atLast, 1e-9);
    }

    // One frequency axis for every series; the data and a little room, no more.
    auto* frequency = AxisOf<QValueAxis>(FindSeries(chart, "-40.00 dBm"), Qt::Horizontal);
    auto* phase = AxisOf<QValueAxis>(FindSeries(chart, "-40.00 dBm"), Qt::Vertical);
    ASSERT_TRUE(frequency && phase);
    for (QAbstractSeries* series : chart->series())
        EXPECT_EQ(AxisOf<QValueAxis>(series, Qt::Horizontal), frequency)
            << series->name().toStdString();
    auto expectRoom = [](QValueAxis* axis, double low, double high) {
        const double room = 0.1 * (high - low);
        EXPECT_LT(axis->min(), low);
        EXPECT_GT(axis->min(), low - room);
        EXPECT_GT(axis->max(), high);
        EXPECT_LT(axis->max(), high + room);
    };
    expectRoom(frequency, 10.0, 40.0);
    expectRoom(phase, -50.0, 350.0);
    for (const char* part : {"35.2 °C", "36.1 °C"})
        EXPECT_TRUE(chart->title().contains(part)) << chart->title().toStdString();

    // What the fit leaves: nothing, on every point of both lines.
    QChart* residual = view.ResidualChart();
    ASSERT_NE(residual, nullptr);
    EXPECT_EQ(SeriesNames(residual), QStringList({"-40.00 dBm", "-35.00 dBm"}));
    for (QAbstractSeries* series : residual->series()) {
        const std::vector<QPointF> points = Points(series);
        ASSERT_EQ(points.size(), 4u);
        for (const QPointF& p : points)
            EXPECT_NEAR(p.y(), 0.0, 1e-9);
    }
}

TEST_F(SweepPlot, OneFrequencyAndOneGenerator) {
    // One frequency: points instead of a line, nothing fitted, no residual plot; one generator
    // drives both paths, so only its temperature is in the file.
    Write("PhaseLogSweep.csv", kHead +
                                   "Temperature Generator 1/Degree = 31.000;\r\n"
                                   "Level ;100.00;\r\n-40.00;12.500;\r\n-30.00;13.500;\r\n");
    PlotView view;
    view.Open(QPath("PhaseLogSweep.csv"));
    QChart* chart = view.Chart();
    ASSERT_NE(chart, nullptr) << view.Message().toStdString();
    EXPECT_EQ(SeriesNames(chart), QStringList({"-40.00 dBm", "-40.00 dBm as written", "-30.00 dBm",
                                               "-30.00 dBm as written", kSweepRawKeyName}));
    EXPECT_TRUE(FindXY(chart, "-40.00 dBm")->pointsVisible());
    EXPECT_EQ(view.ResidualChart(), nullptr);
    auto* frequency = AxisOf<QValueAxis>(FindSeries(chart, "-40.00 dBm"), Qt::Horizontal);
    EXPECT_LT(frequency->min(), 100.0);
    EXPECT_GT(frequency->max(), 100.0);
    EXPECT_TRUE(chart->title().contains("generator 1 at 31.0 °C"));
    EXPECT_FALSE(chart->title().contains("generator 2"));
}

// Each refusal of the loader, as the user sees it: no chart, and the loader's own reason.
TEST_F(SweepPlot, AFileTheLoaderRefusesShowsTheLoadersReason) {
    const std::string head = kHead + kTemperatures;
    const std::string grid = head + "Level ;10.00;20.00;\r\n-40.00;1.000;2.000;\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"nothing\r\n", "line 1 is not the title"},
        {kHead, "line 2 (temperatures) is missing"},
        {head + "Level 10.00 20.00\r\n-40;1;2;\r\n", "line 3 (frequencies) has no semicolon"},
        {head + "Level ;\r\n-40.00;\r\n", "no frequency column"},
        {head + "Level ;10.00;20.00;\r\n\r\n", "no level line"},
        {grid + "-35.00;1.000;\r\n", "line 5: fewer values than frequencies"},
        {grid + "-35.00;1.000\r\n", "line 5: fewer values than frequencies"},
        {head + "Level ;10.00;20.00;\r\n-40.00;1.000;abc;\r\n", "line 4: value 2 is not a number"},
        {grid + "-35.00;-999.000;2.000;\r\n", "line 5: point 1 was not measured (-999.000)"},
        {head + "Level ;10.00;10.00;\r\n-40.00;1.000;2.000;\r\n", "frequency step is 0"},
        {grid + "-40.00;1.0;2.0;\r\n", "level step is 0"},
        {grid + "\r\n-30.00;1.0;2.0;\r\n", "line 5 is empty"},
    };
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(text);
        Write("PhaseLogSweep.csv", text);
        PlotView view;
        view.Open(QPath("PhaseLogSweep.csv"));
        EXPECT_EQ(view.Chart(), nullptr);
        EXPECT_TRUE(view.Message().contains(QString::fromStdString(reason)))
            << view.Message().toStdString();
        EXPECT_EQ(view.Message().toStdString(), CSweepTable(Path("PhaseLogSweep.csv")).Error());
    }
}

}  // namespace
