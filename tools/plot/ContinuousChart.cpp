#include "ContinuousChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

#include "ChartStyle.h"

namespace korvel {

namespace {

constexpr size_t kMaxMarkedSamples = 200;  // beyond this the sample markers hide the line

// "1000000000" as the generator replies becomes "1000 MHz"; other replies stay as they are.
QString FrequencyText(const std::string& reply) {
    double hz = 0.0;
    const char* end = reply.data() + reply.size();
    auto [p, ec] = std::from_chars(reply.data(), end, hz);
    if (ec != std::errc{} || p != end || !std::isfinite(hz)) {
        return reply.empty() ? QString("frequency not logged") : QString::fromStdString(reply);
    }
    return ShortNumber(hz / 1e6, 6) + " MHz";
}

QString LevelText(const std::string& reply) {
    double dbm = 0.0;
    const char* end = reply.data() + reply.size();
    auto [p, ec] = std::from_chars(reply.data(), end, dbm);
    if (ec != std::errc{} || p != end || !std::isfinite(dbm)) {
        return reply.empty() ? QString("level not logged") : QString::fromStdString(reply);
    }
    return ShortNumber(dbm, 2) + " dBm";
}

QString Title(const ContinuousPlotData& data, const QString& fileName) {
    QString title =
        QString("<b>Phase against time</b> &nbsp; %1 &nbsp;·&nbsp; %2, %3")
            .arg(fileName.toHtmlEscaped(), FrequencyText(data.frequencyText).toHtmlEscaped(),
                 LevelText(data.levelText).toHtmlEscaped());
    QStringList facts;
    facts << QString("%1 samples").arg(data.samples.size());
    if (!data.samples.empty() && data.samples.back().hasStatistics) {
        const ContinuousSample& last = data.samples.back();
        // The window's Average field shows the mean wrapped into [0, 360).
        const double average = last.meanDeg - 360.0 * std::floor(last.meanDeg / 360.0);
        facts << QString("Average %1°").arg(average, 0, 'f', 3)
              << QString("Deviation %1°").arg(last.deviationDeg, 0, 'f', 3);
    }
    const bool unwrapped =
        std::any_of(data.samples.begin(), data.samples.end(),
                    [](const ContinuousSample& s) { return s.plottedPhaseDeg != s.phaseDeg; });
    if (unwrapped)
        facts << "readings across 0/360° drawn continuous";
    if (data.unreadableLines > 0) {
        facts
            << QString(
                   "<font color=\"#c00000\">%1 unreadable line%2 left out (first: line %3)</font>")
                   .arg(data.unreadableLines)
                   .arg(data.unreadableLines == 1 ? "" : "s")
                   .arg(data.firstUnreadableLine);
    }
    return title + "<br>" + facts.join(" &nbsp;·&nbsp; ");
}

// The time axis from and to whole multiples of a round interval, so that its evenly spaced
// ticks fall on round times.
void SetTimeRange(QDateTimeAxis& axis, std::int64_t first, std::int64_t last) {
    constexpr std::int64_t kIntervals[] = {10,    15,    30,    60,     120,   300,
                                           600,   900,   1800,  3600,   7200,  10800,
                                           21600, 43200, 86400, 172800, 604800};
    constexpr std::int64_t kMostIntervals = 8;
    if (first > last) {  // no samples yet: the last minute before now
        const QDateTime now = QDateTime::currentDateTime();
        axis.setRange(now.addSecs(-60), now);
        axis.setFormat("HH:mm:ss");
        return;
    }
    auto floorTo = [](std::int64_t t, std::int64_t step) { return t - ((t % step) + step) % step; };
    std::int64_t interval = 0;
    for (std::int64_t candidate : kIntervals) {
        const std::int64_t from = floorTo(first, candidate);
        const std::int64_t to = floorTo(last, candidate) + candidate;
        if ((to - from) / candidate <= kMostIntervals) {
            interval = candidate;
            break;
        }
    }
    if (interval == 0)
        interval = ((last - first) / kMostIntervals / 86400 + 1) * 86400;  // whole days
    const std::int64_t from = floorTo(first, interval);
    // A last sample on a round time still gets room after it.
    const std::int64_t to = floorTo(last, interval) + interval;
    axis.setRange(LogDateTime(from), LogDateTime(to));
    axis.setTickCount(static_cast<int>((to - from) / interval) + 1);
    axis.setFormat(to - from > 86400 ? "MM/dd HH:mm" : interval < 60 ? "HH:mm:ss" : "HH:mm");
}

// The time axis counts milliseconds since the epoch and labels them in local time. Asking the
// time zone for every sample of a long log takes seconds; its offset from UTC changes on the
// hour, so one answer per hour of the log serves.
class LocalClock {
public:
    qint64 MSecsSinceEpoch(std::int64_t civilSeconds) {
        const std::int64_t hour = civilSeconds - ((civilSeconds % 3600) + 3600) % 3600;
        if (hour != m_hour) {
            m_hour = hour;
            m_offsetS = LogDateTime(hour).offsetFromUtc();
        }
        return (civilSeconds - m_offsetS) * 1000;
    }

private:
    std::int64_t m_hour = std::numeric_limits<std::int64_t>::min();
    std::int64_t m_offsetS = 0;
};

}  // namespace

QDateTime LogDateTime(std::int64_t civilSeconds) {
    const std::int64_t days =
        civilSeconds >= 0 ? civilSeconds / 86400 : (civilSeconds - 86399) / 86400;
    const int seconds =
        static_cast<int>(std::min<std::int64_t>(civilSeconds - days * 86400, 86399));
    return QDateTime(QDate(1970, 1, 1).addDays(days), QTime(0, 0).addSecs(seconds));
}

QChart* BuildContinuousChart(const ContinuousPlotData& data, const QString& fileName) {
    auto* chart = new QChart;
    chart->setTitle(Title(data, fileName));
    QFont titleFont = chart->titleFont();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    chart->setTitleFont(titleFont);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    auto* timeAxis = new QDateTimeAxis;
    timeAxis->setTitleText("Time");
    auto* phaseAxis = new QValueAxis;
    phaseAxis->setTitleText("Phase / °");
    phaseAxis->setLabelFormat("%g");
    auto* temperatureAxis = new QValueAxis;
    temperatureAxis->setTitleText("Temperature / °C");
    temperatureAxis->setLabelFormat("%g");
    temperatureAxis->setGridLineVisible(false);  // the phase axis draws the grid
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(phaseAxis, Qt::AlignLeft);
    chart->addAxis(temperatureAxis, Qt::AlignRight);

    const QColor phaseColour(0x1f, 0x77, 0xb4);
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    auto* band = new QAreaSeries(upper, lower);
    // The area series does not own its edges.
    upper->setParent(band);
    lower->setParent(band);
    band->setName(kBandName);
    band->setColor(QColor(0x6b, 0xae, 0xd6, 90));
    band->setBorderColor(QColor(0x1f, 0x77, 0xb4, 120));
    auto* phase = new QLineSeries;
    phase->setName(kPhaseName);
    phase->setPen(QPen(phaseColour, 1.2));
    phase->setPointsVisible(data.samples.size() <= kMaxMarkedSamples);
    phase->setMarkerSize(3.5);
    auto* mean = new QLineSeries;
    mean->setName(kMeanName);
    mean->setPen(QPen(QColor(0x0b, 0x2a, 0x4a), 2.5));
    auto* temperature1 = new QLineSeries;
    temperature1->setName(kTemperature1Name);
    temperature1->setPen(QPen(QColor(0xe0, 0x6c, 0x00), 2.0, Qt::DashLine));
    auto* temperature2 = new QLineSeries;
    temperature2->setName(kTemperature2Name);
    temperature2->setPen(QPen(QColor(0xc0, 0x10, 0x30), 2.0, Qt::DotLine));

    double phaseLow = std::numeric_limits<double>::infinity();
    double phaseHigh = -phaseLow;
    double temperatureLow = phaseLow;
    double temperatureHigh = phaseHigh;
    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t last = std::numeric_limits<std::int64_t>::min();
    QList<QPointF> points[6];
    LocalClock clock;
    for (const ContinuousSample& s : data.samples) {
        // A clock set back (summer time ending) puts a sample before the ones logged earlier.
        first = std::min(first, s.civilSeconds);
        last = std::max(last, s.civilSeconds);
        const double t = static_cast<double>(clock.MSecsSinceEpoch(s.civilSeconds));
        points[0].append({t, s.plottedPhaseDeg});
        phaseLow = std::min(phaseLow, s.plottedPhaseDeg);
        phaseHigh = std::max(phaseHigh, s.plottedPhaseDeg);
        if (s.hasStatistics) {
            points[1].append({t, s.meanDeg});
            points[2].append({t, s.meanDeg + s.deviationDeg});
            points[3].append({t, s.meanDeg - s.deviationDeg});
            phaseLow = std::min(phaseLow, s.meanDeg - s.deviationDeg);
            phaseHigh = std::max(phaseHigh, s.meanDeg + s.deviationDeg);
        }
        points[4].append({t, s.temperature1C});
        points[5].append({t, s.temperature2C});
        temperatureLow = std::min({temperatureLow, s.temperature1C, s.temperature2C});
        temperatureHigh = std::max({temperatureHigh, s.temperature1C, s.temperature2C});
    }
    phase->replace(points[0]);
    mean->replace(points[1]);
    upper->replace(points[2]);
    lower->replace(points[3]);
    temperature1->replace(points[4]);
    temperature2->replace(points[5]);

    // Drawn in this order: the band beneath the readings, the mean on top.
    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(band), static_cast<QAbstractSeries*>(phase),
          static_cast<QAbstractSeries*>(mean)}) {
        chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(phaseAxis);
    }
    for (QLineSeries* series : {temperature1, temperature2}) {
        chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(temperatureAxis);
    }

    SetTimeRange(*timeAxis, first, last);
    SetPaddedRange(*phaseAxis, phaseLow, phaseHigh, 0.05);
    SetPaddedRange(*temperatureAxis, temperatureLow, temperatureHigh, 0.05);
    return chart;
}

}  // namespace korvel
