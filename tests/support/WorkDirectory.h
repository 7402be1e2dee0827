// A fresh temporary directory holding a valid dc.wv, made the working directory for the object's
// life, as the program's own working directory is when "Setup VRx" loads the waveform.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "sim/core/Waveform.h"

class WorkDirectory {
public:
    explicit WorkDirectory(const std::string& prefix = "korvel-test")
        : m_previous(std::filesystem::current_path()),
          m_path(std::filesystem::temp_directory_path() /
                 (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(s_count++))) {
        std::filesystem::create_directories(m_path);
        std::filesystem::current_path(m_path);
        std::string error;
        if (!sim::WriteWaveformFile("dc.wv", &error))
            throw std::runtime_error(error);
    }
    ~WorkDirectory() {
        std::filesystem::current_path(m_previous);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    static inline int s_count = 0;
    std::filesystem::path m_previous, m_path;
};
