// korvel_bench: the performance table that scripts/bench prints. Every row is a Google Benchmark
// with a fixed batch per repetition; the repetitions of all rows run interleaved in random
// order, so slow drifts of the machine fall on every row alike, and each row is shown with the
// median, min and max of its repetitions next to the row it is compared with.
//
// The network rows talk to korvel-sim (fast mode) in its own process on the --block addresses;
// the floor is a TCP ping-pong with a child process of this one, and a minimal server in another
// child tells the client's own time from the simulator's. pyvisa-py runs in a Python process of
// its own; liblxi in this one.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PingPong.h"
#include "ReferenceServer.h"
#include "TableReporter.h"
#include "TransferLog.h"
#include "instrument/ConnectInstruments.h"
#include "instrument/MessageSink.h"
#include "instrument/StderrWindow.h"
#include "measure/MeasurePhase.h"
#include "measure/SetupAnalyzer.h"
#include "measure/SetupGenerators.h"
#include "runs/CSweepTable.h"
#include "runs/SweepEngine.h"
#include "runs/SweepFile.h"
#include "tests/support/ChildProcess.h"
#include "visa/NetworkTesting.h"
#include "visa/visa.h"
#ifdef KORVEL_HAVE_LXI
#include <lxi.h>
#endif
#ifdef KORVEL_HAVE_X11
#include "WindowProbe.h"
#endif

using namespace korvel;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string sim;     // korvel-sim
    std::string korvel;  // the application, for the start-to-window row
    std::string demo;    // korvel-demo, for the memory row
    std::string pyvisaScript;
    std::string python = "/usr/bin/python3";
    std::string block = "127.0.90";
    int repetitions = 9;
    int queries = 2000;
    bool smoke = false;  // every row once with tiny batches: proves the rows run, measures nothing
};

// Everything the rows share, set up before the first repetition.
struct Context {
    Options options;
    PingPong pingPong;
    ChildProcess sim;        // VXI-11
    ChildProcess hislipSim;  // HiSLIP, on the same addresses
    // The whole-program rows' bench: a query of the program's would interrupt a pending reply
    // of the query rows on a shared instrument (IEEE 488.2), failing a row now and then.
    ChildProcess appSim;
    std::string vxi11Analyzer, hislipAnalyzer;  // resource strings, empty when not served
    std::string vxi11Note;                      // why VXI-11 rows other clients need are missing
    std::unique_ptr<CVisaDevice> vxi11, hislip;
    ReferenceServer reference;
    std::unique_ptr<CVisaDevice> vxi11Reference, hislipReference;
    std::vector<PingPong::Exchange> vxi11Query, hislipQuery;
    ChildProcess pyvisa;
    int lxiDevice = -1;
    TransferLog transfers;
    StderrWindow window{"bench"};
    Instruments vxi11Bench, hislipBench;
    Instruments vxi11ReferenceBench, hislipReferenceBench;  // all three on the minimal server
    std::vector<PingPong::Exchange> vxi11Measure, hislipMeasure;
    SweepEngine sweep;
    std::filesystem::path work;
    std::filesystem::path sweepFile;
    std::vector<std::string> appEnvironment;
};

Context* g_context = nullptr;

double ThreadCpuUs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

double Us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Runs op count times per repetition; the row's value is the mean wall time of one op, its
// CPU the mean CPU time this thread spent on one. A failed op fails the row, unless the client
// is someone else's: then it is counted and reported under the table.
void Timed(benchmark::State& state, int count, const std::function<bool()>& op,
           bool othersClient = false) {
    for (auto _ : state) {
        const double cpu = ThreadCpuUs();
        const Clock::time_point start = Clock::now();
        int failures = 0;
        for (int i = 0; i < count; ++i) {
            if (op())
                continue;
            if (!othersClient) {
                state.SkipWithError("an operation failed");
                return;
            }
            ++failures;
        }
        state.counters["value"] = Us(Clock::now() - start) / count;
        state.counters["cpu"] = (ThreadCpuUs() - cpu) / count;
        state.counters["operations"] = count;
        state.counters["failures"] = failures;
    }
}

std::uint32_t Padded(std::size_t bytes) {
    return static_cast<std::uint32_t>((bytes + 3) / 4 * 4);
}

std::string Query(CVisaDevice& device, const std::string& text) {
    return device.Query(text);
}

// ---- setup ----

// Reads a simulator's start-up lines up to "ready", taking the analyzer's resource strings.
bool ReadResources(Context& c, ChildProcess& sim) {
    for (;;) {
        const auto line = sim.ReadLine(std::chrono::seconds(15));
        if (!line)
            return false;
        std::fprintf(stderr, "bench: %s\n", line->c_str());
        if (line->find("ready") != std::string::npos)
            return true;
        const size_t at = line->find("analyzer ");
        if (at == std::string::npos)
            continue;
        const size_t resource = line->find(": ", at);
        std::string name = line->substr(resource + 2);
        name = name.substr(0, name.find("  "));
        if (line->find("VXI-11", at) != std::string::npos) {
            if (line->find("portmapper on port") != std::string::npos) {
                c.vxi11Note = "the simulator's portmapper is not on port 111 (run as root)";
            }
            c.vxi11Analyzer = name;
        } else if (line->find("HiSLIP", at) != std::string::npos) {
            c.hislipAnalyzer = name;
        }
    }
}

