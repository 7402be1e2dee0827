#include "PlotView.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "ContinuousChart.h"
#include "ContinuousLogReader.h"
#include "SweepChart.h"
#include "SweepPlotData.h"

namespace korvel {

namespace {

constexpr int kSettleMs = 150;
constexpr int kPollMs = 1000;

}  // namespace

PlotView::PlotView(QWidget* parent) : QWidget(parent) {
    m_page = new QWidget(this);
    m_chartView = new QChartView(new QChart, m_page);
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_residualView = new QChartView(new QChart, m_page);
    m_residualView->setRenderHint(QPainter::Antialiasing);
    auto* column = new QVBoxLayout(m_page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_chartView, 7);
    column->addWidget(m_residualView, 3);
    m_message = new QLabel(this);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::RichText);
    m_message->setMargin(24);
    m_message->setAutoFillBackground(true);
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::Window, Qt::white);
    m_message->setPalette(palette);
    QFont font = m_message->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    m_message->setFont(font);
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_page);
    m_stack->addWidget(m_message);

    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] { Refresh(); });
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, [this] { Refresh(); });
    // Started, not restarted: a log that grows every 100 ms must not hold the redraw off.
    auto settle = [this] {
        if (!m_settle.isActive())
            m_settle.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
}

PlotView::~PlotView() = default;

void PlotView::Open(const QString& path, Kind kind) {
    m_path = path;
    m_requestedKind = kind;
    m_shownKind = Kind::Automatic;
    m_reader.reset();
    m_sweepStamp.clear();
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    // The sweep file is written beside its name and renamed into place, and a new continuous
    // run creates its log anew: the directory tells when either appears.
    m_watcher.addPath(QFileInfo(path).absolutePath());
    Refresh();
    m_poll.start();
}

PlotView::Kind PlotView::DetectKind() const {
    if (m_requestedKind != Kind::Automatic)
        return m_requestedKind;
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray first = file.readLine(256);
        if (first.contains("Logfile versus Time"))
            return Kind::Continuous;
        if (first.contains("Measurement (Sweep)"))
            return Kind::Sweep;
    }
    return QFileInfo(m_path).fileName().compare("PhaseLogCont.csv", Qt::CaseInsensitive) == 0
               ? Kind::Continuous
               : Kind::Sweep;
}

void PlotView::Watch() {
    if (QFileInfo::exists(m_path) && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
}

bool PlotView::Refresh() {
    if (m_path.isEmpty())
        return false;
    QElapsedTimer timer;
    timer.start();
    Watch();
    const Kind kind = DetectKind();
    const bool kindChanged = kind != m_shownKind;
    m_shownKind = kind;
    const QString name = QFileInfo(m_path).fileName();

    if (kind == Kind::Continuous) {
        if (kindChanged || !m_reader)
            m_reader = std::make_unique<ContinuousLogReader>(m_path.toStdString());
        if (!m_reader->Update() && !kindChanged)
            return false;
        const ContinuousPlotData& data = m_reader->Data();
        if (data.loaded) {
            ShowChart(BuildContinuousChart(data, name));
        } else {
            ShowMessage(QString::fromStdString(data.error));
        }
    } else {
        m_reader.reset();
        // What tells a new sweep file: another size or time, or its absence.
        const QFileInfo info(m_path);
        const QString stamp =
            info.exists()
                ? QString("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch())
                : QString("absent");
        if (stamp == m_sweepStamp && !kindChanged)
            return false;
        m_sweepStamp = stamp;
        const SweepPlotData data = LoadSweepPlot(m_path.toStdString());
        if (data.loaded) {
            ShowChart(BuildSweepChart(data, name),
                      data.frequenciesMHz.size() > 1 ? BuildSweepResidualChart(data) : nullptr);
        } else {
            ShowMessage(QString::fromStdString(data.error));
        }
    }
    // A long log written at a short period would keep the window redrawing; the redraws
    // take at most about a third of the time.
    m_settle.setInterval(
        static_cast<int>(std::clamp<qint64>(2 * timer.elapsed(), kSettleMs, 5000)));
    emit Redrawn();
    return true;
}

void PlotView::ShowChart(QChart* chart, QChart* residual) {
    // A view lets go of the chart it held when given another.
    QChart* old = m_chartView->chart();
    m_chartView->setChart(chart);
    delete old;
    old = m_residualView->chart();
    m_residualView->setChart(residual ? residual : new QChart);
    delete old;
    m_residualView->setVisible(residual != nullptr);
    m_message->clear();
    m_reason.clear();
    m_stack->setCurrentWidget(m_page);
}

void PlotView::ShowMessage(const QString& reason) {
    m_reason = reason;
    m_message->setText(QString("<b>%1 cannot be shown</b><br><br>%2<br><br><small>%3</small>")
                           .arg(QFileInfo(m_path).fileName().toHtmlEscaped(),
                                reason.toHtmlEscaped(),
                                QFileInfo(m_path).absoluteFilePath().toHtmlEscaped()));
    m_stack->setCurrentWidget(m_message);
}

QChart* PlotView::Chart() const {
    return m_stack->currentWidget() == m_page ? m_chartView->chart() : nullptr;
}

QChart* PlotView::ResidualChart() const {
    return m_stack->currentWidget() == m_page && !m_residualView->isHidden()
               ? m_residualView->chart()
               : nullptr;
}

bool PlotView::SavePng(const QString& fileName, QSize size) {
    resize(size);
    m_stack->activate();
    QCoreApplication::processEvents();
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    render(&image);
    return image.save(fileName, "PNG");
}

}  // namespace korvel
