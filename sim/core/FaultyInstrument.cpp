#include "FaultyInstrument.h"

#include <chrono>
#include <thread>

namespace sim {

FaultyInstrument::FaultyInstrument(std::shared_ptr<visa::MessageInstrument> inner,
                                   const std::vector<Fault>& faults, std::uint64_t seed)
    : m_inner(std::move(inner)), m_random(seed) {
    for (const Fault& fault : faults) {
        switch (fault.kind) {
            case FaultKind::Refuse:
                m_refuse = true;
                break;
            case FaultKind::DropAfter:
                m_dropAfter = fault.value;
                break;
            case FaultKind::HangAfter:
                m_hangAfter = fault.value;
                break;
            case FaultKind::Slow:
                m_slowMs = fault.value;
                break;
            case FaultKind::Garbage:
                m_garbage = true;
                break;
            case FaultKind::HugeReply:
                m_huge = true;
                break;
            case FaultKind::Errors:
            case FaultKind::EndlessErrors:
                break;  // inside the model
        }
    }
}

void FaultyInstrument::Receive(std::string_view message) {
    ++m_linkMessages;
    const int total = ++m_totalMessages;
    // A hung instrument takes nothing in any more.
    if (m_hangAfter >= 0 && total > m_hangAfter)
        return;
    m_inner->Receive(message);
}

bool FaultyInstrument::Hung() const {
    return m_hangAfter >= 0 && m_totalMessages.load() > m_hangAfter;
}

std::optional<std::string> FaultyInstrument::Respond() {
    if (Hung())
        return std::nullopt;
    std::optional<std::string> reply = m_inner->Respond();
    if (!reply)
        return reply;
    if (m_slowMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_slowMs));
    return Disguise(std::move(*reply));
}

std::optional<std::optional<std::string>> FaultyInstrument::TryRespond() {
    if (m_slowMs > 0)
        return std::nullopt;  // the delay is a sleep
    if (Hung())
        return std::optional<std::string>();
    std::optional<std::optional<std::string>> reply = m_inner->TryRespond();
    if (reply && *reply)
        *reply = Disguise(std::move(**reply));
    return reply;
}

std::string FaultyInstrument::Disguise(std::string reply) {
    if (m_garbage) {
        // Letters only: no reader can take a number from it.
        std::lock_guard lock(m_randomMutex);
        std::string text;
        const int length = 4 + static_cast<int>(m_random.Next() % 12);
        for (int i = 0; i < length; ++i)
            text += static_cast<char>('A' + m_random.Next() % 26);
        reply = text + '\n';
    }
    if (m_huge && reply.size() < kHugeReplyBytes) {
        std::string padded = reply.substr(0, reply.size() - 1);
        padded.append(kHugeReplyBytes - 1 - padded.size(), ' ');
        reply = padded + '\n';
    }
    return reply;
}

void FaultyInstrument::Clear() {
    m_inner->Clear();
}

bool FaultyInstrument::AcceptsLink() {
    if (m_refuse || !m_inner->AcceptsLink())
        return false;
    m_linkMessages = 0;
    return true;
}

bool FaultyInstrument::KeepsLink() {
    if (m_dropAfter >= 0 && m_linkMessages.load() >= m_dropAfter)
        return false;
    return m_inner->KeepsLink();
}

}  // namespace sim
