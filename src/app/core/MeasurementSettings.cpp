#include "MeasurementSettings.h"

#include "instrument/NumberText.h"

namespace korvel {

namespace {
double ReadDouble(SettingsStore& store, const char* key, const char* defaultText) {
    return ParseLeadingDouble(store.ReadString(key, defaultText));
}
}  // namespace

MeasurementSettings LoadSettings(SettingsStore& store) {
    MeasurementSettings s;
    s.VisaGenerator1 = store.ReadString("VisaGenerator1", "28");
    s.VisaGenerator2 = store.ReadString("VisaGenerator2", "27");
    s.UseRF_B = static_cast<std::int32_t>(store.ReadInteger("UseRF_B", 1));
    s.VisaAnalyzer = store.ReadString("VisaAnalyzer", "20");
    s.StartFreq = ReadDouble(store, "StartFreq", "10.0");
    s.StopFreq = ReadDouble(store, "StopFreq", "2000.0");
    s.StepFreq = ReadDouble(store, "StepFreq", "10.0");
    s.StartLevel = ReadDouble(store, "StartLevel", "-40.0");
    s.StopLevel = ReadDouble(store, "StopLevel", "10.0");
    s.StepLevel = ReadDouble(store, "StepLevel", "5.0");
    s.Period = ReadDouble(store, "Period", "10.0");
    s.Average = store.ReadInteger("Average", 1);
    s.PhaseRotation = static_cast<std::int32_t>(store.ReadInteger("PhaseRotation", 1));
    s.Search = store.ReadString("Search", "standard") == "fast" ? Search::Fast : Search::Standard;
    return s;
}

void SaveSettings(const MeasurementSettings& s, SettingsStore& store) {
    store.WriteString("VisaGenerator1", s.VisaGenerator1);
    store.WriteString("VisaGenerator2", s.VisaGenerator2);
    store.WriteString("VisaAnalyzer", s.VisaAnalyzer);
    store.WriteInteger("UseRF_B", static_cast<std::uint32_t>(s.UseRF_B));
    store.WriteString("StartFreq", FormatFixed(s.StartFreq, 6));
    store.WriteString("StopFreq", FormatFixed(s.StopFreq, 6));
    store.WriteString("StepFreq", FormatFixed(s.StepFreq, 6));
    store.WriteString("StartLevel", FormatFixed(s.StartLevel, 6));
    store.WriteString("StopLevel", FormatFixed(s.StopLevel, 6));
    store.WriteString("StepLevel", FormatFixed(s.StepLevel, 6));
    store.WriteString("Period", FormatFixed(s.Period, 6));
    store.WriteInteger("Average", s.Average);
    store.WriteInteger("PhaseRotation", static_cast<std::uint32_t>(s.PhaseRotation));
    store.WriteString("Search", s.Search == Search::Fast ? "fast" : "standard");
}

}  // namespace korvel
