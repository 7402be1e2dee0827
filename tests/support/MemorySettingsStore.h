// An in-memory settings store that records the order of reads and writes.
#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "app/core/MeasurementSettings.h"

using namespace korvel;

class MemorySettingsStore : public SettingsStore {
public:
    std::map<std::string, std::variant<std::string, std::uint32_t>> values;
    std::vector<std::string> reads, writes;

    std::string ReadString(const std::string& key, const std::string& defaultValue) override {
        reads.push_back(key);
        auto it = values.find(key);
        if (it == values.end() || !std::holds_alternative<std::string>(it->second))
            return defaultValue;
        return std::get<std::string>(it->second);
    }
    std::uint32_t ReadInteger(const std::string& key, std::uint32_t defaultValue) override {
        reads.push_back(key);
        auto it = values.find(key);
        if (it == values.end() || !std::holds_alternative<std::uint32_t>(it->second))
            return defaultValue;
        return std::get<std::uint32_t>(it->second);
    }
    void WriteString(const std::string& key, const std::string& value) override {
        writes.push_back(key);
        values[key] = value;
    }
    void WriteInteger(const std::string& key, std::uint32_t value) override {
        writes.push_back(key);
        values[key] = value;
    }
    std::string Text(const std::string& key) const { return std::get<std::string>(values.at(key)); }
};
