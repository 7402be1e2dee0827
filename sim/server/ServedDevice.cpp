#include "ServedDevice.h"

#include <algorithm>

namespace sim::server {

Clock::time_point DeadlineAfterMs(uint32_t ms) {
    constexpr uint32_t kDayMs = 24u * 3600u * 1000u;
    return Clock::now() + std::chrono::milliseconds(std::min(ms, kDayMs));
}

ServedDevice::ServedDevice(std::string name, std::shared_ptr<visa::MessageInstrument> instrument)
    : m_name(std::move(name)), m_instrument(std::move(instrument)) {}

ServedDevice::~ServedDevice() {
    if (m_responder.joinable()) m_responder.join();
}

uint64_t ServedDevice::Deliver(std::string_view message) {
    uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        generation = ++m_generation;
        ++m_receiving;
        m_output.clear();
        m_outputOffset = 0;
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

void ServedDevice::StartResponder() {
    if (m_responder.joinable()) m_responder.join();  // finished: its result was collected
    m_responding = true;
    m_responseDone = false;
    m_responseGeneration = m_generation;
    m_responder = std::thread([this] {
        std::optional<std::string> response = m_instrument->Respond();
        std::lock_guard lock(m_mutex);
        m_response = std::move(response);
        m_responseDone = true;
        m_changed.notify_all();
    });
}

void ServedDevice::CollectResponder(std::unique_lock<std::mutex>& lock) {
    m_responding = false;
    m_responseDone = false;
    std::thread finished = std::move(m_responder);
    std::optional<std::string> response = std::move(m_response);
    m_response.reset();
    lock.unlock();
    finished.join();
    lock.lock();
    // A response to a message that has since been superseded or cleared is stale.
    if (response && m_responseGeneration == m_generation) {
        m_output = std::move(*response);
        m_outputOffset = 0;
    }
}

ServedDevice::ReadResult ServedDevice::Read(size_t maxBytes, Clock::time_point deadline,
                                            const std::atomic<bool>& cancel,
                                            std::optional<char> termChar,
                                            std::optional<uint64_t> generation) {
    ReadResult result;
    std::unique_lock lock(m_mutex);
    // The instrument is asked at most once per message; asking again while it has nothing to say
    // would only repeat its complaint about a read without a query.
    std::optional<uint64_t> askedFor;
    for (;;) {
        if (cancel) {
            result.kind = ReadResult::Kind::Cancelled;
            return result;
        }
        if (generation && *generation != m_generation) {
            result.kind = ReadResult::Kind::Superseded;
            return result;
        }
        if (m_responseDone) {
            CollectResponder(lock);
            continue;
        }
        if (m_outputOffset < m_output.size() && m_receiving == 0) {
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
            }
            return result;
        }
        if (!m_responding && m_receiving == 0 && askedFor != m_generation) {
            askedFor = m_generation;
            StartResponder();
            continue;
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            Clock::now() >= deadline) {
            result.kind = ReadResult::Kind::Timeout;
            return result;
        }
    }
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
    if (m_lockOwner == owner) return LockResult::AlreadyOwner;
    while (m_lockOwner != 0) {
        if (cancel) return LockResult::Cancelled;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            m_lockOwner != 0) {
            return LockResult::Timeout;
        }
    }
    m_lockOwner = owner;
    return LockResult::Granted;
}

bool ServedDevice::Unlock(uint64_t owner) {
    std::lock_guard lock(m_mutex);
    if (m_lockOwner != owner) return false;
    m_lockOwner = 0;
    m_changed.notify_all();
    return true;
}

bool ServedDevice::WaitAccess(uint64_t owner, Clock::time_point deadline,
                              const std::atomic<bool>& cancel) {
    std::unique_lock lock(m_mutex);
    while (m_lockOwner != 0 && m_lockOwner != owner) {
        if (cancel) return false;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            m_lockOwner != 0 && m_lockOwner != owner) {
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