// VXI-11 and HiSLIP are served by two simulators on the same addresses, so the rows of one
// transport never share an instrument with the other's: a HiSLIP write still being taken in
// must not meet a VXI-11 query to the same device.
bool StartSimulator(Context& c) {
    const std::string b = c.options.block;
    const std::vector<std::string> addresses = {
        "--gen1-address", b + ".28", "--gen2-address", b + ".27", "--analyzer-address", b + ".20"};
    std::vector<std::string> vxi11 = {c.options.sim, "--speed", "fast", "--no-hislip"};
    std::vector<std::string> hislip = {c.options.sim, "--speed", "fast", "--no-vxi11"};
    vxi11.insert(vxi11.end(), addresses.begin(), addresses.end());
    hislip.insert(hislip.end(), addresses.begin(), addresses.end());
    if (!c.sim.Start(vxi11) || !ReadResources(c, c.sim) || !c.hislipSim.Start(hislip) ||
        !ReadResources(c, c.hislipSim)) {
        return false;
    }
    if (c.vxi11Analyzer.empty())
        c.vxi11Note = "VXI-11 is not served (port 111 could not be bound: run as root)";
    return true;
}

// The whole-program rows' own instruments, HiSLIP only, at .38, .37 and .30 of the block.
bool StartAppSimulator(Context& c) {
    const std::string b = c.options.block;
    if (!c.appSim.Start({c.options.sim, "--speed", "fast", "--no-vxi11", "--gen1-address",
                         b + ".38", "--gen2-address", b + ".37", "--analyzer-address",
                         b + ".30"})) {
        return false;
    }
    while (const auto line = c.appSim.ReadLine(std::chrono::seconds(15))) {
        if (line->find("ready") != std::string::npos)
            return true;
    }
    return false;
}

// The three sessions of the simulated bench on one transport, by the analyzer's resource string.
ConnectValues BenchValues(const std::string& analyzer, bool vxi11) {
    ConnectValues values;
    const std::string host = analyzer.substr(0, analyzer.find("::", analyzer.find("::") + 2));
    const std::string device = vxi11 ? "::inst0::INSTR" : "::hislip0::INSTR";
    const std::string base = host.substr(0, host.rfind('.'));
    values.visaGenerator1 = base + ".28" + device;
    values.visaGenerator2 = base + ".27" + device;
    values.visaAnalyzer = analyzer;
    values.useRfB = 1;
    return values;
}

// Connects and sets up as the program does before a measurement, then measures once; with a
// floor, the sizes of that measurement's messages are recorded for it.
bool ConnectBench(Context& c, ConnectValues values, Instruments& instruments,
                  std::vector<PingPong::Exchange>* floor, bool vxi11) {
    ConnectInstruments(instruments, values, c.window);
    if (!instruments.connected)
        return false;
    SetupGenerators(instruments, true);
    instruments.generator1->Query("FREQ 1234500000;*OPC?");
    SetupAnalyzer(instruments, true);
    double phase = 0.0;
    c.transfers.Clear();
    c.transfers.Record(floor != nullptr);
    const double measured = MeasurePhase(instruments, {true, 1, false}, phase, c.window);
    c.transfers.Record(false);
    if (floor) {
        *floor = vxi11 ? c.transfers.Vxi11Exchanges() : c.transfers.HiSlipExchanges();
        std::fprintf(
            stderr, "bench: MeasurePhase over %s: %.3f deg, %zu writes and reads, %zu exchanges\n",
            vxi11 ? "VXI-11" : "HiSLIP", measured, c.transfers.Transfers().size(), floor->size());
    }
    return measured != kNotMeasured;
}

bool WriteSweepTableFile(Context& c) {
    std::vector<double> table(static_cast<size_t>(kMaxLevelPoints) * kMaxFrequencyPoints);
    for (int r = 0; r < kMaxLevelPoints; ++r) {
        for (int f = 0; f < kMaxFrequencyPoints; ++f) {
            // A cable delay: the phase wraps every 270 MHz or so, plus a little per level.
            table[static_cast<size_t>(r) * kMaxFrequencyPoints + f] =
                std::fmod(37.0 + 1.332 * f * 10.0 + 0.02 * r, 360.0);
        }
    }
    const SweepGrid grid{10.0, 10.0, kMaxFrequencyPoints, -60.0, 0.25, kMaxLevelPoints};
    c.sweepFile = c.work / "PhaseLogSweep-200x500.csv";
    WriteSweepFile(c.sweepFile, grid, table.data(), true, [](int) { return 35.0; });
    return CSweepTable(c.sweepFile.string()).IsLoaded();
}

