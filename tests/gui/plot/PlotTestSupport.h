// Shared by the korvel-plot tests: one application object, a temporary directory per test,
// files written byte for byte, and a wait that keeps the event loop running.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractAxis>
#include <QAbstractSeries>
#include <QApplication>
#include <QChart>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QXYSeries>
#include <fstream>
#include <functional>
#include <string>

inline QApplication& PlotTestApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *app;
    static int argc = 1;
    static char name[] = "korvel_plot_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);  // lives to the process end
    return *application;
}

class PlotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PlotTestApplication();
        ASSERT_TRUE(m_dir.isValid());
    }
    std::string Path(const std::string& name) const {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }
    QString QPath(const std::string& name) const { return QString::fromStdString(Path(name)); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    void Append(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary | std::ios::app) << text;
    }
    // Runs the event loop until done() or the time is up; the answer of done() at the end.
    static bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
        return true;
    }

  private:
    QTemporaryDir m_dir;
};

inline QAbstractSeries* FindSeries(QChart* chart, const QString& name) {
    if (!chart)
        return nullptr;
    for (QAbstractSeries* series : chart->series()) {
        if (series->name() == name)
            return series;
    }
    return nullptr;
}

inline QXYSeries* FindXY(QChart* chart, const QString& name) {
    return qobject_cast<QXYSeries*>(FindSeries(chart, name));
}

inline QStringList SeriesNames(QChart* chart) {
    QStringList names;
    if (chart) {
        for (QAbstractSeries* series : chart->series())
            names << series->name();
    }
    return names;
}

// The series' axis of the given orientation and, when asked, alignment.
template <typename Axis>
Axis* AxisOf(QAbstractSeries* series, Qt::Orientation orientation) {
    if (!series)
        return nullptr;
    for (QAbstractAxis* axis : series->attachedAxes()) {
        if (axis->orientation() == orientation)
            return qobject_cast<Axis*>(axis);
    }
    return nullptr;
}
