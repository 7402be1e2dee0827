#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

#include "../support/MemorySettingsStore.h"
#include "MeasurementSettings.h"
#include "NumberText.h"

namespace {

TEST(NumberText, FormatsLikePrintfAndParsesLikeAtofInTheCLocale) {
    EXPECT_EQ(FormatFixed(2000, 6), "2000.000000");
    EXPECT_EQ(FormatFixed(-40, 6), "-40.000000");
    EXPECT_EQ(FormatFixed(0.1234567, 6), "0.123457");
    EXPECT_EQ(FormatFixed(1e9, 0), "1000000000");
    EXPECT_EQ(FormatFixed(-17.25, 1), "-17.2");  // round half to even on the exact binary value
    EXPECT_EQ(FormatFixed(1e300, 6).size(), 301u + 7u);
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 6), "inf");
    EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 6), "-inf");

    EXPECT_EQ(ParseLeadingDouble("  -40.5dBm"), -40.5);
    EXPECT_EQ(ParseLeadingDouble("+3e2,1"), 300.0);
    EXPECT_EQ(ParseLeadingDouble("abc"), 0.0);
    EXPECT_EQ(ParseLeadingDouble(""), 0.0);
    EXPECT_EQ(ParseLeadingDouble("-"), 0.0);
    EXPECT_EQ(ParseLeadingDouble(".5"), 0.5);
    EXPECT_EQ(ParseLeadingDouble("1,5"), 1.0);  // a comma is not a decimal mark here
    EXPECT_EQ(ParseLeadingDouble("0x1A"), 26.0);
    EXPECT_EQ(ParseLeadingDouble("0xg"), 0.0);
    EXPECT_EQ(ParseLeadingDouble("1e999"), HUGE_VAL);
    EXPECT_EQ(ParseLeadingDouble("-1e999"), -HUGE_VAL);
    EXPECT_EQ(ParseLeadingDouble("1e-999"), 0.0);
    EXPECT_TRUE(std::isinf(ParseLeadingDouble("inf")));
    EXPECT_TRUE(std::isnan(ParseLeadingDouble("nan")));
    EXPECT_EQ(ParseLeadingDouble(std::string(100000, '9')), HUGE_VAL);
}

TEST(Settings, AnEmptyStoreGivesTheDefaultsReadInDeclarationOrder) {
    MemorySettingsStore store;
    MeasurementSettings s = LoadSettings(store);
    EXPECT_EQ(s.VisaGenerator1, "28");
    EXPECT_EQ(s.VisaGenerator2, "27");
    EXPECT_EQ(s.VisaAnalyzer, "20");
    EXPECT_EQ(s.UseRF_B, 1);
    EXPECT_EQ(s.StartFreq, 10.0);
    EXPECT_EQ(s.StopFreq, 2000.0);
    EXPECT_EQ(s.StepFreq, 10.0);
    EXPECT_EQ(s.StartLevel, -40.0);
    EXPECT_EQ(s.StopLevel, 10.0);
    EXPECT_EQ(s.StepLevel, 5.0);
    EXPECT_EQ(s.Period, 10.0);
    EXPECT_EQ(s.Average, 1u);
    EXPECT_EQ(s.PhaseRotation, 1);
    EXPECT_EQ(store.reads, (std::vector<std::string>{"VisaGenerator1", "VisaGenerator2", "UseRF_B", "VisaAnalyzer",
                                                     "StartFreq", "StopFreq", "StepFreq", "StartLevel", "StopLevel",
                                                     "StepLevel", "Period", "Average", "PhaseRotation"}));
}

TEST(Settings, SaveWritesExactTextsInOrderAndLoadReadsThemBack) {
    MemorySettingsStore store;
    MeasurementSettings s;
    s.VisaGenerator1 = "TCPIP::127.0.0.28::INSTR";
    s.StartFreq = 0.1234567;
    s.StopLevel = -0.5;
    s.Average = 4294967295u;
    s.UseRF_B = 0;
    SaveSettings(s, store);
    EXPECT_EQ(store.writes, (std::vector<std::string>{"VisaGenerator1", "VisaGenerator2", "VisaAnalyzer", "UseRF_B",
                                                      "StartFreq", "StopFreq", "StepFreq", "StartLevel", "StopLevel",
                                                      "StepLevel", "Period", "Average", "PhaseRotation"}));
    EXPECT_EQ(store.Text("StopFreq"), "2000.000000");
    EXPECT_EQ(store.Text("StartLevel"), "-40.000000");
    EXPECT_EQ(store.Text("StartFreq"), "0.123457");

    MeasurementSettings back = LoadSettings(store);
    EXPECT_EQ(back.VisaGenerator1, s.VisaGenerator1);
    EXPECT_EQ(back.StartFreq, 0.123457);  // six decimals survive, no more
    EXPECT_EQ(back.StopLevel, -0.5);
    EXPECT_EQ(back.Average, 4294967295u);  // used as stored, not clamped
    EXPECT_EQ(back.UseRF_B, 0);
}

TEST(Settings, JunkHugeAndNonFiniteTextsLoadWithoutHarm) {
    MemorySettingsStore store;
    store.values["StartFreq"] = std::string("letters only");
    store.values["StopFreq"] = std::string("1e999");
    store.values["StepFreq"] = std::string("nan");
    store.values["StartLevel"] = std::string("-1e400");
    store.values["Average"] = std::string("12");  // wrong type in the store: the default
    MeasurementSettings s = LoadSettings(store);
    EXPECT_EQ(s.StartFreq, 0.0);
    EXPECT_TRUE(std::isinf(s.StopFreq));
    EXPECT_TRUE(std::isnan(s.StepFreq));
    EXPECT_EQ(s.StartLevel, -HUGE_VAL);
    EXPECT_EQ(s.Average, 1u);
    SaveSettings(s, store);
    EXPECT_EQ(store.Text("StopFreq"), "inf");
    EXPECT_EQ(store.Text("StartFreq"), "0.000000");
}

TEST(Settings, TextsUseAPointUnderACommaLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    std::string saved = previous ? previous : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 is not generated";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");  // the locale really took effect

    MemorySettingsStore store;
    MeasurementSettings s;
    s.StepFreq = 2.5;
    SaveSettings(s, store);
    EXPECT_EQ(store.Text("StepFreq"), "2.500000");
    EXPECT_EQ(LoadSettings(store).StepFreq, 2.5);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
