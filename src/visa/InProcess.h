// In-process attachment: binds a resource name to an object that behaves as a message-based
// instrument, so the real VISA calls reach simulated instruments without a network.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "MessageInstrument.h"
#include "visa.h"

namespace visa {

// One I/O operation as the attachment saw it, with the timeout the session had at that moment.
struct IoEvent {
    enum class Kind { Open, Write, Read, Close } kind;
    std::string data;  // bytes written, or bytes returned by a read
    ViStatus status = VI_SUCCESS;
    ViUInt32 timeoutMs = 0;
};

class InProcessAttachment {
public:
    struct State;
    explicit InProcessAttachment(std::shared_ptr<State> state);
    ~InProcessAttachment();  // detaches: open sessions see a lost connection
    InProcessAttachment(const InProcessAttachment&) = delete;
    InProcessAttachment& operator=(const InProcessAttachment&) = delete;

    // Failure modes.
    void SetRefuseOpen(bool refuse);
    void SetFailWrites(bool fail);         // writes fail with VI_ERROR_IO
    void SetReadTimesOut(bool timesOut);   // reads fail with VI_ERROR_TMO
    void SetLostAfterMessages(int count);  // connection lost after count messages; negative: never

    std::vector<IoEvent> Events() const;
    void ClearEvents();
    const std::string& Resource() const;

private:
    std::shared_ptr<State> m_state;
};

// Attaches instrument under resourceName (parsed, matched on its canonical form). A second
// attachment of the same name replaces the first. Returns null when the name does not parse.
std::unique_ptr<InProcessAttachment> AttachInProcess(std::string_view resourceName,
                                                     std::shared_ptr<MessageInstrument> instrument);

// Makes viOpenDefaultRM fail with VI_ERROR_SYSTEM_ERROR, as when the I/O layer cannot start.
void SetResourceManagerFailure(bool fail);

}  // namespace visa