void WriteAppSettings(Context& c) {
    const std::filesystem::path store =
        c.work / "config" / "Vom lokalen Anwendungs-Assistenten generierte Anwendungen";
    std::filesystem::create_directories(store);
    const std::string b = c.options.block;
    std::ofstream conf(store / "Korvel.conf");
    conf
        << "[General]\nVisaGenerator1=TCPIP::" << b
        << ".38::hislip0::INSTR\nVisaGenerator2=TCPIP::" << b
        << ".37::hislip0::INSTR\nVisaAnalyzer=TCPIP::" << b << ".30::hislip0::INSTR\nUseRF_B=1\n"
        << "StartFreq=100.000000\nStopFreq=300.000000\nStepFreq=100.000000\nStartLevel=-25.000000\n"
        << "StopLevel=-10.000000\nStepLevel=5.000000\nPeriod=2.000000\nAverage=1\nPhaseRotation="
           "1\n";
    c.appEnvironment = {"XDG_CONFIG_HOME=" + (c.work / "config").string()};
}

// ---- rows ----

void FloorHiSlip(benchmark::State& state) {
    Timed(state, g_context->options.queries,
          [] { return g_context->pingPong.Run(g_context->hislipQuery); });
}
void FloorVxi11(benchmark::State& state) {
    Timed(state, g_context->options.queries,
          [] { return g_context->pingPong.Run(g_context->vxi11Query); });
}
void KorvelVxi11(benchmark::State& state) {
    Timed(state, g_context->options.queries, [] {
        return !Query(*g_context->vxi11, "*IDN?").empty() && g_context->vxi11->IsConnected();
    });
}
void KorvelHiSlip(benchmark::State& state) {
    Timed(state, g_context->options.queries, [] {
        return !Query(*g_context->hislip, "*IDN?").empty() && g_context->hislip->IsConnected();
    });
}

void ReferenceVxi11(benchmark::State& state) {
    Timed(state, g_context->options.queries,
          [] { return !Query(*g_context->vxi11Reference, "*IDN?").empty(); });
}
void ReferenceHiSlip(benchmark::State& state) {
    Timed(state, g_context->options.queries,
          [] { return !Query(*g_context->hislipReference, "*IDN?").empty(); });
}

void PyvisaVxi11(benchmark::State& state) {
    const int count = std::max(1, g_context->options.queries / 4);  // it is slow; the mean is not
    for (auto _ : state) {
        g_context->pyvisa.WriteLine("query " + std::to_string(count) + " *IDN?");
        const auto answer = g_context->pyvisa.ReadLine(std::chrono::seconds(120));
        double wall = 0.0, cpu = 0.0;
        if (!answer || std::sscanf(answer->c_str(), "%lf %lf", &wall, &cpu) != 2) {
            state.SkipWithError(("pyvisa-py: " + answer.value_or("no answer")).c_str());
            return;
        }
        state.counters["value"] = wall * 1e6 / count;
        state.counters["cpu"] = cpu * 1e6 / count;
    }
}

#ifdef KORVEL_HAVE_LXI
void LxiVxi11(benchmark::State& state) {
    static char reply[10000];
    Timed(
        state, g_context->options.queries,
        [] {
            static const char kQuery[] = "*IDN?\n";
            if (lxi_send(g_context->lxiDevice, kQuery, sizeof kQuery - 1, 5000) !=
                sizeof kQuery - 1)
                return false;
            return lxi_receive(g_context->lxiDevice, reply, sizeof reply, 5000) > 0;
        },
        true);
}
#endif

void Measure(benchmark::State& state, Instruments& instruments) {
    const int count = g_context->options.smoke ? 1 : 5;
    Timed(state, count, [&] {
        double phase = 0.0;
        return MeasurePhase(instruments, {true, 1, false}, phase, g_context->window) !=
               kNotMeasured;
    });
}
void MeasureVxi11(benchmark::State& state) {
    Measure(state, g_context->vxi11Bench);
}
void MeasureHiSlip(benchmark::State& state) {
    Measure(state, g_context->hislipBench);
}
void MeasureReferenceVxi11(benchmark::State& state) {
    Measure(state, g_context->vxi11ReferenceBench);
}
void MeasureReferenceHiSlip(benchmark::State& state) {
    Measure(state, g_context->hislipReferenceBench);
}
void MeasureFloorVxi11(benchmark::State& state) {
    Timed(state, g_context->options.smoke ? 1 : 5,
          [] { return g_context->pingPong.Run(g_context->vxi11Measure); });
}
void MeasureFloorHiSlip(benchmark::State& state) {
    Timed(state, g_context->options.smoke ? 1 : 5,
          [] { return g_context->pingPong.Run(g_context->hislipMeasure); });
}

