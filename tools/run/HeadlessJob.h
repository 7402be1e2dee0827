// One korvel-run command on the window's core: the bench overrides applied, the command run to
// its end or to a stop signal, the results printed.
#pragma once

#include <string>

#include "RunCommandLine.h"
#include "app/core/MeasurementSettings.h"

namespace korvel {

// The store the core loads from and, with --save only, saves to.
class RunStore : public SettingsStore {
public:
    RunStore(SettingsStore& store, bool writes) : m_store(store), m_writes(writes) {}
    std::string ReadString(const std::string& key, const std::string& defaultValue) override {
        return m_store.ReadString(key, defaultValue);
    }
    std::uint32_t ReadInteger(const std::string& key, std::uint32_t defaultValue) override {
        return m_store.ReadInteger(key, defaultValue);
    }
    void WriteString(const std::string& key, const std::string& value) override {
        if (m_writes)
            m_store.WriteString(key, value);
    }
    void WriteInteger(const std::string& key, std::uint32_t value) override {
        if (m_writes)
            m_store.WriteInteger(key, value);
    }

private:
    SettingsStore& m_store;
    bool m_writes;
};

enum ExitCode { kExitMeasured = 0, kExitFailed = 1, kExitUsage = 2 };

// Runs the command; storeLocation names the store in messages. Returns the exit code.
int RunHeadlessJob(const RunOptions& options, SettingsStore& store,
                   const std::string& storeLocation);

}  // namespace korvel
