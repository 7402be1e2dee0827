// One deadline per operation, on the steady clock: wall-clock jumps must not stretch or cut
// an I/O timeout.
#pragma once

#include <chrono>
#include <cstdint>

namespace visa::net {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    static Deadline Infinite() { return Deadline(); }
    static Deadline AfterMs(std::uint64_t ms) {
        Deadline d;
        d.m_infinite = false;
        d.m_at = Clock::now() + std::chrono::milliseconds(ms);
        return d;
    }
    static Deadline At(Clock::time_point at) {
        Deadline d;
        d.m_infinite = false;
        d.m_at = at;
        return d;
    }

    bool IsInfinite() const { return m_infinite; }
    bool Expired() const { return !m_infinite && Clock::now() >= m_at; }
    Clock::time_point When() const { return m_at; }

    // Milliseconds left, rounded up so that a wait never ends before the deadline; 0 once passed.
    std::uint64_t RemainingMs() const {
        if (m_infinite)
            return UINT64_MAX;
        const auto left = m_at - Clock::now();
        if (left <= Clock::duration::zero())
            return 0;
        return static_cast<std::uint64_t>(
            std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }

    // The earlier of two deadlines.
    Deadline Min(const Deadline& other) const {
        if (m_infinite)
            return other;
        if (other.m_infinite)
            return *this;
        return m_at <= other.m_at ? *this : other;
    }

private:
    Deadline() = default;
    bool m_infinite = true;
    Clock::time_point m_at{};
};

}  // namespace visa::net
