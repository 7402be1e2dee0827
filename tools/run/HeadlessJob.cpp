#include "HeadlessJob.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "ConsoleWindow.h"
#include "app/core/MeasurementCore.h"
#include "instrument/MessageSink.h"
#include "instrument/NumberText.h"

namespace korvel {

namespace {

std::atomic<int> g_signals{0};
std::atomic<int> g_lastSignal{0};

extern "C" void OnStopSignal(int number) {
    g_lastSignal.store(number);
    g_signals.fetch_add(1);
}

using SteadyClock = std::chrono::steady_clock;

std::string Clock(SteadyClock::duration d) {
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

std::string Phase(double phase) {
    return phase == kNotMeasured ? std::string("not measured") : FormatFixed(phase, 3) + " deg";
}

// What a command found, printed as text or as one JSON object.
struct Results {
    std::string command;
    std::optional<double> phase;
    std::vector<double> passes;
    int count = 0;
    std::optional<int> total;
    std::optional<double> average, deviation;
    std::vector<std::string> identifications, files, failures;
    int fellBack = 0;
    std::string fallBackReason;
    struct Point {
        double frequencyMHz, levelDbm, phase;
    };
    std::vector<Point> points;
    std::string status;
    int signal = 0;
};

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonNumber(std::optional<double> value) {
    if (!value || !std::isfinite(*value) || *value == kNotMeasured)
        return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", *value);
    return text;
}

std::string JsonTexts(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const auto& text : texts)
        out += (out.size() > 1 ? ", " : "") + JsonText(text);
    return out + "]";
}

void PrintJson(const Results& r) {
    std::string passes = "[";
    for (double d : r.passes)
        passes += (passes.size() > 1 ? ", " : "") + JsonNumber(d);
    std::string points = "[";
    for (const auto& p : r.points) {
        points += std::string(points.size() > 1 ? ", " : "") +
                  "{\"frequencyMHz\": " + JsonNumber(p.frequencyMHz) +
                  ", \"levelDbm\": " + JsonNumber(p.levelDbm) +
                  ", \"phase\": " + JsonNumber(p.phase) + "}";
    }
    std::printf(
        "{\"command\": %s, \"phase\": %s, \"passes\": %s, \"count\": %d, \"total\": %s, "
        "\"average\": %s, \"deviation\": %s, \"points\": %s, \"identifications\": %s, "
        "\"files\": %s, \"failures\": %s, \"fellBack\": %d, \"fallBackReason\": %s, "
        "\"status\": %s, \"signal\": %d}\n",
        JsonText(r.command).c_str(), JsonNumber(r.phase).c_str(), (passes + "]").c_str(), r.count,
        r.total ? std::to_string(*r.total).c_str() : "null", JsonNumber(r.average).c_str(),
        JsonNumber(r.deviation).c_str(), (points + "]").c_str(),
        JsonTexts(r.identifications).c_str(), JsonTexts(r.files).c_str(),
        JsonTexts(r.failures).c_str(), r.fellBack, JsonText(r.fallBackReason).c_str(),
        JsonText(r.status).c_str(), r.signal);
}

void PrintText(const Results& r) {
    for (const auto& line : r.identifications)
        std::printf("%s\n", line.c_str());
    if (r.command == "measure" || r.command == "adjust-zero") {
        if (r.phase)
            std::printf("%s\n", FormatFixed(*r.phase, 3).c_str());
    } else if (r.command == "sweep") {
        std::printf("%d of %d points measured", r.count, r.total.value_or(0));
        if (r.phase)
            std::printf(", last phase %s", FormatFixed(*r.phase, 3).c_str());
        std::printf("\n");
    } else if (r.command == "continuous") {
        std::printf("%d samples", r.count);
        if (r.average)
            std::printf(", average %s deg, deviation %s deg", FormatFixed(*r.average, 3).c_str(),
                        FormatFixed(r.deviation.value_or(0.0), 3).c_str());
        std::printf("\n");
    }
    if (r.fellBack > 0)
        std::printf("fast search: %d passes fell back\n", r.fellBack);
    for (const auto& file : r.files)
        std::printf("written: %s\n", file.c_str());
    std::fflush(stdout);
}

// The instruments the measurement needs that did not answer, each with its flag and setting.
std::vector<std::string> Unreached(const MeasurementCore& core, const std::string& storeLocation) {
    const Instruments& in = core.GetInstruments();
    const MeasurementSettings& s = core.Settings();
    struct Need {
        const CVisaDevice* device;
        const char* what;
        const std::string& resource;
        const char* flag;
        const char* key;
    };
    const Need needs[] = {
        {in.generator1.get(), "generator 1", s.VisaGenerator1, "--gen1", "VisaGenerator1"},
        {s.UseRF_B ? nullptr : in.generator2.get(), "generator 2", s.VisaGenerator2, "--gen2",
         "VisaGenerator2"},
        {in.analyzer.get(), "the analyzer", s.VisaAnalyzer, "--analyzer", "VisaAnalyzer"}};
    std::vector<std::string> lines;
    for (const Need& need : needs) {
        if (!need.device || need.device->IsConnected())
            continue;
        lines.push_back(std::string("no answer from ") + need.what + " at " + need.resource +
                        ": give its resource with " + need.flag + " (--save keeps it), or set " +
                        need.key + " in " + storeLocation);
    }
    return lines;
}

// The first session the run needs that has failed since it was opened.
std::string LostSession(const MeasurementCore& core) {
    const Instruments& in = core.GetInstruments();
    for (const CVisaDevice* device : {in.generator1.get(), in.generator2.get(), in.analyzer.get()})
        if (device && !device->IsConnected())
            return "the session to " + device->Resource() + " failed";
    return {};
}

class Job {
public:
    Job(const RunOptions& options, SettingsStore& store, const std::string& storeLocation)
        : o(options),
          m_storeLocation(storeLocation),
          m_store(store, options.save),
          m_window(!options.quiet, isatty(2) != 0) {}

