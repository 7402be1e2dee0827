// The fault matrix's table: every fault the simulator can inject, during each procedure, over
// VXI-11 and HiSLIP, once more with the fast search for the measuring procedures, and what each
// cell must come to. The window's matrix and korvel-run's headless cells both run it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "sim/core/BenchOptions.h"
#include "tests/support/TestSupport.h"

namespace fault_cells {

using sim::FaultKind;

enum class Procedure { Connect, Single, Sweep, Continuous, AdjustLevels };
enum class Transport { Vxi11, HiSlip };

struct Cell {
    FaultKind fault;
    Procedure procedure;
    Transport transport;
    bool fast = false;  // the store chooses the fast search
};

// Messages the analyzer has taken in when each procedure starts: connect sends three (the
// probe, *IDN?, *CLS), the analyzer set-up nine, one measurement 74 (INIT:CONT OFF, 36 readings
// of two messages, INIT:CONT ON). Counted faults strike this many messages later: halfway through
// the single measurement and the level scan (which follows a measurement, as it does at the
// bench: the analyzer is set up by then), in the sweep's second step, in the second sample.
// The fast search takes fewer readings, as many as its bench asks for: its counted faults strike
// in the first measurement, at the third reading's marker query (every search takes three; a
// query, as in the cells above, so that a dropped VXI-11 link is noticed the same way).
inline int FaultAfter(Procedure procedure, bool fast) {
    static const int after[] = {0, 3 + 9 + 30, 3 + 83 + 9 + 30, 3 + 9 + 74 + 30,
                                3 + 9 + 74 + 1 + 40};
    return fast ? 3 + 9 + 6 : after[static_cast<int>(procedure)];
}

// Error-queue faults live in the generators (only their queues are read); the rest act on the
// analyzer, whose readings are the measurement. A hang counts the bench's messages from its
// start, so the analyzer's messages on links before the procedure's own (earlier) come first.
inline sim::Fault FaultFor(const Cell& c, int earlier = 0) {
    switch (c.fault) {
        case FaultKind::Errors:
        case FaultKind::EndlessErrors:
            return {sim::InstrumentId::Generator1, c.fault, 0};
        case FaultKind::Slow:
            return {sim::InstrumentId::Analyzer, c.fault, 5};
        case FaultKind::DropAfter:
        case FaultKind::HangAfter:
            return {
                sim::InstrumentId::Analyzer, c.fault,
                (c.fault == FaultKind::HangAfter ? earlier : 0) + FaultAfter(c.procedure, c.fast)};
        default:
            return {sim::InstrumentId::Analyzer, c.fault, 0};
    }
}

// What a cell comes to. The analyzer's session fails; a counted fault during connect strikes
// the probe, during a procedure the connection is clean.
inline bool AnalyzerFails(const Cell& c) {
    return c.fault == FaultKind::Refuse || c.fault == FaultKind::DropAfter ||
           c.fault == FaultKind::HangAfter;
}
inline bool Connects(const Cell& c) {
    return !AnalyzerFails(c) || (c.fault != FaultKind::Refuse && c.procedure != Procedure::Connect);
}
// Marker replies without a number are no readings.
inline bool ReadingsGood(const Cell& c) {
    return c.fault != FaultKind::Garbage;
}
// The fast search's counted faults strike the first step or sample.
inline bool FirstLost(const Cell& c) {
    return c.fast && AnalyzerFails(c);
}
// Error-queue listings: only the sweep reads the queues, one per generator setting.
inline size_t ErrorBoxes(const Cell& c) {
    const bool errors = c.fault == FaultKind::Errors || c.fault == FaultKind::EndlessErrors;
    return errors && c.procedure == Procedure::Sweep ? 2u * 3u : 0u;
}

// Samples a continuous run keeps when asked runs to its end.
inline size_t Samples(const Cell& c, size_t asked) {
    return !ReadingsGood(c) ? 0 : AnalyzerFails(c) ? !FirstLost(c) : asked;
}

inline std::vector<std::string> Lines(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The sweep file of one frequency at -20 and -15 dBm: a point measured before the fault struck
// within half a degree of the truth, the others not measured.
inline void ExpectSweepFile(const Cell& c, const std::vector<std::string>& lines, double truth) {
    ASSERT_EQ(lines.size(), 5u);
    for (size_t row = 0; row < 2; ++row) {
        const std::string& line = lines[3 + row];
        if (ReadingsGood(c) && !(row == 0 ? FirstLost(c) : AnalyzerFails(c))) {
            EXPECT_LE(CircleDistance(std::stod(line.substr(line.find(';') + 1)), truth), 0.5);
        } else {
            EXPECT_EQ(line, (row == 0 ? "-20.00" : "-15.00") + std::string(";-999.000;\r"));
        }
    }
}

// The continuous log: its header and each sample's line whole, within tolerance of the truth.
inline void ExpectLog(const std::vector<std::string>& lines, size_t samples, double truth,
                      double tolerance = 0.5) {
    ASSERT_EQ(lines.size(), 3 + samples);
    for (size_t i = 3; i < lines.size(); ++i) {
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ';'), 4) << lines[i];
        EXPECT_EQ(lines[i].back(), '\r');
        EXPECT_LE(CircleDistance(std::stod(lines[i].substr(lines[i].rfind(';') + 1)), truth),
                  tolerance);
    }
}

inline std::string CellName(const Cell& c) {
    static const char* faults[] = {"Refuse",  "DropAfter", "HangAfter",     "Slow",
                                   "Garbage", "Errors",    "EndlessErrors", "HugeReply"};
    static const char* procedures[] = {"Connect", "Single", "Sweep", "Continuous", "AdjustLevels"};
    return std::string(faults[static_cast<int>(c.fault)]) + "_" +
           procedures[static_cast<int>(c.procedure)] + "_" +
           (c.transport == Transport::Vxi11 ? "Vxi11" : "HiSlip") + (c.fast ? "_Fast" : "");
}

// The cells of the given procedures, in the order of the table.
inline std::vector<Cell> Cells(const std::vector<Procedure>& procedures) {
    std::vector<Cell> cells;
    for (int fault = 0; fault <= static_cast<int>(FaultKind::HugeReply); ++fault) {
        for (Procedure procedure : procedures) {
            for (Transport transport : {Transport::Vxi11, Transport::HiSlip}) {
                cells.push_back({FaultKind(fault), procedure, transport});
                if (procedure != Procedure::Connect && procedure != Procedure::AdjustLevels)
                    cells.push_back({FaultKind(fault), procedure, transport, true});
            }
        }
    }
    return cells;
}

}  // namespace fault_cells
