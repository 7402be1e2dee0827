// Everything the procedures may do with the window: refresh it, read it, enable a run button,
// set a progress bar, and the two user prompts. The Qt dialog realises it; tests record it.
#pragma once

#include <cstdint>
#include <string>

namespace korvel {

enum class RunButton { StartSweep, Stop, GetPhaseSingle, GetPhaseCont, AdjustLevels };
enum class ProgressBarId { Sweep, Deviation };

// The four values the connect dialog edits.
struct ConnectValues {
    std::string visaGenerator1;
    std::string visaGenerator2;
    std::string visaAnalyzer;
    std::int32_t useRfB = 1;  // check state, used as bool
};

class Window {
public:
    virtual ~Window() = default;
    // Writes every bound member into its control.
    virtual void Refresh() = 0;
    // Converts every bound control into its member; false (with a message and the focus on the
    // failing control) at the first one that does not convert.
    virtual bool ReadWindow() = 0;
    virtual void EnableButton(RunButton button, bool enable) = 0;
    virtual void SetProgress(ProgressBarId bar, int lower, int upper, int position) = 0;
    // Modal boxes; they return when the user has closed them.
    virtual void ShowWarning(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;
    // The modal connect dialog; true when confirmed with OK (values then hold the entries).
    virtual bool RunConnectDialog(ConnectValues& values) = 0;
    // True once the measurement in progress is to be given up: it takes no further reading and
    // measures nothing. The window never asks this; a headless run does on a second stop signal.
    virtual bool Abandoning() const { return false; }
};

}  // namespace korvel
