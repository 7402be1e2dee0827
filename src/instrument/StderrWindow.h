// The window of a tool that runs the procedures without one: boxes become lines on standard
// error, the connect dialog is never answered.
#pragma once

#include <cstdio>
#include <string>

#include "instrument/Window.h"

namespace korvel {

class StderrWindow : public Window {
public:
    explicit StderrWindow(const char* program) : m_program(program) {}
    void Refresh() override {}
    bool ReadWindow() override { return true; }
    void EnableButton(RunButton, bool) override {}
    void SetProgress(ProgressBarId, int, int, int) override {}
    void ShowWarning(const std::string& text) override {
        std::fprintf(stderr, "%s: warning: %s\n", m_program, text.c_str());
    }
    void ShowError(const std::string& text) override {
        std::fprintf(stderr, "%s: error: %s\n", m_program, text.c_str());
    }
    bool RunConnectDialog(ConnectValues&) override { return false; }

private:
    const char* m_program;
};

}  // namespace korvel
