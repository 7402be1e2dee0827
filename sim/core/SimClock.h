// Bench time in seconds since start. Fast mode: a simulated clock that only moves when an
// operation advances it, so drift and warm-up are deterministic and nothing sleeps. Otherwise
// wall time scaled by the speed factor.
#pragma once

#include <atomic>
#include <chrono>

#include "BenchOptions.h"

namespace sim {

class SimClock {
public:
    explicit SimClock(Speed speed);

    bool Fast() const { return m_speed.fast; }
    double NowS() const;
    // Fast mode: moves simulated time forward to t (never back). Otherwise nothing.
    void AdvanceTo(double t);
    // Returns once bench time has reached t: advances it in fast mode, sleeps otherwise. Never
    // call under the bench lock.
    void WaitUntil(double t);

private:
    Speed m_speed;
    std::chrono::steady_clock::time_point m_start;
    std::atomic<double> m_simulatedS{0.0};
};

}  // namespace sim
