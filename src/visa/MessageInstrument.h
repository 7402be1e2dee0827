// The message-based instrument as both ends see it: the VISA layer attaches one in process, the
// simulator's servers serve one over the network. Header only, so the simulator needs nothing else
// of the VISA layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace visa {

// The instrument side of an attachment: receives each program message, produces each response.
class MessageInstrument {
public:
    virtual ~MessageInstrument() = default;
    // One complete program message as written (END on its last byte).
    virtual void Receive(std::string_view message) = 0;
    // The next response message, or nothing when no response is pending (the read times out).
    virtual std::optional<std::string> Respond() = 0;
    // Respond() without blocking, for servers that answer on the reading thread when they can:
    // nothing when answering would block (call Respond() instead, where waiting is fine),
    // otherwise exactly what Respond() would have returned, with the same side effects.
    virtual std::optional<std::optional<std::string>> TryRespond() { return std::nullopt; }
    // Device clear: pending input and output are discarded.
    virtual void Clear() {}
    // Whether a new link is accepted right now.
    virtual bool AcceptsLink() { return true; }
    // Asked after every message in either direction; false closes the link (the client sees a
    // lost connection), as an instrument that drops its connection does.
    virtual bool KeepsLink() { return true; }
};

}  // namespace visa
