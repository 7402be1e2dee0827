// A message instrument for tests: answers "*IDN?" and serves queued replies to other queries,
// recording every program message it receives.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/InProcess.h"

class ScriptedInstrument : public visa::MessageInstrument {
public:
    std::string idn = "Maltoven,TEST1,100001,1.00\n";

    // Queues a raw reply (bytes as the instrument sends them) for the next query.
    void QueueReply(std::string reply) {
        std::lock_guard lock(m_mutex);
        m_replies.push_back(std::move(reply));
    }
    std::vector<std::string> Received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    void ClearReceived() {
        std::lock_guard lock(m_mutex);
        m_received.clear();
    }

    void Receive(std::string_view message) override {
        std::lock_guard lock(m_mutex);
        m_received.emplace_back(message);
        if (message == "*IDN?\n") {
            m_pending.push_back(idn);
        } else if (message.find('?') != std::string_view::npos && !m_replies.empty()) {
            m_pending.push_back(m_replies.front());
            m_replies.pop_front();
        }
    }
    std::optional<std::string> Respond() override {
        std::lock_guard lock(m_mutex);
        if (m_pending.empty())
            return std::nullopt;
        std::string reply = std::move(m_pending.front());
        m_pending.pop_front();
        return reply;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_received;
    std::deque<std::string> m_replies;
    std::deque<std::string> m_pending;
};
