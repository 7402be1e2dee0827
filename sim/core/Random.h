// The bench's random numbers: a fully defined generator and our own Gaussian transform, so a
// seed gives the same bench on every platform and standard library.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace sim {

class Random {
public:
    explicit Random(std::uint64_t seed) : m_engine(seed) {}

    // Uniform in (0, 1).
    double Uniform() {
        return (static_cast<double>(m_engine() >> 11) + 0.5) * (1.0 / 9007199254740992.0);
    }
    // Standard normal (Box-Muller).
    double Gaussian() {
        if (m_haveSpare) {
            m_haveSpare = false;
            return m_spare;
        }
        const double radius = std::sqrt(-2.0 * std::log(Uniform()));
        const double angle = 2.0 * 3.14159265358979323846 * Uniform();
        m_spare = radius * std::sin(angle);
        m_haveSpare = true;
        return radius * std::cos(angle);
    }
    std::uint64_t Next() { return m_engine(); }

private:
    std::mt19937_64 m_engine;
    double m_spare = 0.0;
    bool m_haveSpare = false;
};

}  // namespace sim
