// Collects the repetitions of every row (counters "value" and "cpu": microseconds, or MiB for
// memory) and prints one table once all rows have run: median, min and max of each row, next
// to the row it is compared with and the goal it is held to.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

struct TableRow {
    enum class Unit { Microseconds, Milliseconds, Mebibytes };
    enum class Goal {
        None,
        AtMostTimesVersus,   // value <= goal * versus (a client against its floor)
        AtLeastTimesVersus,  // value >= goal * versus (another client against ours)
        AtMost,              // value <= goal, in the row's unit
    };
    std::string id;  // the benchmark's name
    std::string label;
    Unit unit = Unit::Microseconds;
    std::string versus;  // id of the row compared with
    Goal goal = Goal::None;
    double goalValue = 0.0;
};

class TableReporter : public benchmark::BenchmarkReporter {
public:
    explicit TableReporter(std::vector<TableRow> rows) : m_rows(std::move(rows)) {}

    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    // A row that was not measured, and why (printed in its place).
    void SetMissing(const std::string& id, const std::string& reason) {
        m_results[id].error = reason;
    }
    // Goals not met (after Finalize).
    int Missed() const { return m_missed; }
    // Rows whose repetitions failed.
    int Failed() const { return m_failed; }

private:
    struct Result {
        std::vector<double> values;
        std::vector<double> cpu;
        double operations = 0.0;
        double failures = 0.0;  // of another's client, counted rather than fatal
        std::string error;
        double Median() const;
        double CpuMedian() const;
    };
    std::vector<TableRow> m_rows;
    std::map<std::string, Result> m_results;
    int m_missed = 0;
    int m_failed = 0;
};
