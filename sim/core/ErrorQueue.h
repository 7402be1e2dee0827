// The instrument's SCPI error queue: first in, first out, ten entries; when full, the newest
// entry becomes -350 "Queue overflow".
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace sim {

class ErrorQueue {
public:
    static constexpr size_t kCapacity = 10;

    // Standard SCPI text of code ("" for codes this simulator never raises).
    static std::string_view Text(int code);

    // Queues code with its standard text, and detail after ';' inside the quotes when given.
    void Push(int code, std::string_view detail = {});
    // The oldest entry as SYST:ERR? answers it, removed; 0,"No error" when empty.
    std::string Pop();
    void Clear() { m_entries.clear(); }
    bool Empty() const { return m_entries.empty(); }
    size_t Size() const { return m_entries.size(); }

    // Told of every code pushed (the event status register derives its bits from it).
    void SetListener(std::function<void(int code)> listener) { m_listener = std::move(listener); }

private:
    struct Entry {
        int code;
        std::string text;
    };
    std::deque<Entry> m_entries;
    std::function<void(int)> m_listener;
};

}  // namespace sim
