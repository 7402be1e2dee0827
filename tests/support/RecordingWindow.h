// A window for procedure tests: records every window operation and prompt, and answers the
// connect dialog as scripted.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "instrument/Window.h"

using namespace korvel;

class RecordingWindow : public Window {
public:
    std::vector<std::string> log;  // one line per operation, e.g. "enable Stop 0"
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    bool readSucceeds = true;
    std::function<bool(ConnectValues&)> connectDialog = [](ConnectValues&) { return true; };
    std::function<void()> onRefresh;
    std::function<void()> onWarning;  // runs inside the box, as a nested loop would

    void Refresh() override {
        log.push_back("refresh");
        if (onRefresh)
            onRefresh();
    }
    bool ReadWindow() override {
        log.push_back("read");
        return readSucceeds;
    }
    void EnableButton(RunButton button, bool enable) override {
        static const char* kNames[] = {"StartSweep", "Stop", "GetPhaseSingle", "GetPhaseCont",
                                       "AdjustLevels"};
        log.push_back(std::string("enable ") + kNames[static_cast<int>(button)] +
                      (enable ? " 1" : " 0"));
    }
    void SetProgress(ProgressBarId bar, int lower, int upper, int position) override {
        log.push_back(
            std::string(bar == ProgressBarId::Sweep ? "progress sweep " : "progress deviation ") +
            std::to_string(lower) + " " + std::to_string(upper) + " " + std::to_string(position));
    }
    void ShowWarning(const std::string& text) override {
        log.push_back("warning");
        warnings.push_back(text);
        if (onWarning)
            onWarning();
    }
    void ShowError(const std::string& text) override {
        log.push_back("error");
        errors.push_back(text);
    }
    bool RunConnectDialog(ConnectValues& values) override {
        log.push_back("connect dialog");
        return connectDialog(values);
    }
};
