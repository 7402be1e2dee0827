// One simulated instrument as the servers see it: the message instrument plus the state that
// belongs to the device rather than to a link (the response being read, the lock), shared by
// every link and every protocol that reaches it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "visa/MessageInstrument.h"

namespace sim::server {

using Clock = std::chrono::steady_clock;

// A deadline that many milliseconds from now; 0xFFFFFFFF (and anything beyond a day) waits a day.
Clock::time_point DeadlineAfterMs(uint32_t ms);

class ServedDevice {
public:
    ServedDevice(std::string name, std::shared_ptr<visa::MessageInstrument> instrument);
    ~ServedDevice();
    ServedDevice(const ServedDevice&) = delete;
    ServedDevice& operator=(const ServedDevice&) = delete;

    const std::string& Name() const { return m_name; }
    bool AcceptsLink() { return m_instrument->AcceptsLink(); }
    bool KeepsLink() { return m_instrument->KeepsLink(); }

    // Hands one complete program message to the instrument. Output not yet read belongs to an
    // earlier message and is discarded, as an instrument clears its output queue; a response
    // being prepared is waited for and dropped. Returns the generation the message started.
    uint64_t Deliver(std::string_view message);
    // Increases with every delivered message and device clear.
    uint64_t Generation() const;

    struct ReadResult {
        enum class Kind { Data, Timeout, Cancelled, Superseded } kind = Kind::Timeout;
        std::string data;
        bool end = false;       // the last byte is the last of the response
        bool termChar = false;  // cut after the termination character
    };
    // Takes up to maxBytes of the response, asking the instrument for one when none is waiting
    // and waiting until the deadline. An instrument that has its answer ready gives it on the
    // caller's thread; one that would make us wait is asked on the device's responder thread.
    // With termChar the data ends after its first occurrence. With a generation, a newer
    // message or a device clear ends the wait as Superseded.
    ReadResult Read(size_t maxBytes, Clock::time_point deadline, const std::atomic<bool>& cancel,
                    std::optional<char> termChar = {}, std::optional<uint64_t> generation = {});
    // The whole response to the given generation when it can be had without waiting; nothing
    // when the caller would have to wait for it (or for anything) with Read.
    std::optional<ReadResult> ReadNow(uint64_t generation);
    // Message available: part of a response waits to be read.
    bool OutputPending() const;
    // Device clear: input and output are discarded; a response in preparation is dropped.
    void Clear();
    // Wakes every wait so that it checks its cancel flag.
    void Wake();

    // The exclusive lock, held by an owner token (links and sessions draw unique tokens).
    enum class LockResult { Granted, AlreadyOwner, Timeout, Cancelled };
    LockResult Lock(uint64_t owner, Clock::time_point deadline, const std::atomic<bool>& cancel);
    bool Unlock(uint64_t owner);  // false when owner does not hold it
    // Waits until nobody else holds the lock; false on timeout or cancel.
    bool WaitAccess(uint64_t owner, Clock::time_point deadline, const std::atomic<bool>& cancel);
    bool LockedByOther(uint64_t owner) const;
    bool Locked() const;
    static uint64_t NewOwnerToken();

private:
    // Asks the instrument for the response to the current generation: inline when it can answer
    // without blocking, else on the responder thread. Caller holds m_mutex through `lock`.
    void Ask(std::unique_lock<std::mutex>& lock);
    void FinishAsk(uint64_t generation, std::optional<std::string> response);
    void RunResponder();
    bool CanAsk() const { return !m_asking && m_receiving == 0; }
    ReadResult TakeOutput(size_t maxBytes, std::optional<char> termChar);

    const std::string m_name;
    const std::shared_ptr<visa::MessageInstrument> m_instrument;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_generation = 0;
    int m_receiving = 0;  // messages being handed over right now
    std::string m_output;
    size_t m_outputOffset = 0;
    uint64_t m_lockOwner = 0;

    // At most one ask is in flight, and no message is handed over while it is: the instrument
    // pops whatever response it has queued, so an ask overlapping the next message could take
    // that message's response and have it dropped as stale.
    bool m_asking = false;
    std::optional<uint64_t> m_askedFor;  // asked for this generation since the last response
    std::thread m_responder;             // started by the first ask that would block
    std::condition_variable m_responderWake;
    std::optional<uint64_t> m_responderJob;  // generation the responder is to ask for
    bool m_stopping = false;
};

}  // namespace sim::server