    int Run() {
        SetMessageSink([this](const std::string& text) { m_window.ShowWarning(text); });
        int code = kExitMeasured;
        {
            MeasurementCore core(m_store, m_window);
            Apply(core);
            code = Connect(core);
            if (code == kExitMeasured)
                code = Command(core);
            Settle(core);
            r.status = Named(core.StatusText());
        }  // the core saves the settings here: with --save only, through the store wrapper
        SetMessageSink({});
        m_window.EndProgress();
        r.failures.insert(r.failures.begin(), m_window.messages.begin(), m_window.messages.end());
        if (StopSignals::Count() > 0) {
            r.signal = StopSignals::Last();
            code = 128 + r.signal;
        } else if (code == kExitMeasured && !r.failures.empty()) {
            code = kExitFailed;
        }
        if (o.json) {
            PrintJson(r);
        } else {
            PrintText(r);
        }
        return code;
    }

private:
    void Apply(MeasurementCore& core) {
        MeasurementSettings& s = core.Settings();
        if (o.generator1)
            s.VisaGenerator1 = *o.generator1;
        if (o.generator2)
            s.VisaGenerator2 = *o.generator2;
        if (o.analyzer)
            s.VisaAnalyzer = *o.analyzer;
        if (o.useRfB)
            s.UseRF_B = *o.useRfB ? 1 : 0;
        if (o.search)
            s.Search = *o.search == "fast" ? Search::Fast : Search::Standard;
        if (o.average)
            s.Average = *o.average;
        if (o.rotation)
            s.PhaseRotation = *o.rotation ? 1 : 0;
        if (!o.output.empty()) {
            core.SetResultPath(
                o.command == Command::Continuous ? kContinuousFileName : kSweepFileName, o.output);
        }
        if (!o.table.empty())
            core.SetResultPath(kSweepFileName, o.table);
    }

    int Connect(MeasurementCore& core) {
        r.command = Name();
        core.OnConnect();
        std::string text = core.GetInstruments().connectionText;
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            r.identifications.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        if (core.IsConnected())
            return kExitMeasured;
        for (const std::string& line : Unreached(core, m_storeLocation)) {
            std::fprintf(stderr, "korvel-run: %s\n", line.c_str());
            r.failures.push_back(line);
        }
        return kExitFailed;
    }

    // Commands may end in writes (the set-up's outputs, the analyzer's continuous sweep) that
    // an instrument has not taken in when the program exits and the session closes: each session
    // still up answers *OPC? first.
    static void Settle(const MeasurementCore& core) {
        const Instruments& in = core.GetInstruments();
        for (CVisaDevice* device : {in.generator1.get(), in.generator2.get(), in.analyzer.get()})
            if (device && device->IsConnected())
                device->Query("*OPC?");
    }

    std::string Name() const {
        static const char* names[] = {"connect",    "setup",       "measure",      "sweep",
                                      "continuous", "adjust-zero", "adjust-levels"};
        return names[static_cast<int>(o.command)];
    }

