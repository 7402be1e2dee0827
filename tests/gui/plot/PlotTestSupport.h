// Shared by the korvel-plot tests: one application object, a temporary directory per test,
// files written byte for byte, and lookups of series and axes by name.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractAxis>
#include <QAbstractSeries>
#include <QApplication>
#include <QChart>
#include <QTemporaryDir>
#include <QXYSeries>
#include <fstream>
#include <string>

#include "tests/support/TestApplication.h"

class PlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        ASSERT_TRUE(m_dir.isValid());
    }
    std::string Path(const std::string& name) const {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }
    QString QPath(const std::string& name) const { return QString::fromStdString(Path(name)); }
    void Write(const std::string& name, const std::string& text,
               std::ios::openmode mode = std::ios::trunc) const {
        std::ofstream(Path(name), std::ios::binary | std::ios::out | mode) << text;
    }
    void Append(const std::string& name, const std::string& text) const {
        Write(name, text, std::ios::app);
    }

private:
    QTemporaryDir m_dir;
};

inline QAbstractSeries* FindSeries(QChart* chart, const QString& name) {
    for (QAbstractSeries* series : chart ? chart->series() : QList<QAbstractSeries*>())
        if (series->name() == name)
            return series;
    return nullptr;
}

inline QXYSeries* FindXY(QChart* chart, const QString& name) {
    return qobject_cast<QXYSeries*>(FindSeries(chart, name));
}

inline QStringList SeriesNames(QChart* chart) {
    QStringList names;
    for (QAbstractSeries* series : chart ? chart->series() : QList<QAbstractSeries*>())
        names << series->name();
    return names;
}

// The series' axis of the given orientation.
template <typename Axis>
Axis* AxisOf(QAbstractSeries* series, Qt::Orientation orientation) {
    for (QAbstractAxis* axis : series ? series->attachedAxes() : QList<QAbstractAxis*>())
        if (axis->orientation() == orientation)
            return qobject_cast<Axis*>(axis);
    return nullptr;
}
