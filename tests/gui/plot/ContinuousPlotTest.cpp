#include <QAreaSeries>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>
#include <chrono>
#include <clocale>
#include <cmath>
#include <numeric>

#include "PlotTestSupport.h"
#include "tools/plot/ContinuousChart.h"
#include "tools/plot/ContinuousLogReader.h"
#include "tools/plot/PlotView.h"

using namespace korvel;

namespace {

using ContinuousPlot = PlotTest;

const std::string kHeader =
    "DeltaPhase Measurement Logfile versus Time\r\n"
    "Frequency/Hz = 1000000000 Level/dBm = -10\r\n"
    "DATE;TIME;TEMP Gen1;TEMP Gen2;PHASE\r\n";

// Readings straddling 0/360: the plot keeps them together, and the mean and deviation are the
// wrap-safe ones the window shows, from the second sample on. Dates are month first. Damaged
// lines are left out of the plot and the statistics, and counted.
TEST_F(ContinuousPlot, AKnownLogGivesPhaseMeanBandAndTemperaturesOnTheirAxes) {
    using namespace std::chrono;
    Write("PhaseLogCont.csv", kHeader +
                                  "12/06/26;04:03:17;35.200;36.100;359.900\r\n"
                                  "35.200;36.100;99.000\r\n"  // time stamp failed
                                  "12/06/26;04:03:27;35.300;36.200;0.100\r\n"
                                  "12/06/26;04:03:30;35.200;36.100;abc\r\n"
                                  "13/06/26;04:03:31;35.200;36.100;30.000\r\n"
                                  "12/32/26;04:03:32;35.200;36.100;30.000\r\n"
                                  "12/06/26;24:00:00;35.200;36.100;30.000\r\n"
                                  "2026-12-06;04:03:33;35.200;36.100;30.000\r\n"
                                  "12/06/26;4:03:34;35.200;36.100;30.000\r\n"
                                  "12/06/26;04:03:37;35.400;36.300;359.800\r\n"
                                  "12/06/26;04:03:47;35.500;36.500;0.300\r\n"
                                  "\r\n"  // not damaged, just blank
                                  "12/06/26;04:03:57;35.600;36.800;0.000\r\n");
    PlotView view;
    view.Open(QPath("PhaseLogCont.csv"));
    QChart* chart = view.Chart();
    ASSERT_NE(chart, nullptr) << view.Message().toStdString();
    EXPECT_EQ(view.ResidualChart(), nullptr);
    EXPECT_EQ(SeriesNames(chart), QStringList({kBandName, kPhaseName, kMeanName, kTemperature1Name,
                                               kTemperature2Name}));

    const double unwrapped[] = {359.9, 360.1, 359.8, 360.3, 360.0};
    const QList<QPointF> phase = FindXY(chart, kPhaseName)->points();
    ASSERT_EQ(phase.size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(phase[i].y(), unwrapped[i], 1e-9);
    const std::int64_t first =
        sys_days(2026y / December / 6).time_since_epoch().count() * 86400LL + 4 * 3600 + 197;
    const qint64 firstMs = LogDateTime(first).toMSecsSinceEpoch();
    EXPECT_EQ(phase[0].x(), static_cast<double>(firstMs));
    EXPECT_EQ(phase[4].x(), static_cast<double>(firstMs + 40000));

    const QList<QPointF> mean = FindXY(chart, kMeanName)->points();
    auto* band = qobject_cast<QAreaSeries*>(FindSeries(chart, kBandName));
    ASSERT_NE(band, nullptr);
    const QList<QPointF> upper = band->upperSeries()->points();
    const QList<QPointF> lower = band->lowerSeries()->points();
    ASSERT_TRUE(mean.size() == 4 && upper.size() == 4 && lower.size() == 4);
    for (int n = 2; n <= 5; ++n) {
        const double average = std::accumulate(unwrapped, unwrapped + n, 0.0) / n;
        double squares = 0.0;
        for (int i = 0; i < n; ++i)
            squares += (unwrapped[i] - average) * (unwrapped[i] - average);
        const double deviation = std::sqrt(squares / (n - 1));
        SCOPED_TRACE(n);
        EXPECT_EQ(mean[n - 2].x(), phase[n - 1].x());
        EXPECT_NEAR(mean[n - 2].y(), average, 1e-9);
        EXPECT_NEAR(upper[n - 2].y(), average + deviation, 1e-9);
        EXPECT_NEAR(lower[n - 2].y(), average - deviation, 1e-9);
    }
    // The title gives the Average as the window does, wrapped into [0, 360).
    for (const char* part : {"Average 0.020°", "1000 MHz, -10 dBm", "5 samples",
                             "7 unreadable lines left out (first: line 5)"})
        EXPECT_TRUE(chart->title().contains(part)) << chart->title().toStdString();

    auto* time = AxisOf<QDateTimeAxis>(FindSeries(chart, kPhaseName), Qt::Horizontal);
    auto* phaseAxis = AxisOf<QValueAxis>(FindSeries(chart, kPhaseName), Qt::Vertical);
    auto* temperatureAxis = AxisOf<QValueAxis>(FindSeries(chart, kTemperature2Name), Qt::Vertical);
    ASSERT_TRUE(time && phaseAxis && temperatureAxis);
    EXPECT_NE(phaseAxis, temperatureAxis);
    EXPECT_LE(time->min().toMSecsSinceEpoch(), firstMs);
    EXPECT_GE(time->max().toMSecsSinceEpoch(), firstMs + 40000);
    EXPECT_LE(time->min().secsTo(time->max()), 120);  // whole round intervals, not more
    EXPECT_TRUE(phaseAxis->min() > 358.5 && phaseAxis->min() < 359.8) << phaseAxis->min();
    EXPECT_TRUE(phaseAxis->max() > 360.3 && phaseAxis->max() < 361.5) << phaseAxis->max();
    EXPECT_TRUE(temperatureAxis->min() < 35.2 && temperatureAxis->max() > 36.8);
}

// The reader takes only appended whole lines, and a new run that replaced the log starts it over.
TEST_F(ContinuousPlot, TheReaderFollowsAGrowingLogAndStartsOverOnANewRun) {
    const std::string second = "12/06/26;04:03:27;35.210;36.100;183.118\r\n";
    ContinuousLogReader reader(Path("PhaseLogCont.csv"));
    const ContinuousPlotData& data = reader.Data();
    EXPECT_TRUE(reader.Update());
    EXPECT_FALSE(data.loaded);
    EXPECT_EQ(data.error, "the file is missing or cannot be read");
    EXPECT_FALSE(reader.Update());  // still missing: nothing to redraw

    Write("PhaseLogCont.csv", kHeader.substr(0, 50));
    EXPECT_TRUE(reader.Update());
    EXPECT_EQ(data.error, "the header is incomplete");
    Write("PhaseLogCont.csv", kHeader + "12/06/26;04:03:17;35.200;36.100;183.125\r\n");
    EXPECT_TRUE(reader.Update());
    EXPECT_TRUE(data.loaded);
    ASSERT_EQ(data.samples.size(), 1u);
    EXPECT_FALSE(data.samples[0].hasStatistics);
    EXPECT_FALSE(reader.Update());

    Append("PhaseLogCont.csv", second.substr(0, 20));  // the writer is in the middle of a line
    EXPECT_FALSE(reader.Update());
    EXPECT_EQ(data.samples.size(), 1u);
    Append("PhaseLogCont.csv", second.substr(20));
    EXPECT_TRUE(reader.Update());
    ASSERT_EQ(data.samples.size(), 2u);
    EXPECT_EQ(data.samples[1].phaseDeg, 183.118);
    EXPECT_TRUE(data.samples[1].hasStatistics);

    // A new run, longer than the old log: other first sample, so everything is read again.
    std::string run = kHeader;
    for (int i = 0; i < 3; ++i)
        run += "12/06/26;05:00:0" + std::to_string(i) + ";35.000;36.000;10.000\r\n";
    Write("PhaseLogCont.csv", run);
    EXPECT_TRUE(reader.Update());
    ASSERT_EQ(data.samples.size(), 3u);
    EXPECT_EQ(data.samples[0].phaseDeg, 10.0);
    EXPECT_EQ(data.samples[2].deviationDeg, 0.0);

    // Just started again: the header alone.
    Write("PhaseLogCont.csv", kHeader);
    EXPECT_TRUE(reader.Update());
    EXPECT_TRUE(data.loaded);
    EXPECT_TRUE(data.samples.empty());
}

TEST_F(ContinuousPlot, AForeignHeaderAndACommaLocale) {
    // A header that is not this log's: the reason, no chart.
    Write("PhaseLogCont.csv",
          "DeltaPhase Measurement Logfile versus Time\r\nFrequency/Hz =  Level/dBm = "
          "\r\nTIME;PHASE\r\n");
    PlotView view;
    view.Open(QPath("PhaseLogCont.csv"), PlotView::Kind::Continuous);
    EXPECT_EQ(view.Chart(), nullptr);
    EXPECT_TRUE(view.Message().startsWith("line 3 is not the column names"))
        << view.Message().toStdString();

    // The user's comma locale does not change how the log's numbers read.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ASSERT_EQ(std::localeconv()->decimal_point, std::string(","));
    Write("PhaseLogCont.csv", kHeader + "12/06/26;04:03:17;35.250;36.100;183.125\r\n");
    ContinuousLogReader comma(Path("PhaseLogCont.csv"));
    comma.Update();
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(comma.Data().samples.size(), 1u);
    EXPECT_EQ(comma.Data().samples[0].temperature1C, 35.25);
    EXPECT_EQ(comma.Data().samples[0].phaseDeg, 183.125);
}

// A drift of two turns in quarter steps, and a jump of half a turn, stay one line: each reading
// is plotted beside the one before it, and the mean beside the latest reading.
TEST_F(ContinuousPlot, ADriftOfTwoTurnsStaysOneLine) {
    std::string log = kHeader;
    for (int i = 0; i < 9; ++i)
        log += "12/06/26;04:03:" + std::to_string(10 + i) + ";35.200;36.100;" +
               std::to_string((i * 90) % 360) + ".000\r\n";
    Write("PhaseLogCont.csv", log);
    PlotView view;
    view.Open(QPath("PhaseLogCont.csv"));
    ASSERT_NE(view.Chart(), nullptr) << view.Message().toStdString();
    const QList<QPointF> phase = FindXY(view.Chart(), kPhaseName)->points();
    const QList<QPointF> mean = FindXY(view.Chart(), kMeanName)->points();
    ASSERT_EQ(phase.size(), 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(phase[i].y(), i * 90.0, 1e-9) << i;
    EXPECT_NEAR(mean.back().y(), 360.0, 1e-9);  // the mean of 0, 90, ..., 720
}

}  // namespace
