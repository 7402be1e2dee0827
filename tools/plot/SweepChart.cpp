#include "SweepChart.h"

#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <limits>

#include "ChartStyle.h"

namespace korvel {

namespace {

constexpr int kLegendLevels = 8;  // more level lines are told apart by the colour gradient

void HideFromLegend(QChart& chart, QAbstractSeries* series) {
    for (QLegendMarker* marker : chart.legend()->markers(series))
        marker->setVisible(false);
}

QString Temperatures(const SweepPlotData& data) {
    QStringList parts;
    if (data.temperature1C) {
        parts << QString("generator 1 at %1 °C").arg(*data.temperature1C, 0, 'f', 1);
    }
    if (data.temperature2C) {
        parts << QString("generator 2 at %1 °C").arg(*data.temperature2C, 0, 'f', 1);
    }
    return parts.isEmpty() ? QString("no temperatures") : parts.join(", ");
}

}  // namespace

QString SweepLevelName(double levelDbm) {
    return QString::number(levelDbm, 'f', 2) + " dBm";
}
QString SweepRawName(double levelDbm) {
    return SweepLevelName(levelDbm) + " as written";
}
QString SweepFitName(double levelDbm) {
    return SweepLevelName(levelDbm) + " fitted";
}

QChart* BuildSweepChart(const SweepPlotData& data, const QString& fileName) {
    auto* chart = new QChart;
    chart->setTitle(QString("<b>Phase against frequency</b> &nbsp; %1 &nbsp;·&nbsp; %2")
                        .arg(fileName.toHtmlEscaped(), Temperatures(data)));
    QFont titleFont = chart->titleFont();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    chart->setTitleFont(titleFont);
    // Above the plot, so that the plot and the residual plot below share their width.
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    auto* frequencyAxis = new QValueAxis;
    frequencyAxis->setTitleText("Frequency / MHz");
    frequencyAxis->setLabelFormat("%g");
    auto* phaseAxis = new QValueAxis;
    phaseAxis->setTitleText("Phase / °");
    phaseAxis->setLabelFormat("%g");
    chart->addAxis(frequencyAxis, Qt::AlignBottom);
    chart->addAxis(phaseAxis, Qt::AlignLeft);

    auto add = [&](QAbstractSeries* series) {
        chart->addSeries(series);
        series->attachAxis(frequencyAxis);
        series->attachAxis(phaseAxis);
    };

    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const int count = static_cast<int>(data.levels.size());
    const bool fitted = data.frequenciesMHz.size() > 1;  // one column has no line to fit
    for (int r = 0; r < count; ++r) {
        const SweepLevelLine& level = data.levels[r];
        const QColor colour = LevelColour(r, count);

        auto* trace = new QLineSeries;
        trace->setName(SweepLevelName(level.levelDbm));
        // Level lines lie within a few degrees of each other on a scale of turns: drawn from
        // wide to narrow, each stays visible around the next.
        const double width = count <= 4 ? 2.0 + 2.0 * (count - 1 - r) : 2.0;
        trace->setPen(QPen(colour, width));
        // A lone point draws no line; show it as a point.
        trace->setPointsVisible(data.frequenciesMHz.size() == 1);
        auto* raw = new QScatterSeries;
        raw->setName(SweepRawName(level.levelDbm));
        raw->setMarkerShape(QScatterSeries::MarkerShapeCircle);
        raw->setMarkerSize(7.0);
        raw->setColor(QColor(255, 255, 255, 0));
        raw->setBorderColor(colour);
        for (size_t c = 0; c < data.frequenciesMHz.size(); ++c) {
            const double f = data.frequenciesMHz[c];
            trace->append(f, level.unwrappedPhaseDeg[c]);
            raw->append(f, level.rawPhaseDeg[c]);
            low = std::min({low, level.unwrappedPhaseDeg[c], level.rawPhaseDeg[c]});
            high = std::max({high, level.unwrappedPhaseDeg[c], level.rawPhaseDeg[c]});
        }
        add(trace);
        add(raw);
        HideFromLegend(*chart, raw);
        if (count > kLegendLevels && r != 0 && r != count - 1)
            HideFromLegend(*chart, trace);
    }

    // The fitted lines go over all level lines, or the widest would hide them.
    if (fitted) {
        for (int r = 0; r < count; ++r) {
            const SweepLevelLine& level = data.levels[r];
            auto* fit = new QLineSeries;
            fit->setName(SweepFitName(level.levelDbm));
            fit->setPen(QPen(LevelColour(r, count).darker(160), 1.5, Qt::DashLine));
            for (double f : {data.frequenciesMHz.front(), data.frequenciesMHz.back()}) {
                const double y = level.slopeDegPerMHz * f + level.offsetDeg;
                fit->append(f, y);
                low = std::min(low, y);
                high = std::max(high, y);
            }
            add(fit);
            HideFromLegend(*chart, fit);
        }
    }

    // Legend keys for the point and dash styles, in grey: they hold no data.
    auto* rawKey = new QScatterSeries;
    rawKey->setName(kSweepRawKeyName);
    rawKey->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    rawKey->setMarkerSize(7.0);
    rawKey->setColor(QColor(255, 255, 255, 0));
    rawKey->setBorderColor(Qt::darkGray);
    add(rawKey);
    if (fitted) {
        auto* fitKey = new QLineSeries;
        fitKey->setName(kSweepFitKeyName);
        fitKey->setPen(QPen(Qt::darkGray, 1.5, Qt::DashLine));
        add(fitKey);
    }

    const double first = data.frequenciesMHz.empty() ? 0.0 : data.frequenciesMHz.front();
    const double last = data.frequenciesMHz.empty() ? 0.0 : data.frequenciesMHz.back();
    // A sweep may run downwards.
    SetPaddedRange(*frequencyAxis, std::min(first, last), std::max(first, last), 0.02);
    SetPaddedRange(*phaseAxis, low, high, 0.04, true);
    return chart;
}

QChart* BuildSweepResidualChart(const SweepPlotData& data) {
    auto* chart = new QChart;
    chart->setTitle("Phase minus the fitted line");
    chart->legend()->hide();  // the colours are those of the plot above
    auto* frequencyAxis = new QValueAxis;
    frequencyAxis->setTitleText("Frequency / MHz");
    frequencyAxis->setLabelFormat("%g");
    auto* residualAxis = new QValueAxis;
    residualAxis->setTitleText("Residual / °");
    residualAxis->setLabelFormat("%g");
    chart->addAxis(frequencyAxis, Qt::AlignBottom);
    chart->addAxis(residualAxis, Qt::AlignLeft);

    double low = 0.0;
    double high = 0.0;
    const int count = static_cast<int>(data.levels.size());
    for (int r = 0; r < count; ++r) {
        const SweepLevelLine& level = data.levels[r];
        auto* series = new QLineSeries;
        series->setName(SweepLevelName(level.levelDbm));
        series->setPen(QPen(LevelColour(r, count), 1.5));
        series->setPointsVisible(data.frequenciesMHz.size() <= 100);
        series->setMarkerSize(4.0);
        for (size_t c = 0; c < data.frequenciesMHz.size(); ++c) {
            const double f = data.frequenciesMHz[c];
            const double residual =
                level.unwrappedPhaseDeg[c] - (level.slopeDegPerMHz * f + level.offsetDeg);
            series->append(f, residual);
            low = std::min(low, residual);
            high = std::max(high, residual);
        }
        chart->addSeries(series);
        series->attachAxis(frequencyAxis);
        series->attachAxis(residualAxis);
    }
    const double first = data.frequenciesMHz.front();
    const double last = data.frequenciesMHz.back();
    SetPaddedRange(*frequencyAxis, std::min(first, last), std::max(first, last), 0.02);
    SetPaddedRange(*residualAxis, low, high, 0.08);
    return chart;
}

}  // namespace korvel
