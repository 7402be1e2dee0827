#include "ServedDevice.h"

#include <algorithm>
#include <cstdint>

namespace sim::server {

Clock::time_point DeadlineAfterMs(uint32_t ms) {
    constexpr uint32_t kDayMs = 24u * 3600u * 1000u;
    return Clock::now() + std::chrono::milliseconds(std::min(ms, kDayMs));
}

ServedDevice::ServedDevice(std::string name, std::shared_ptr<visa::MessageInstrument> instrument)
    : m_name(std::move(name)), m_instrument(std::move(instrument)) {}

ServedDevice::~ServedDevice() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_responderWake.notify_all();
    }
    if (m_responder.joinable())
        m_responder.join();
}

uint64_t ServedDevice::Deliver(std::string_view message) {
    uint64_t generation = 0;
    {
        std::unique_lock lock(m_mutex);
        generation = ++m_generation;
        ++m_receiving;
        m_output.clear();
        m_outputOffset = 0;
        m_changed.notify_all();
        // The answer to an ask still in flight is stale now; wait for it all the same (see
        // m_asking) before the instrument queues this message's response.
        m_changed.wait(lock, [this] { return !m_asking; });
    }
    // Outside the lock: the instrument may take its time and other links keep working.
    m_instrument->Receive(message);
    std::lock_guard lock(m_mutex);
    --m_receiving;
    m_changed.notify_all();
    return generation;
}

uint64_t ServedDevice::Generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

void ServedDevice::Ask(std::unique_lock<std::mutex>& lock) {
    const uint64_t generation = m_generation;
    m_askedFor = generation;
    m_asking = true;
    lock.unlock();
    std::optional<std::optional<std::string>> ready = m_instrument->TryRespond();
    lock.lock();
    if (ready) {
        FinishAsk(generation, std::move(*ready));
        return;
    }
    // The answer takes time (bench time in real-time mode, or a fault): the responder waits
    // for it while the reader keeps watching its deadline and cancel flag.
    m_responderJob = generation;
    if (!m_responder.joinable())
        m_responder = std::thread([this] { RunResponder(); });
    m_responderWake.notify_one();
}

void ServedDevice::FinishAsk(uint64_t generation, std::optional<std::string> response) {
    m_asking = false;
    // A response to a message since superseded or cleared is stale.
    if (response && generation == m_generation) {
        m_output = std::move(*response);
        m_outputOffset = 0;
    }
    m_changed.notify_all();
}

void ServedDevice::RunResponder() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_responderWake.wait(lock, [this] { return m_stopping || m_responderJob; });
        if (!m_responderJob)
            return;  // stopping with nothing asked
        const uint64_t generation = *m_responderJob;
        m_responderJob.reset();
        lock.unlock();
        std::optional<std::string> response = m_instrument->Respond();
        lock.lock();
        FinishAsk(generation, std::move(response));
    }
}

ServedDevice::ReadResult ServedDevice::TakeOutput(size_t maxBytes, std::optional<char> termChar) {
    ReadResult result;
    size_t n = std::min(maxBytes, m_output.size() - m_outputOffset);
    if (termChar) {
        const size_t at = m_output.find(*termChar, m_outputOffset);
        if (at != std::string::npos && at < m_outputOffset + n) {
            n = at - m_outputOffset + 1;
            result.termChar = true;
        }
    }
    result.kind = ReadResult::Kind::Data;
    result.data = m_output.substr(m_outputOffset, n);
    m_outputOffset += n;
    result.end = m_outputOffset == m_output.size();
    if (result.end) {
        m_output.clear();
        m_outputOffset = 0;
        m_askedFor.reset();  // a message with several queries has more to say
    }
    return result;
}

ServedDevice::ReadResult ServedDevice::Read(size_t maxBytes, Clock::time_point deadline,
                                            const std::atomic<bool>& cancel,
                                            std::optional<char> termChar,
                                            std::optional<uint64_t> generation) {
    ReadResult result;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (cancel) {
            result.kind = ReadResult::Kind::Cancelled;
            return result;
        }
        if (generation && *generation != m_generation) {
            result.kind = ReadResult::Kind::Superseded;
            return result;
        }
        if (m_outputOffset < m_output.size() && m_receiving == 0) {
            return TakeOutput(maxBytes, termChar);
        }
        // Once it had nothing to say, the instrument is not asked again for the same message:
        // that would only repeat its complaint about a read without a query.
        if (CanAsk() && m_askedFor != m_generation) {
            Ask(lock);
            continue;
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            Clock::now() >= deadline) {
            result.kind = ReadResult::Kind::Timeout;
            return result;
        }
    }
}

std::optional<ServedDevice::ReadResult> ServedDevice::ReadNow(uint64_t generation) {
    std::unique_lock lock(m_mutex);
    if (generation == m_generation && m_outputOffset == m_output.size() && CanAsk() &&
        m_askedFor != m_generation) {
        Ask(lock);
    }
    if (generation != m_generation) {
        ReadResult superseded;
        superseded.kind = ReadResult::Kind::Superseded;
        return superseded;
    }
    if (m_outputOffset < m_output.size() && m_receiving == 0)
        return TakeOutput(SIZE_MAX, {});
    return std::nullopt;
}

bool ServedDevice::OutputPending() const {
    std::lock_guard lock(m_mutex);
    return m_outputOffset < m_output.size();
}

void ServedDevice::Clear() {
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_output.clear();
        m_outputOffset = 0;
        m_changed.notify_all();
    }
    m_instrument->Clear();
}

void ServedDevice::Wake() {
    std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

ServedDevice::LockResult ServedDevice::Lock(uint64_t owner, Clock::time_point deadline,
                                            const std::atomic<bool>& cancel) {
    std::unique_lock lock(m_mutex);
    if (m_lockOwner == owner)
        return LockResult::AlreadyOwner;
    while (m_lockOwner != 0) {
        if (cancel)
            return LockResult::Cancelled;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && m_lockOwner != 0) {
            return LockResult::Timeout;
        }
    }
    m_lockOwner = owner;
    return LockResult::Granted;
}

bool ServedDevice::Unlock(uint64_t owner) {
    std::lock_guard lock(m_mutex);
    if (m_lockOwner != owner)
        return false;
    m_lockOwner = 0;
    m_changed.notify_all();
    return true;
}

bool ServedDevice::WaitAccess(uint64_t owner, Clock::time_point deadline,
                              const std::atomic<bool>& cancel) {
    std::unique_lock lock(m_mutex);
    while (m_lockOwner != 0 && m_lockOwner != owner) {
        if (cancel)
            return false;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && m_lockOwner != 0 &&
            m_lockOwner != owner) {
            return false;
        }
    }
    return true;
}

bool ServedDevice::LockedByOther(uint64_t owner) const {
    std::lock_guard lock(m_mutex);
    return m_lockOwner != 0 && m_lockOwner != owner;
}

bool ServedDevice::Locked() const {
    std::lock_guard lock(m_mutex);
    return m_lockOwner != 0;
}

uint64_t ServedDevice::NewOwnerToken() {
    static std::atomic<uint64_t> next{1};
    return next++;
}

}  // namespace sim::server
