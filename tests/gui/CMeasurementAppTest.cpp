#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "CMeasurementApp.h"
#include "GuiTestSupport.h"
#include "QtSettingsStore.h"

namespace {

TEST(CMeasurementApp, RunsTheDialogModallyAndSavesTheSettingsWhenItCloses) {
    TestApplication();
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    {
        QSettings seed(QSettings::NativeFormat, QSettings::UserScope,
                       QtSettingsStore::kOrganisation, QtSettingsStore::kApplication);
        seed.setValue("StepLevel", "2.5");
    }

    bool sawModal = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            sawModal = true;
            modal->close();
        }
    });
    closer.start(20);

    CMeasurementApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(sawModal);

    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QtSettingsStore::kOrganisation,
                     QtSettingsStore::kApplication);
    EXPECT_EQ(stored.allKeys().size(), 13);
    EXPECT_EQ(stored.value("StepLevel").toString(), "2.500000");
    EXPECT_EQ(stored.value("StopFreq").toString(), "2000.000000");
    EXPECT_EQ(stored.value("VisaGenerator1").toString(), "28");
}

}  // namespace