void Open(benchmark::State& state, const std::string& resource) {
    const int count = g_context->options.smoke ? 2 : 50;
    visa::ViSession manager = visa::VI_NULL;
    if (visa::viOpenDefaultRM(&manager) < visa::VI_SUCCESS) {
        state.SkipWithError("viOpenDefaultRM failed");
        return;
    }
    for (auto _ : state) {
        double wall = 0.0, cpu = 0.0;
        for (int i = 0; i < count; ++i) {
            visa::ViSession session = visa::VI_NULL;
            const double cpuBefore = ThreadCpuUs();
            const Clock::time_point start = Clock::now();
            const visa::ViStatus status =
                visa::viOpen(manager, resource.c_str(), visa::VI_NO_LOCK, 0, &session);
            wall += Us(Clock::now() - start);
            cpu += ThreadCpuUs() - cpuBefore;
            if (status < visa::VI_SUCCESS) {
                state.SkipWithError(("viOpen " + resource + " failed").c_str());
                break;
            }
            visa::viClose(session);
        }
        state.counters["value"] = wall / count;
        state.counters["cpu"] = cpu / count;
    }
    visa::viClose(manager);
}
void OpenVxi11(benchmark::State& state) {
    Open(state, g_context->vxi11Analyzer);
}
void OpenHiSlip(benchmark::State& state) {
    Open(state, g_context->hislipAnalyzer);
}

void SweepStep(benchmark::State& state) {
    Context& c = *g_context;
    const int count = c.options.smoke ? 1 : 10;
    Timed(state, count, [&c] {
        if (c.sweep.Finished()) {
            SweepLimits limits{100.0, 1000.0, 100.0, -30.0, -10.0, 10.0};
            c.sweep.Start(limits);
        }
        double phase = 0.0;
        c.sweep.Step(c.hislipBench, {true, 1, false}, phase, c.window);
        return c.hislipBench.generator1->IsConnected() && c.hislipBench.analyzer->IsConnected();
    });
}

void TableLoad(benchmark::State& state) {
    const std::string path = g_context->sweepFile.string();
    Timed(state, g_context->options.smoke ? 1 : 20,
          [&path] { return CSweepTable(path).IsLoaded(); });
}

void TableLookups(benchmark::State& state) {
    static const CSweepTable table(g_context->sweepFile.string());
    Timed(state, g_context->options.smoke ? 1 : 20, [] {
        // Frequencies and levels inside and beyond the grid, in every evaluation mode.
        double sum = 0.0;
        std::uint32_t seed = 12345;
        for (int i = 0; i < 10000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const double frequencyMHz = 5.0 + (seed >> 8) % 5100;
            const double levelDbm = -65.0 + static_cast<double>((seed >> 4) % 600) / 10.0;
            double result = 0.0;
            table.Interpolate(frequencyMHz, levelDbm, result, static_cast<int>(seed % 4));
            sum += result;
        }
        benchmark::DoNotOptimize(sum);
        return true;
    });
}

#ifdef KORVEL_HAVE_X11
void StartToWindow(benchmark::State& state) {
    std::vector<std::string> environment = g_context->appEnvironment;
    environment.push_back("QT_QPA_PLATFORM=xcb");
    for (auto _ : state) {
        const WindowTiming timing =
            MeasureStartToWindow(g_context->options.korvel, environment,
                                 "Connect to VISA instruments", "Korvel 1.42 VISA");
        if (!timing.error.empty()) {
            state.SkipWithError(timing.error.c_str());
            return;
        }
        state.counters["value"] = timing.startToDialogUs + timing.closeToWindowUs;
        std::fprintf(
            stderr,
            "bench: start to connect dialog %.1f ms, close to main window %.1f ms, peak %.1f MiB\n",
            timing.startToDialogUs / 1000, timing.closeToWindowUs / 1000, timing.peakMiB);
    }
}
#endif

void DemoMemory(benchmark::State& state) {
    Context& c = *g_context;
    const std::string b = c.options.block;
    std::vector<std::string> environment = c.appEnvironment;
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    for (auto _ : state) {
        ChildProcess demo;
        const Clock::time_point start = Clock::now();
        if (!demo.Start({c.options.demo, "--out", (c.work / "demo-shots").string(), "--generator1",
                         "TCPIP::" + b + ".38::hislip0::INSTR", "--analyzer",
                         "TCPIP::" + b + ".30::hislip0::INSTR"},
                        environment)) {
            state.SkipWithError("cannot start korvel-demo");
            return;
        }
        while (demo.ReadLine(std::chrono::seconds(120))) {
        }
        const int status = demo.Wait(std::chrono::seconds(120));
        if (status != 0) {
            if (status == -2)
                demo.Stop();
            state.SkipWithError(
                ("korvel-demo ended with status " + std::to_string(status)).c_str());
            return;
        }
        state.counters["value"] = static_cast<double>(demo.Usage().ru_maxrss) / 1024.0;
        std::fprintf(stderr, "bench: demo run took %.1f s, peak %.1f MiB\n",
                     Us(Clock::now() - start) / 1e6, state.counters["value"].value);
    }
}

