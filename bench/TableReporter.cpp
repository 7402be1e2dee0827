#include "TableReporter.h"

#include <cstdio>

namespace {

double MedianOf(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double Scale(TableRow::Unit unit) {
    return unit == TableRow::Unit::Milliseconds ? 1e-3 : 1.0;
}

const char* UnitName(TableRow::Unit unit) {
    switch (unit) {
        case TableRow::Unit::Microseconds:
            return "us";
        case TableRow::Unit::Milliseconds:
            return "ms";
        case TableRow::Unit::Mebibytes:
            return "MiB";
    }
    return "";
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text,
                  value >= 100.0  ? "%.0f"
                  : value >= 10.0 ? "%.1f"
                                  : "%.2f",
                  value);
    return text;
}

}  // namespace

double TableReporter::Result::Median() const {
    return MedianOf(values);
}
double TableReporter::Result::CpuMedian() const {
    return MedianOf(cpu);
}

bool TableReporter::ReportContext(const Context& context) {
    std::fprintf(stderr, "bench: %d cpus at %.0f MHz; %zu rows, interleaved repetitions\n",
                 context.cpu_info.num_cpus, context.cpu_info.cycles_per_second / 1e6,
                 m_rows.size());
    return true;
}

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration)
            continue;
        Result& result = m_results[run.run_name.function_name];
        if (run.error_occurred) {
            if (result.error.empty())
                ++m_failed;
            result.error = run.error_message;
            continue;
        }
        auto counter = [&](const char* name) {
            const auto it = run.counters.find(name);
            return it == run.counters.end() ? 0.0 : it->second.value;
        };
        result.values.push_back(counter("value"));
        result.cpu.push_back(counter("cpu"));
        result.operations += counter("operations");
        result.failures += counter("failures");
        std::fprintf(stderr, "bench: %-22s %12.2f\n", run.run_name.function_name.c_str(),
                     counter("value"));
    }
}

void TableReporter::Finalize() {
    std::printf("\n%-46s %9s %9s %9s %-4s %10s  %-26s %8s %8s\n", "row", "median", "min", "max", "",
                "client CPU", "compared with", "ratio", "goal");
    m_missed = 0;
    for (const TableRow& row : m_rows) {
        const Result& result = m_results[row.id];
        if (result.values.empty() || !result.error.empty()) {
            std::printf("%-46s %s\n", row.label.c_str(),
                        ("not measured: " +
                         (result.error.empty() ? std::string("no result") : result.error))
                            .c_str());
            continue;
        }
        const double scale = Scale(row.unit);
        const double median = result.Median();
        const double cpuMedian = result.CpuMedian();
        const std::string cpu =
            cpuMedian > 0.0 ? Number(cpuMedian * scale) + " " + UnitName(row.unit) : "";
        std::string versus;
        std::string ratio;
        std::string goal;
        bool met = true;
        bool judged = false;
        if (!row.versus.empty()) {
            const Result& other = m_results[row.versus];
            for (const TableRow& r : m_rows) {
                if (r.id == row.versus)
                    versus = r.label.substr(0, 26);
            }
            if (!other.values.empty() && other.error.empty() && other.Median() > 0.0) {
                const double r = median / other.Median();
                ratio = Number(r) + "x";
                if (row.goal == TableRow::Goal::AtMostTimesVersus) {
                    goal = "<= " + Number(row.goalValue) + "x";
                    met = r <= row.goalValue;
                    judged = true;
                } else if (row.goal == TableRow::Goal::AtLeastTimesVersus) {
                    goal = ">= " + Number(row.goalValue) + "x";
                    met = r >= row.goalValue;
                    judged = true;
                }
            } else {
                ratio = "n/a";
            }
        }
        if (row.goal == TableRow::Goal::AtMost) {
            goal = "<= " + Number(row.goalValue) + " " + UnitName(row.unit);
            met = median * scale <= row.goalValue;
            judged = true;
        }
        if (judged && !met)
            ++m_missed;
        std::printf(
            "%-46s %9s %9s %9s %-4s %10s  %-26s %8s %8s %s\n", row.label.c_str(),
            Number(median * scale).c_str(),
            Number(*std::min_element(result.values.begin(), result.values.end()) * scale).c_str(),
            Number(*std::max_element(result.values.begin(), result.values.end()) * scale).c_str(),
            UnitName(row.unit), cpu.c_str(), versus.c_str(), ratio.c_str(), goal.c_str(),
            judged ? (met ? "met" : "MISSED") : "");
    }
    for (const TableRow& row : m_rows) {
        const Result& result = m_results[row.id];
        if (result.failures > 0) {
            std::printf("\n%s: %.0f of %.0f operations failed (their time is in the row)",
                        row.label.c_str(), result.failures, result.operations);
        }
    }
    std::printf(
        "\nmedian, min and max over the repetitions of each row (each the mean of a batch); the\n"
        "repetitions of all rows ran interleaved in random order.\n");
}
