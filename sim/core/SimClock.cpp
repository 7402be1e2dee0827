#include "SimClock.h"

#include <thread>

namespace sim {

SimClock::SimClock(Speed speed) : m_speed(speed), m_start(std::chrono::steady_clock::now()) {
    if (!(m_speed.factor > 0.0))
        m_speed.factor = 1.0;
}

double SimClock::NowS() const {
    if (m_speed.fast)
        return m_simulatedS.load();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    return elapsed.count() * m_speed.factor;
}

void SimClock::AdvanceTo(double t) {
    if (!m_speed.fast)
        return;
    double now = m_simulatedS.load();
    while (t > now && !m_simulatedS.compare_exchange_weak(now, t)) {
    }
}

void SimClock::WaitUntil(double t) {
    if (m_speed.fast) {
        AdvanceTo(t);
        return;
    }
    const double remainingS = (t - NowS()) / m_speed.factor;
    if (remainingS > 0.0)
        std::this_thread::sleep_for(std::chrono::duration<double>(remainingS));
}

}  // namespace sim
