// Fault injection around an instrument, so every transport sees the same faults. Faults that
// live inside the SCPI engine (errors, endless-errors) are switched on in the model by the
// bench; the rest act here on the message flow.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "BenchOptions.h"
#include "Random.h"
#include "visa/MessageInstrument.h"

namespace sim {

class FaultyInstrument : public visa::MessageInstrument {
public:
    static constexpr size_t kHugeReplyBytes = 20000;

    FaultyInstrument(std::shared_ptr<visa::MessageInstrument> inner,
                     const std::vector<Fault>& faults, std::uint64_t seed);

    void Receive(std::string_view message) override;
    std::optional<std::string> Respond() override;
    std::optional<std::optional<std::string>> TryRespond() override;
    void Clear() override;
    bool AcceptsLink() override;
    bool KeepsLink() override;

private:
    bool Hung() const;
    // The garbage and huge-reply faults applied to one reply.
    std::string Disguise(std::string reply);

    std::shared_ptr<visa::MessageInstrument> m_inner;
    bool m_refuse = false;
    int m_dropAfter = -1;  // messages; negative: never
    int m_hangAfter = -1;
    int m_slowMs = 0;
    bool m_garbage = false;
    bool m_huge = false;
    std::atomic<int> m_linkMessages{0};   // since the last link was accepted
    std::atomic<int> m_totalMessages{0};  // since the bench started
    std::mutex m_randomMutex;
    Random m_random;
};

}  // namespace sim
