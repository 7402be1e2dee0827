// The window of korvel-run: boxes are lines on standard error (and kept for the results), the
// measurement in progress is abandoned after a second stop signal, and a progress line is kept
// at the bottom of a terminal.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "instrument/StderrWindow.h"

namespace korvel {

// Counts SIGINT, SIGTERM and SIGHUP; the first asks the run to stop after the point in progress,
// the second to abandon that point.
struct StopSignals {
    static void Install();
    static int Count();
    static int Last();  // the number of the last one, 0 when none came
};

class ConsoleWindow : public StderrWindow {
public:
    // terminal: progress is one line rewritten in place; otherwise a line per update.
    ConsoleWindow(bool showProgress, bool terminal)
        : StderrWindow("korvel-run"), m_showProgress(showProgress), m_terminal(terminal) {}
    ~ConsoleWindow() override { EndProgress(); }

    void ShowWarning(const std::string& text) override {
        EndProgress();
        StderrWindow::ShowWarning(text);
        messages.push_back(text);
    }
    void ShowError(const std::string& text) override {
        EndProgress();
        StderrWindow::ShowError(text);
        messages.push_back(text);
    }
    bool Terminal() const { return m_terminal && m_showProgress; }
    bool Abandoning() const override { return StopSignals::Count() >= 2; }

    void Progress(const std::string& line) {
        if (!m_showProgress)
            return;
        if (m_terminal) {
            std::fprintf(stderr, "\r\033[K%s", line.c_str());
            m_lineOpen = true;
        } else {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        std::fflush(stderr);
    }
    // Ends a progress line still open, so that the next text starts on a line of its own.
    void EndProgress() {
        if (m_lineOpen)
            std::fputc('\n', stderr);
        m_lineOpen = false;
    }

    std::vector<std::string> messages;  // every box shown, in order

private:
    bool m_showProgress;
    bool m_terminal;
    bool m_lineOpen = false;
};

}  // namespace korvel
