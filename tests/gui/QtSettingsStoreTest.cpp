#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <clocale>
#include <cstdio>

#include "MeasurementSettings.h"
#include "QtSettingsStore.h"

namespace {

class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    }
    QString FilePath() const {
        return dir.path() + "/" + QtSettingsStore::kOrganisation + "/" + QtSettingsStore::kApplication + ".conf";
    }
    QString FileText() const {
        QFile file(FilePath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << FilePath().toStdString();
        return QString::fromUtf8(file.readAll());
    }
    void WriteFileText(const QString& text) const {
        QDir().mkpath(dir.path() + "/" + QtSettingsStore::kOrganisation);
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
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

TEST_F(QtSettingsStoreTest, ACommaLocaleChangesNoStoredText) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 is not generated";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");
    MeasurementSettings s;
    s.StepFreq = 0.5;
    {
        QtSettingsStore store;
        SaveSettings(s, store);
    }
    EXPECT_TRUE(FileText().contains("StepFreq=0.500000"));
    QtSettingsStore store;
    EXPECT_EQ(LoadSettings(store).StepFreq, 0.5);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
