// One plotted result file: the chart, or a message saying why the file cannot be shown. It
// watches the file and redraws when it changes, is replaced or appears.
#pragma once

#include <QFileSystemWatcher>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

class QChart;
class QChartView;
class QLabel;
class QStackedLayout;
namespace korvel {

class ContinuousLogReader;

class PlotView : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Automatic, Sweep, Continuous };

    explicit PlotView(QWidget* parent = nullptr);
    ~PlotView() override;

    // Automatic tells the two files apart by their first line, else by the name.
    void Open(const QString& path, Kind kind = Kind::Automatic);
    // Reads the file again if it changed; true when the view was redrawn.
    bool Refresh();

    Kind ShownKind() const { return m_shownKind; }
    QChart* Chart() const;                        // nullptr while a message is shown
    QChart* ResidualChart() const;                // sweeps of two or more frequencies; else nullptr
    QString Message() const { return m_reason; }  // why not; empty while a chart is shown

    // Renders at size into a PNG file; false when it cannot be written.
    bool SavePng(const QString& fileName, QSize size);

signals:
    void Redrawn();

private:
    Kind DetectKind() const;
    void ShowChart(QChart* chart, QChart* residual = nullptr);
    void ShowMessage(const QString& reason);
    void Watch();

    QString m_path;
    Kind m_requestedKind = Kind::Automatic;
    Kind m_shownKind = Kind::Automatic;
    std::unique_ptr<ContinuousLogReader> m_reader;
    QString m_sweepStamp;  // size and time of the sweep file last read
    QFileSystemWatcher m_watcher;
    QTimer m_settle;  // gathers the burst of events one write causes
    QTimer m_poll;    // for file systems that send no change events
    QStackedLayout* m_stack = nullptr;
    QWidget* m_page = nullptr;
    QChartView* m_chartView = nullptr;
    QChartView* m_residualView = nullptr;
    QLabel* m_message = nullptr;
    QString m_reason;
};

}  // namespace korvel
