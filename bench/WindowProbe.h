// Start of the application to its main window, watched on an X display (scripts/bench starts
// Xvfb). The connect dialog comes up first; it is closed as a window manager would, which
// connects with the stored resource strings, and the time it stood on screen is not counted:
// the row is start to dialog plus close to main window. The main window is then closed the
// same way and the process's peak memory taken.
#pragma once

#include <string>
#include <vector>

struct WindowTiming {
    std::string error;  // empty when measured
    double startToDialogUs = 0.0;
    double closeToWindowUs = 0.0;
    double peakMiB = 0.0;
};

// False (with the reason) when no X display can be opened.
bool WindowProbeAvailable(std::string& reason);

WindowTiming MeasureStartToWindow(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  const std::string& dialogTitle, const std::string& windowTitle);
