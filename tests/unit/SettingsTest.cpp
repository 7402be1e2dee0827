#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/core/MeasurementSettings.h"
#include "instrument/NumberText.h"
#include "tests/support/MemorySettingsStore.h"

using namespace korvel;

namespace {

TEST(NumberText, FormatsLikePrintfAndParsesLikeAtofInTheCLocale) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> formatted[] = {{2000, "2000.000000"},
                                                        {-40, "-40.000000"},
                                                        {0.1234567, "0.123457"},
                                                        {kInf, "inf"},
                                                        {-kInf, "-inf"}};
    for (const auto& [value, text] : formatted)
        EXPECT_EQ(FormatFixed(value, 6), text);
    EXPECT_EQ(FormatFixed(1e9, 0), "1000000000");
    EXPECT_EQ(FormatFixed(-17.25, 1), "-17.2");  // round half to even on the exact binary value
    EXPECT_EQ(FormatFixed(1e300, 6).size(), 301u + 7u);

    const std::pair<std::string, double> parsed[] = {{"  -40.5dBm", -40.5},
                                                     {"+3e2,1", 300.0},
                                                     {"abc", 0.0},
                                                     {"", 0.0},
                                                     {"-", 0.0},
                                                     {".5", 0.5},
                                                     {"1,5", 1.0},
                                                     {"0x1A", 26.0},
                                                     {"0xg", 0.0},
                                                     {"1e999", HUGE_VAL},
                                                     {"-1e999", -HUGE_VAL},
                                                     {"1e-999", 0.0},
                                                     {"inf", kInf},
                                                     {std::string(100000, '9'), HUGE_VAL},
                                                     {"--5", 0.0},
                                                     {"+-5", 0.0},
                                                     {"-+5", 0.0},
                                                     {"- 5", 0.0},
                                                     {"-0x-1", 0.0}};
    for (const auto& [text, value] : parsed)
        EXPECT_EQ(ParseLeadingDouble(text), value) << text.substr(0, 20);
    EXPECT_TRUE(std::isnan(ParseLeadingDouble("nan")));
}

TEST(Settings, ReadAndWrittenInTheirOwnOrdersWithSixDecimals) {
    MemorySettingsStore store;
    MeasurementSettings s;
    s.StartFreq = 0.1234567;
    SaveSettings(s, store);
    EXPECT_EQ(store.writes, (std::vector<std::string>{
                                "VisaGenerator1", "VisaGenerator2", "VisaAnalyzer", "UseRF_B",
                                "StartFreq", "StopFreq", "StepFreq", "StartLevel", "StopLevel",
                                "StepLevel", "Period", "Average", "PhaseRotation", "Search"}));
    EXPECT_EQ(store.Text("StartFreq"), "0.123457");
    EXPECT_EQ(LoadSettings(store).StartFreq, 0.123457);  // six decimals survive, no more
    EXPECT_EQ(store.reads, (std::vector<std::string>{
                               "VisaGenerator1", "VisaGenerator2", "UseRF_B", "VisaAnalyzer",
                               "StartFreq", "StopFreq", "StepFreq", "StartLevel", "StopLevel",
                               "StepLevel", "Period", "Average", "PhaseRotation", "Search"}));
}

// Only "fast" chooses the fast search; anything a hand could leave there means the standard one.
TEST(Settings, TheSearchIsFastOnlyWhenStoredAsFastAndSavesAsItLoaded) {
    const std::pair<std::variant<std::string, std::uint32_t>, Search> cases[] = {
        {std::string("fast"), Search::Fast},     {std::string("standard"), Search::Standard},
        {std::string("Fast"), Search::Standard}, {std::string("fast "), Search::Standard},
        {std::string(""), Search::Standard},     {1u, Search::Standard}};
    for (const auto& [stored, search] : cases) {
        MemorySettingsStore store;
        store.values["Search"] = stored;
        EXPECT_EQ(LoadSettings(store).Search, search);
        SaveSettings(LoadSettings(store), store);
        EXPECT_EQ(store.Text("Search"), search == Search::Fast ? "fast" : "standard");
    }
    MemorySettingsStore missing;
    EXPECT_EQ(LoadSettings(missing).Search, Search::Standard);
}

TEST(Settings, HugeAndNonFiniteTextsLoadWithoutHarmAndSaveAsTheyLoaded) {
    MemorySettingsStore store;
    store.values["StopFreq"] = std::string("1e999");
    store.values["StepFreq"] = std::string("nan");
    store.values["StartLevel"] = std::string("-1e400");
    MeasurementSettings s = LoadSettings(store);
    EXPECT_TRUE(std::isinf(s.StopFreq));
    EXPECT_TRUE(std::isnan(s.StepFreq));
    EXPECT_EQ(s.StartLevel, -HUGE_VAL);
    SaveSettings(s, store);
    EXPECT_EQ(store.Text("StopFreq"), "inf");
    EXPECT_EQ(store.Text("StartLevel"), "-inf");
}

}  // namespace