    int Command(MeasurementCore& core) {
        if (o.command != Command::Connect)
            r.identifications.clear();
        switch (o.command) {
            case Command::Connect:
                return kExitMeasured;
            case Command::Setup:
                core.SetupGenerators();
                return kExitMeasured;
            case Command::Measure:
                return Measure(core);
            case Command::Sweep:
                return Sweep(core);
            case Command::Continuous:
                return Continuous(core);
            case Command::AdjustZero:
            case Command::AdjustLevels:
                return Adjust(core);
        }
        return kExitMeasured;
    }

    // The core's texts name the result files by their default names; -o and --table put them
    // elsewhere, and the user is told the name given.
    std::string Named(std::string text) const {
        auto rename = [&text](const std::string& name, const std::string& path) {
            if (path.empty())
                return;
            for (auto at = text.find(name); at != std::string::npos;
                 at = text.find(name, at + path.size()))
                text.replace(at, name.size(), path);
        };
        rename(o.command == Command::Continuous ? kContinuousFileName : kSweepFileName, o.output);
        rename(kSweepFileName, o.table);
        return text;
    }

    // The text a procedure leaves in the status line is its failure.
    int Failed(const std::string& status) {
        if (status.empty())
            return kExitMeasured;
        const std::string text = Named(status);
        std::fprintf(stderr, "korvel-run: %s\n", text.c_str());
        r.failures.push_back(text);
        return kExitFailed;
    }

    int Measure(MeasurementCore& core) {
        core.OnGetPhaseSingle();
        const MeasureReport& report = core.LastReport();
        r.passes = report.passDifferencesDeg;
        r.fellBack = report.fellBack;
        r.fallBackReason = report.fallBackReason;
        if (!report.refusal.empty() || !report.failure.empty())
            return Failed(core.StatusText());
        r.phase = core.PhaseResult();
        r.count = 1;
        if (report.fellBack > 0)
            std::fprintf(stderr, "korvel-run: %s\n", core.StatusText().c_str());
        return kExitMeasured;
    }

    int Adjust(MeasurementCore& core) {
        if (o.command == Command::AdjustZero) {
            core.OnAdjustToZero();
        } else {
            core.OnAdjustLevels();
        }
        const int code = Failed(core.StatusText());
        if (code == kExitMeasured && o.command == Command::AdjustZero)
            r.phase = core.PhaseResult();
        return code;
    }

    std::string Elapsed(SteadyClock::time_point start, int done, int total) const {
        const auto elapsed = SteadyClock::now() - start;
        std::string text = "elapsed " + Clock(elapsed);
        if (total > 0 && done > 0)
            text += ", left " + Clock(elapsed * (total - done) / done);
        return text;
    }

    int Sweep(MeasurementCore& core) {
        MeasurementSettings& s = core.Settings();
        s.StartFreq = o.frequency.start;
        s.StopFreq = o.frequency.stop;
        s.StepFreq = o.frequency.step;
        s.StartLevel = o.level.start;
        s.StopLevel = o.level.stop;
        s.StepLevel = o.level.step;
        const std::size_t refusals = m_window.messages.size();
        core.OnStartSweep();
        if (!core.RunActive()) {
            r.failures.assign(m_window.messages.begin() + refusals, m_window.messages.end());
            m_window.messages.resize(refusals);
            return kExitUsage;
        }
        const SweepEngine& sweep = core.Sweep();
        const SweepGrid grid = sweep.Grid();
        r.total = sweep.TotalSteps();
        const auto start = SteadyClock::now();
        auto point = [&](int step) {
            return Results::Point{
                grid.startFrequencyMHz + (step % grid.frequencyCount) * grid.frequencyStepMHz,
                grid.startLevelDbm + (step / grid.frequencyCount) * grid.levelStepDbm, 0.0};
        };
        double last = kNotMeasured;
        auto progress = [&](int step) {
            const Results::Point p = point(step);
            m_window.Progress("step " + std::to_string(step + 1) + "/" +
                              std::to_string(sweep.TotalSteps()) + ": " +
                              FormatFixed(p.frequencyMHz, 3) + " MHz, " +
                              FormatFixed(p.levelDbm, 2) + " dBm, last phase " + Phase(last) +
                              ", " + Elapsed(start, step, sweep.TotalSteps()));
        };
        while (core.RunActive()) {
            if (StopSignals::Count() > 0) {
                core.OnStop();
                break;
            }
            const int step = sweep.CompletedSteps();
            if (m_window.Terminal())
                progress(step);
            core.RunSweepStep();
            if (sweep.CompletedSteps() > step) {
                Results::Point p = point(step);
                p.phase = last = sweep.Cell(step / grid.frequencyCount, step % grid.frequencyCount);
                r.points.push_back(p);
                // A point not measured is said at once, with why, as the window's boxes would.
                if (p.phase != kNotMeasured) {
                    ++r.count;
                } else {
                    std::string why = sweep.LastFailure();
                    if (why.empty())
                        why = LostSession(core);
                    Failed("not measured: " + FormatFixed(p.frequencyMHz, 3) + " MHz, " +
                           FormatFixed(p.levelDbm, 2) + " dBm" + (why.empty() ? "" : ": " + why));
                }
                if (!m_window.Terminal() || sweep.Finished())
                    progress(step);
            }
        }
        if (!r.points.empty())
            r.phase = r.points.back().phase;
        r.fellBack = sweep.FellBack();
        return FileResult(core, kSweepFileWritten, kSweepFileName);
    }

