#include "MeasurementCore.h"

MeasurementCore::MeasurementCore(SettingsStore& store, Window& window)
    : m_store(store), m_window(window), m_settings(LoadSettings(store)) {}

MeasurementCore::~MeasurementCore() {
    ReleaseInstruments();
    m_connected = false;
    SaveSettings(m_settings, m_store);
}

void MeasurementCore::ReleaseInstruments() {
    m_generator1.reset();
    m_generator2.reset();
    m_analyzer.reset();
}
