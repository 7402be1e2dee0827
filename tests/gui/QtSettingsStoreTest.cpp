#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <map>

#include "GuiTestSupport.h"
#include "app/core/MeasurementSettings.h"
#include "app/settings/QtSettingsStore.h"
#include "app/ui/CMeasurementApp.h"

using namespace korvel;

namespace {

class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QDir().mkpath(dir.path() + "/" + QtSettingsStore::kOrganisation);
    }
    QString FileText() const {
        QFile file(FilePath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << FilePath().toStdString();
        return QString::fromUtf8(file.readAll());
    }
    void WriteFileText(const QString& text) const {
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }
    QString FilePath() const {
        return dir.path() + "/" + QtSettingsStore::kOrganisation + "/" +
               QtSettingsStore::kApplication + ".conf";
    }
    QTemporaryDir dir;
};

TEST_F(QtSettingsStoreTest, RoundTripStoresDoublesAsPointTextsAndIntegersAsNumbers) {
    MeasurementSettings s;
    s.VisaGenerator1 = "TCPIP0::127.0.0.1::gpib0,28::INSTR";
    s.Average = 4294967295u;
    s.PhaseRotation = 0;
    {
        QtSettingsStore store;
        SaveSettings(s, store);
    }
    const QString text = FileText();
    EXPECT_TRUE(text.contains("StopFreq=2000.000000")) << text.toStdString();
    EXPECT_TRUE(text.contains("StartLevel=-40.000000"));
    EXPECT_TRUE(text.contains("Average=4294967295"));
    EXPECT_FALSE(text.contains("Average=\"")) << "an integer, not a quoted text";

    QtSettingsStore store;
    MeasurementSettings back = LoadSettings(store);
    EXPECT_EQ(back.VisaGenerator1, s.VisaGenerator1);
    EXPECT_EQ(back.StopFreq, 2000.0);
    EXPECT_EQ(back.Average, 4294967295u);
    EXPECT_EQ(back.PhaseRotation, 0);
}

// The registry keeps what QSettings is handed: a 32-bit integer as DWORD, a 64-bit one as QWORD.
// The INI file reads both back alike, so a format of our own records the types handed over; the
// registry's own types cannot be looked at on these machines.
TEST_F(QtSettingsStoreTest, IntegersAreHandedOverAs32BitValuesAndDoublesAsTexts) {
    static std::map<QString, int> handed;
    const QSettings::Format recording = QSettings::registerFormat(
        "types", [](QIODevice&, QSettings::SettingsMap&) { return true; },
        [](QIODevice&, const QSettings::SettingsMap& map) {
            for (auto it = map.begin(); it != map.end(); ++it)
                handed[it.key()] = it.value().typeId();
            return true;
        });
    QSettings::setPath(recording, QSettings::UserScope, dir.path());
    MeasurementSettings s;
    s.PhaseRotation = -1;
    {
        QtSettingsStore store(recording);
        SaveSettings(s, store);
    }
    for (const char* key : {"UseRF_B", "Average", "PhaseRotation"})
        EXPECT_EQ(handed[key], QMetaType::UInt) << key;
    EXPECT_EQ(handed["StartFreq"], QMetaType::QString);
}

// A comma in an unquoted INI value makes a list of it; integers out of 32 bits give the default.
TEST_F(QtSettingsStoreTest, HandEditedJunkLoadsAsZeroOrDefault) {
    WriteFileText(
        "[General]\nStartFreq=letters\nAverage=abc\nUseRF_B=99999999999\nPhaseRotation=-1\n"
        "VisaAnalyzer=TCPIP::h::gpib0,20::INSTR\nStepLevel=\n");
    QtSettingsStore store;
    MeasurementSettings s = LoadSettings(store);
    EXPECT_EQ(s.StartFreq, 0.0);
    EXPECT_EQ(s.Average, 1u);
    EXPECT_EQ(s.UseRF_B, 1);
    EXPECT_EQ(s.PhaseRotation, -1);
    EXPECT_EQ(s.VisaAnalyzer, "TCPIP::h::gpib0,20::INSTR");
    EXPECT_EQ(s.StepLevel, 0.0);
    EXPECT_EQ(s.StopFreq, 2000.0);
}

TEST_F(QtSettingsStoreTest, TheApplicationRunsItsWindowModallyAndSavesEveryValueWhenItCloses) {
    TestApplication();
    WriteFileText("[General]\nStepLevel=2.5\n");
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
    EXPECT_EQ(stored.allKeys().size(), 14);
    EXPECT_EQ(stored.value("Search").toString(), "standard");
    EXPECT_EQ(stored.value("StepLevel").toString(), "2.500000");
    EXPECT_EQ(stored.value("StopFreq").toString(), "2000.000000");
    EXPECT_EQ(stored.value("VisaGenerator1").toString(), "28");
}

}  // namespace