    int FileResult(MeasurementCore& core, const char* written, const char* name) {
        if (core.StatusText() != written)
            return Failed(core.StatusText());
        r.files.push_back(o.output.empty() ? std::string(name) : o.output);
        return kExitMeasured;
    }

    int Continuous(MeasurementCore& core) {
        core.Settings().Period = o.periodS;
        const std::size_t refusals = m_window.messages.size();
        core.OnGetPhaseCont();
        if (!core.RunActive()) {
            if (m_window.messages.size() > refusals) {
                r.failures.assign(m_window.messages.begin() + refusals, m_window.messages.end());
                m_window.messages.resize(refusals);
                return kExitUsage;
            }
            return Failed(core.StatusText());
        }
        const auto start = SteadyClock::now();
        const int total = o.samples.value_or(0);
        auto next = start;
        std::string lost, skipped;
        while (core.RunActive()) {
            const auto now = SteadyClock::now();
            const bool done = (o.samples && core.SamplesLogged() >= *o.samples) ||
                              (o.duration && now - start >= *o.duration);
            lost = LostSession(core);
            // Asked for N samples, a run gives up after N attempts in a row that logged none:
            // a bench that answers without numbers would otherwise keep it going for ever.
            if (o.samples && core.SamplesSkippedInARow() >= *o.samples)
                skipped = core.StatusText();
            if (StopSignals::Count() > 0 || done || !lost.empty() || !skipped.empty()) {
                core.OnStop();
                break;
            }
            // One tick of the window's 100 ms timer; a tick missed during a sample is skipped.
            next = std::max(next + std::chrono::milliseconds(100), now);
            std::this_thread::sleep_until(next);
            const int before = core.SamplesLogged();
            const std::string status = core.StatusText();
            core.RunContinuousSample();
            if (core.SamplesLogged() > before || core.StatusText() != status) {
                std::string line = "sample " + std::to_string(core.SamplesLogged());
                if (total > 0)
                    line += "/" + std::to_string(total);
                line += ": phase " + Phase(core.PhaseResult()) + ", ";
                if (o.duration) {
                    const auto elapsed = SteadyClock::now() - start;
                    line += "elapsed " + Clock(elapsed) + ", left " +
                            Clock(std::max(SteadyClock::duration(*o.duration) - elapsed,
                                           SteadyClock::duration::zero()));
                } else {
                    line += Elapsed(start, core.SamplesLogged(), total);
                }
                if (core.SamplesLogged() == before)
                    line += " (" + core.StatusText() + ")";
                m_window.Progress(line);
            }
        }
        r.count = core.SamplesLogged();
        r.phase = core.PhaseResult();
        if (r.count > 1) {
            r.average = core.AveragePhase();
            r.deviation = core.Deviation();
        }
        r.fellBack = core.ContinuousFellBack();
        const int code = FileResult(core, kContinuousFileWritten, kContinuousFileName);
        if (!lost.empty())
            return Failed("the run stopped: " + lost);
        if (!skipped.empty())
            return Failed("the run stopped after " + std::to_string(*o.samples) +
                          " samples in a row were skipped: " + skipped);
        return code;
    }

    const RunOptions& o;
    std::string m_storeLocation;
    RunStore m_store;
    ConsoleWindow m_window;
    Results r;
};

}  // namespace

void StopSignals::Install() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}
int StopSignals::Count() {
    return g_signals.load();
}
int StopSignals::Last() {
    return g_lastSignal.load();
}

int RunHeadlessJob(const RunOptions& options, SettingsStore& store,
                   const std::string& storeLocation) {
    return Job(options, store, storeLocation).Run();
}

}  // namespace korvel
