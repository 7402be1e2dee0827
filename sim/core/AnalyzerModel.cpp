#include "AnalyzerModel.h"

#include <algorithm>
#include <cmath>

#include "BenchPhysics.h"

namespace sim {

namespace {

constexpr double kMaxRbwHz = 10e6;
constexpr double kMaxAutoRbwHz = 3e6;

// The analyzer keeps about 100 resolution cells in the span, on the 1-3-10 steps.
double AutoRbwHz(double spanHz) {
    const double target = spanHz / 100.0;
    for (double decade = 1.0; decade <= kMaxAutoRbwHz; decade *= 10.0) {
        for (double step : {1.0, 3.0}) {
            if (step * decade >= target)
                return std::min(step * decade, kMaxAutoRbwHz);
        }
    }
    return kMaxAutoRbwHz;
}

std::string OnOff(bool on) {
    return on ? "1" : "0";
}

}  // namespace

AnalyzerModel::AnalyzerModel(std::string identification, std::mutex& benchMutex, SimClock& clock,
                             const BenchOptions& options, BenchPhysics& physics)
    : ScpiInstrument(benchMutex, clock, options.timing, std::move(identification)),
      m_options(options),
      m_physics(physics) {
    Couple();
    AddCommands();
}

void AnalyzerModel::Reset() {
    m_state = AnalyzerState{};
    m_running.reset();
    m_completed.reset();
    Couple();
}

void AnalyzerModel::Couple() {
    if (m_state.rbwAuto && m_state.spanHz > 0.0)
        m_state.rbwHz = AutoRbwHz(m_state.spanHz);
    if (m_state.vbwAuto)
        m_state.vbwHz = m_state.rbwHz;
    if (m_state.sweepTimeAuto) {
        const TimingOptions& timing = m_options.timing;
        const double rbw = m_state.rbwHz;
        m_state.sweepTimeS =
            std::max(timing.minSweepMs / 1000.0, timing.sweepFactor * m_state.spanHz / (rbw * rbw));
    }
}

AnalyzerModel::Readings AnalyzerModel::Measure(double t) {
    Readings readings{};
    for (size_t i = 0; i < readings.size(); ++i) {
        const AnalyzerMarker& marker = m_state.markers[i];
        if (marker.on)
            readings[i] = m_physics.MarkerReadingDbm(m_state, marker.frequencyHz, t);
    }
    return readings;
}

AnalyzerModel::Readings AnalyzerModel::Current() {
    // A continuous sweep always has a fresh trace.
    if (m_state.continuous)
        return Measure(Now());
    if (m_running && m_running->endS <= Now()) {
        m_completed = m_running->readings;
        m_running.reset();
        ++m_state.completedSweeps;
    }
    if (!m_completed)
        m_completed = Measure(Now());
    return *m_completed;
}

void AnalyzerModel::AddCommands() {
    ScpiEngine& e = Engine();
    const NumericRule frequency{0.0, kMaxFrequencyHz, 13.25e9, Unit::Hertz};
    const NumericRule bandwidth{1.0, kMaxRbwHz, 3e6, Unit::Hertz};

    // A numeric setting; a value that changes the couplings recouples.
    auto number = [this, &e](const std::string& pattern, const NumericRule& rule,
                             double AnalyzerState::*member, bool AnalyzerState::*autoFlag,
                             int decimals) {
        e.Add(
            pattern,
            [this, rule, member, autoFlag](ScpiCall& call) {
                if (!call.Expect(1, 1))
                    return;
                if (auto value = call.Number(0, rule)) {
                    m_state.*member = *value;
                    if (autoFlag)
                        m_state.*autoFlag = false;
                    Couple();
                }
            },
            [this, member, decimals](ScpiCall& call) {
                if (call.Expect(0, 0))
                    call.Reply(FormatNumber(m_state.*member, decimals));
            });
    };
    auto flag = [this, &e](const std::string& pattern, bool AnalyzerState::*member) {
        e.Add(
            pattern,
            [this, member](ScpiCall& call) {
                if (!call.Expect(1, 1))
                    return;
                if (auto on = call.Boolean(0)) {
                    m_state.*member = *on;
                    Couple();
                }
            },
            [this, member](ScpiCall& call) {
                if (call.Expect(0, 0))
                    call.Reply(OnOff(m_state.*member));
            });
    };

    number("[SENSe:]FREQuency:CENTer", frequency, &AnalyzerState::centerHz, nullptr, 3);
    number("[SENSe:]FREQuency:SPAN", frequency, &AnalyzerState::spanHz, nullptr, 3);
    for (const std::string bw : {"[SENSe:]BANDwidth", "[SENSe:]BWIDth"}) {
        number(bw + "[:RESolution]", bandwidth, &AnalyzerState::rbwHz, &AnalyzerState::rbwAuto, 3);
        flag(bw + "[:RESolution]:AUTO", &AnalyzerState::rbwAuto);
        number(bw + ":VIDeo", bandwidth, &AnalyzerState::vbwHz, &AnalyzerState::vbwAuto, 3);
        flag(bw + ":VIDeo:AUTO", &AnalyzerState::vbwAuto);
    }
    number("[SENSe:]SWEep:TIME", NumericRule{1e-6, 16000.0, 0.01, Unit::Second},
           &AnalyzerState::sweepTimeS, &AnalyzerState::sweepTimeAuto, 6);
    flag("[SENSe:]SWEep:TIME:AUTO", &AnalyzerState::sweepTimeAuto);
    number("DISPlay[:WINDow#4]:TRACe#6:Y[:SCALe]", NumericRule{1.0, 200.0, 100.0, Unit::Db},
           &AnalyzerState::yRangeDb, nullptr, 3);
    number("DISPlay[:WINDow#4]:TRACe#6:Y[:SCALe]:RLEVel", NumericRule{-130.0, 30.0, 0.0, Unit::Dbm},
           &AnalyzerState::referenceLevelDbm, nullptr, 3);

    auto marker = [this](ScpiCall& call) -> AnalyzerMarker& {
        return m_state.markers[static_cast<size_t>(call.Suffix("MARKER") - 1)];
    };
    e.Add(
        "CALCulate#4:MARKer#4[:STATe]",
        [marker](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto on = call.Boolean(0))
                marker(call).on = *on;
        },
        [marker](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(OnOff(marker(call).on));
        });
    e.Add(
        "CALCulate#4:MARKer#4:TRACe",
        [marker](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto trace = call.Number(0, NumericRule{1, 6, 1, Unit::None})) {
                marker(call).trace = static_cast<int>(std::lround(*trace));
                marker(call).on = true;
            }
        },
        [marker](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(std::to_string(marker(call).trace));
        });
    e.Add(
        "CALCulate#4:MARKer#4:X",
        [marker, frequency](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto hz = call.Number(0, frequency)) {
                marker(call).frequencyHz = *hz;
                marker(call).on = true;  // placing a marker switches it on
            }
        },
        [marker](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(FormatNumber(marker(call).frequencyHz, 3));
        });
    e.Add("CALCulate#4:MARKer#4:Y", {}, [this](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        const size_t index = static_cast<size_t>(call.Suffix("MARKER") - 1);
        if (!m_state.markers[index].on) {
            call.Error(-221, "marker off");
            return;
        }
        call.Reply(FormatNumber(Current()[index], 4));
    });

    e.Add(
        "INITiate:CONTinuous",
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            auto on = call.Boolean(0);
            if (!on)
                return;
            if (*on) {
                m_running.reset();
                m_completed.reset();
            } else if (m_state.continuous) {
                m_completed = Measure(Now());  // the trace freezes as it stands
            }
            m_state.continuous = *on;
        },
        [this](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(OnOff(m_state.continuous));
        });
    e.Add("INITiate[:IMMediate]", [this](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        // A new sweep replaces one still running; its trace is what the markers read once done.
        Current();
        m_running = Sweep{Now() + m_state.sweepTimeS, Measure(Now())};
        Overlapped(m_state.sweepTimeS);
    });

    e.Add("SIMulation:CANCel:PHASe", {}, [this](ScpiCall& call) {
        if (call.Expect(0, 0))
            call.Reply(FormatFixed(m_physics.TruthPhaseDeg(Now()), 6));
    });
}

}  // namespace sim