void Usage() {
    std::fprintf(
        stderr,
        "usage: korvel_bench --sim PATH [--korvel PATH] [--demo PATH] [--pyvisa SCRIPT] [--block "
        "A.B.C]\n"
        "                    [--repetitions N] [--queries N] [--smoke] [Google Benchmark flags]\n");
}

bool ParseOptions(int& argc, char** argv, Options& options) {
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        std::string number;
        if (arg == "--sim") {
            if (!value(options.sim))
                return false;
        } else if (arg == "--korvel") {
            if (!value(options.korvel))
                return false;
        } else if (arg == "--demo") {
            if (!value(options.demo))
                return false;
        } else if (arg == "--pyvisa") {
            if (!value(options.pyvisaScript))
                return false;
        } else if (arg == "--block") {
            if (!value(options.block))
                return false;
        } else if (arg == "--repetitions") {
            if (!value(number))
                return false;
            options.repetitions = std::max(1, std::atoi(number.c_str()));
        } else if (arg == "--queries") {
            if (!value(number))
                return false;
            options.queries = std::max(1, std::atoi(number.c_str()));
        } else if (arg == "--smoke") {
            options.smoke = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    for (size_t i = 0; i < rest.size(); ++i)
        argv[i] = rest[i];
    argc = static_cast<int>(rest.size());
    // The benchmark works in a directory of its own.
    for (std::string* path :
         {&options.sim, &options.korvel, &options.demo, &options.pyvisaScript}) {
        if (!path->empty())
            *path = std::filesystem::absolute(*path).string();
    }
    return !options.sim.empty();
}

// ---- the table ----

// What a row needs besides the bench; each is prepared once, before the first repetition.
enum class Needs {
    HiSlip,            // the analyzer's HiSLIP session
    QuerySizes,        // the sizes of a query's messages, taken from the HiSLIP session
    Vxi11,             // the analyzer's VXI-11 session
    ReferenceServer,   // the minimal server's sessions
    Pyvisa,            // pyvisa-py in a Python process, on the portmapper at port 111
    Lxi,               // liblxi, on the portmapper at port 111
    Vxi11Bench,        // the three instruments over VXI-11, a measurement's messages known
    HiSlipBench,       // the three instruments over HiSLIP, a measurement's messages known
    ReferenceBenches,  // the three instruments on the minimal server, over both transports
    SweepFile,         // a full-size sweep file in the working directory
    ProgramWindow,     // the program, its own simulator and an X display
    DemoProgram,       // korvel-demo and the program's own simulator
};

using Measurement = void (*)(benchmark::State&);
#ifndef KORVEL_HAVE_LXI
constexpr Measurement LxiVxi11 = nullptr;
#endif
#ifndef KORVEL_HAVE_X11
constexpr Measurement StartToWindow = nullptr;
#endif

struct Row {
    TableRow table;  // as printed, in this order
    Measurement measure;
    Needs needs;
    int maxRepetitions = 0;  // whole program runs take seconds; 0: as many as asked for
};

using Unit = TableRow::Unit;
using Goal = TableRow::Goal;

const Row kRows[] = {
    {{"floor_hislip", "TCP floor, 1 round trip (HiSLIP query sizes)", Unit::Microseconds, "",
      Goal::None, 0},
     FloorHiSlip,
     Needs::HiSlip},
    {{"floor_vxi11", "TCP floor, 2 round trips (VXI-11 query sizes)", Unit::Microseconds, "",
      Goal::None, 0},
     FloorVxi11,
     Needs::QuerySizes},
    {{"korvel_vxi11", "Korvel VXI-11 query *IDN?", Unit::Microseconds, "floor_vxi11",
      Goal::AtMostTimesVersus, 1.25},
     KorvelVxi11,
     Needs::Vxi11},
    {{"korvel_hislip", "Korvel HiSLIP query *IDN?", Unit::Microseconds, "floor_hislip",
      Goal::AtMostTimesVersus, 1.25},
     KorvelHiSlip,
     Needs::HiSlip},
    {{"reference_vxi11", "Korvel VXI-11 query, minimal server", Unit::Microseconds, "floor_vxi11",
      Goal::AtMostTimesVersus, 1.25},
     ReferenceVxi11,
     Needs::ReferenceServer},
    {{"reference_hislip", "Korvel HiSLIP query, minimal server", Unit::Microseconds, "floor_hislip",
      Goal::AtMostTimesVersus, 1.25},
     ReferenceHiSlip,
     Needs::ReferenceServer},
    {{"pyvisa_vxi11", "pyvisa-py VXI-11 query *IDN?", Unit::Microseconds, "korvel_vxi11",
      Goal::AtLeastTimesVersus, 2.0},
     PyvisaVxi11,
     Needs::Pyvisa},
    {{"lxi_vxi11", "liblxi VXI-11 query *IDN?", Unit::Microseconds, "korvel_vxi11",
      Goal::AtLeastTimesVersus, 1.0},
     LxiVxi11,
     Needs::Lxi},
    {{"measure_floor_vxi11", "TCP floor, MeasurePhase's VXI-11 RPCs", Unit::Milliseconds, "",
      Goal::None, 0},
     MeasureFloorVxi11,
     Needs::Vxi11Bench},
    {{"measure_vxi11", "MeasurePhase N=1 over VXI-11", Unit::Milliseconds, "measure_floor_vxi11",
      Goal::AtMostTimesVersus, 1.3},
     MeasureVxi11,
     Needs::Vxi11Bench},
    {{"measure_reference_vxi11", "MeasurePhase N=1, VXI-11, minimal server", Unit::Milliseconds,
      "measure_floor_vxi11", Goal::AtMostTimesVersus, 1.3},
     MeasureReferenceVxi11,
     Needs::ReferenceBenches},
    {{"measure_floor_hislip", "TCP floor, MeasurePhase's HiSLIP messages", Unit::Milliseconds, "",
      Goal::None, 0},
     MeasureFloorHiSlip,
     Needs::HiSlipBench},
    {{"measure_hislip", "MeasurePhase N=1 over HiSLIP", Unit::Milliseconds, "measure_floor_hislip",
      Goal::AtMostTimesVersus, 1.3},
     MeasureHiSlip,
     Needs::HiSlipBench},
    {{"measure_reference_hislip", "MeasurePhase N=1, HiSLIP, minimal server", Unit::Milliseconds,
      "measure_floor_hislip", Goal::AtMostTimesVersus, 1.3},
     MeasureReferenceHiSlip,
     Needs::ReferenceBenches},
    {{"open_vxi11", "Session open, VXI-11 (portmapper, link)", Unit::Microseconds, "", Goal::AtMost,
      3000},
     OpenVxi11,
     Needs::Vxi11Bench},
    {{"open_hislip", "Session open, HiSLIP (two channels)", Unit::Microseconds, "", Goal::AtMost,
      3000},
     OpenHiSlip,
     Needs::HiSlipBench},
    {{"sweep_step", "Sweep step over HiSLIP (CPU: Korvel's own)", Unit::Milliseconds, "",
      Goal::None, 0},
     SweepStep,
     Needs::HiSlipBench},
    {{"table_load", "CSweepTable load, 200 x 500", Unit::Milliseconds, "", Goal::AtMost, 10},
     TableLoad,
     Needs::SweepFile},
    {{"table_lookups", "CSweepTable, 10,000 lookups", Unit::Milliseconds, "", Goal::None, 0},
     TableLookups,
     Needs::SweepFile},
    {{"start_to_window", "Start to main window (Xvfb, w/o dialog time)", Unit::Milliseconds, "",
      Goal::None, 0},
     StartToWindow,
     Needs::ProgramWindow,
     5},
    {{"demo_memory", "Peak memory, whole demo run (korvel-demo)", Unit::Mebibytes, "", Goal::None,
      0},
     DemoMemory,
     Needs::DemoProgram,
     3},
};

// Why a need is not met; a need without an entry is met.
using Unmet = std::map<Needs, std::string>;

bool Met(const Unmet& unmet, Needs needs) {
    return unmet.find(needs) == unmet.end();
}

// ---- preparing the needs, in an order that matters: children are forked before threads exist,
// the procedures' sessions go through the transfer log ----

// Ping-pong child, working directory, simulator: without them no row runs.
bool StartBench(Context& c) {
    if (c.options.smoke) {
        c.options.repetitions = 1;
        c.options.queries = 20;
    }
    // Forked before any thread exists.
    if (!c.pingPong.Start()) {
        std::fprintf(stderr, "bench: the ping-pong child cannot be started\n");
        return false;
    }
    ::setenv("KORVEL_VISA_LIBRARY", "builtin", 1);  // our transports, whatever VISA is installed
    SetMessageSink([](const std::string& text) {
        std::fprintf(stderr, "bench: message: %s\n", text.c_str());
    });
    c.work =
        std::filesystem::temp_directory_path() / ("korvel-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(c.work);
    std::filesystem::current_path(c.work);
    if (!StartSimulator(c)) {
        std::fprintf(stderr, "bench: korvel-sim did not start\n");
        return false;
    }
    return true;
}

// The query rows' sessions, opened before the transfer log goes in front of the connectors, and
// the minimal server that answers with the simulator's reply.
void OpenQuerySessions(Context& c, Unmet& unmet) {
    if (!c.vxi11Analyzer.empty())
        c.vxi11 = std::make_unique<CVisaDevice>(c.vxi11Analyzer);
    if (!c.hislipAnalyzer.empty())
        c.hislip = std::make_unique<CVisaDevice>(c.hislipAnalyzer);
    if (!c.vxi11 || !c.vxi11->IsConnected())
        unmet[Needs::Vxi11] = c.vxi11Note.empty() ? "VXI-11 did not connect" : c.vxi11Note;
    if (!c.hislip || !c.hislip->IsConnected()) {
        unmet[Needs::HiSlip] = "HiSLIP is not served";
        unmet[Needs::QuerySizes] = "HiSLIP is not served (the reply size is taken from it)";
        unmet[Needs::ReferenceServer] = "HiSLIP is not served (the reply is taken from it)";
        return;
    }
    const size_t reply = Query(*c.hislip, "*IDN?").size() + 1;  // with its line feed
    c.hislipQuery = {{16 + 6, static_cast<std::uint32_t>(16 + reply)}};
    c.vxi11Query = {{4 + 40 + 20 + Padded(6), 4 + 24 + 8},
                    {4 + 40 + 24, 4 + 24 + 12 + Padded(reply)}};
    // Forked while no thread exists.
    if (c.reference.Start(Query(*c.hislip, "*IDN?") + "\n")) {
        c.hislipReference = std::make_unique<CVisaDevice>(
            "TCPIP::127.0.0.1::hislip0," + std::to_string(c.reference.HiSlipPort()) + "::INSTR");
        visa::ScopedTestPorts core(
            visa::TestPorts{111, c.reference.Vxi11Port(), visa::kHiSlipDefaultPort});
        c.vxi11Reference = std::make_unique<CVisaDevice>("TCPIP::127.0.0.1::inst0::INSTR");
        if (c.vxi11Reference->IsConnected() && c.hislipReference->IsConnected())
            return;
    }
    unmet[Needs::ReferenceServer] = "the minimal server did not answer";
}

// Other clients find the simulator through the portmapper on port 111 only.
std::string OthersVxi11Unmet(const Context& c, const Unmet& unmet) {
    if (!c.vxi11Note.empty())
        return c.vxi11Note;
    return Met(unmet, Needs::Vxi11) ? "" : unmet.at(Needs::Vxi11);
}

std::string StartPyvisa(Context& c, const Unmet& unmet) {
    if (std::string reason = OthersVxi11Unmet(c, unmet); !reason.empty())
        return reason;
    if (c.options.pyvisaScript.empty())
        return "no --pyvisa script given";
    if (!c.pyvisa.Start({c.options.python, c.options.pyvisaScript}))
        return "cannot start " + c.options.python;
    c.pyvisa.WriteLine("open " + c.vxi11Analyzer);
    const auto answer = c.pyvisa.ReadLine(std::chrono::seconds(30));
    return answer && *answer == "ok" ? "" : "pyvisa-py: " + answer.value_or("no answer");
}

std::string ConnectLxi(Context& c, const Unmet& unmet) {
#ifdef KORVEL_HAVE_LXI
    if (std::string reason = OthersVxi11Unmet(c, unmet); !reason.empty())
        return reason;
    lxi_init();
    c.lxiDevice = lxi_connect((c.options.block + ".20").c_str(), 0, "inst0", 5000, VXI11);
    return c.lxiDevice >= 0 ? "" : "lxi_connect failed";
#else
    (void)c;
    (void)unmet;
    return "not built: liblxi-dev was not found when configuring";
#endif
}

// The procedures: waveform file in the working directory, sessions through the transfer log;
// then the same procedure against the minimal server: every instrument there, every query
// answered with the same reply. Its readings mean nothing; the traffic is the same.
void ConnectBenches(Context& c, Unmet& unmet) {
    ChildProcess waveform;
    if (!waveform.Start({c.options.sim, "--write-waveform", "dc.wv"}) ||
        waveform.Wait(std::chrono::seconds(10)) != 0) {
        std::fprintf(stderr, "bench: korvel-sim --write-waveform failed\n");
    }
    c.transfers.Install();
    if (!Met(unmet, Needs::Vxi11)) {
        unmet[Needs::Vxi11Bench] = unmet[Needs::Vxi11];
    } else if (!ConnectBench(c, BenchValues(c.vxi11Analyzer, true), c.vxi11Bench, &c.vxi11Measure,
                             true)) {
        unmet[Needs::Vxi11Bench] = "the instruments did not connect over VXI-11";
    }
    if (!Met(unmet, Needs::HiSlip) || !ConnectBench(c, BenchValues(c.hislipAnalyzer, false),
                                                    c.hislipBench, &c.hislipMeasure, false)) {
        unmet[Needs::HiSlipBench] = "the instruments did not connect over HiSLIP";
    }

    bool referenceBenches = false;
    if (c.hislipReference && c.hislipReference->IsConnected() && !c.vxi11Measure.empty() &&
        !c.hislipMeasure.empty()) {
        const std::string hislipName = c.hislipReference->Resource();
        referenceBenches = ConnectBench(c, {hislipName, hislipName, hislipName, 1},
                                        c.hislipReferenceBench, nullptr, false);
        visa::ScopedTestPorts core(
            visa::TestPorts{111, c.reference.Vxi11Port(), visa::kHiSlipDefaultPort});
        const std::string vxi11Name = "TCPIP::127.0.0.1::inst0::INSTR";
        referenceBenches = ConnectBench(c, {vxi11Name, vxi11Name, vxi11Name, 1},
                                        c.vxi11ReferenceBench, nullptr, true) &&
                           referenceBenches;
    }
    if (!referenceBenches)
        unmet[Needs::ReferenceBenches] = "the minimal server or a floor is missing";
}

// The whole-program rows: their settings, their own simulator, a display.
void PrepareProgramRuns(Context& c, Unmet& unmet) {
    WriteAppSettings(c);
    const bool appSim =
        (!c.options.korvel.empty() || !c.options.demo.empty()) && StartAppSimulator(c);
    const std::string noAppSim = "the program's own korvel-sim did not start";
#ifdef KORVEL_HAVE_X11
    std::string noDisplay;
    if (c.options.korvel.empty()) {
        unmet[Needs::ProgramWindow] = "no --korvel program given";
    } else if (!appSim) {
        unmet[Needs::ProgramWindow] = noAppSim;
    } else if (!WindowProbeAvailable(noDisplay)) {
        unmet[Needs::ProgramWindow] = noDisplay;
    }
#else
    unmet[Needs::ProgramWindow] = "not built: Xlib was not found when configuring";
#endif
    if (c.options.demo.empty()) {
        unmet[Needs::DemoProgram] = "no --demo program given";
    } else if (!appSim) {
        unmet[Needs::DemoProgram] = noAppSim;
    }
}

void Require(Unmet& unmet, Needs needs, const std::string& reason) {
    if (!reason.empty())
        unmet[needs] = reason;
}

Unmet PrepareNeeds(Context& c) {
    Unmet unmet;
    OpenQuerySessions(c, unmet);
    Require(unmet, Needs::Pyvisa, StartPyvisa(c, unmet));
    Require(unmet, Needs::Lxi, ConnectLxi(c, unmet));
    ConnectBenches(c, unmet);
    Require(unmet, Needs::SweepFile, WriteSweepTableFile(c) ? "" : "the sweep file was not loaded");
    PrepareProgramRuns(c, unmet);
    return unmet;
}

std::vector<TableRow> TableRows() {
    std::vector<TableRow> table;
    for (const Row& row : kRows)
        table.push_back(row.table);
    return table;
}

// Every row whose needs are met runs; every other row is printed with the reason in its place.
void RegisterRows(const Unmet& unmet, int repetitions, TableReporter& reporter) {
    for (const Row& row : kRows) {
        if (!Met(unmet, row.needs) || !row.measure) {
            reporter.SetMissing(row.table.id,
                                Met(unmet, row.needs) ? "not built" : unmet.at(row.needs));
            continue;
        }
        const int count =
            row.maxRepetitions > 0 ? std::min(repetitions, row.maxRepetitions) : repetitions;
        benchmark::RegisterBenchmark(row.table.id.c_str(), row.measure)
            ->Iterations(1)
            ->Repetitions(count)
            ->Unit(benchmark::kMicrosecond);
    }
}

// Interleaved repetitions, whatever Google Benchmark flags were given.
void RunRows(int argc, char** argv, TableReporter& reporter) {
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave.data());
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

// Sessions go before the simulator, the simulator before the temporary directory.
void StopBench(Context& c) {
    c.vxi11.reset();
    c.hislip.reset();
    c.vxi11Reference.reset();
    c.hislipReference.reset();
    c.reference.Stop();
    c.vxi11Bench.Release();
    c.hislipBench.Release();
    c.vxi11ReferenceBench.Release();
    c.hislipReferenceBench.Release();
#ifdef KORVEL_HAVE_LXI
    if (c.lxiDevice >= 0)
        lxi_disconnect(c.lxiDevice);
#endif
    c.pyvisa.Stop();
    c.sim.Stop();
    c.hislipSim.Stop();
    c.appSim.Stop();
    c.pingPong.Stop();
    std::filesystem::current_path("/");
    std::error_code ignored;
    std::filesystem::remove_all(c.work, ignored);
}

}  // namespace

int main(int argc, char** argv) {
    static Context context;
    g_context = &context;
    if (!ParseOptions(argc, argv, context.options)) {
        Usage();
        return 2;
    }
    if (!StartBench(context))
        return 1;
    TableReporter reporter(TableRows());
    RegisterRows(PrepareNeeds(context), context.options.repetitions, reporter);
    RunRows(argc, argv, reporter);
    StopBench(context);
    std::printf("%d goal(s) missed\n", reporter.Missed());
    // A row that was registered and failed is an error; a goal missed is only reported.
    return reporter.Failed() > 0 ? 1 : 0;
}
