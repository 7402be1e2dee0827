#include "InProcess.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

#include "InProcessTransport.h"
#include "ResourceName.h"

namespace visa {

struct InProcessAttachment::State {
    std::string resource;  // canonical name
    std::shared_ptr<MessageInstrument> instrument;
    mutable std::mutex mutex;
    bool detached = false;
    bool refuseOpen = false;
    bool failWrites = false;
    bool readTimesOut = false;
    int lostAfterMessages = -1;
    int messages = 0;
    std::vector<IoEvent> events;

    void Record(IoEvent::Kind kind, std::string data, ViStatus status, ViUInt32 timeoutMs) {
        events.push_back(IoEvent{kind, std::move(data), status, timeoutMs});
    }
};

namespace {

std::string Key(std::string canonical) {
    for (char& c : canonical)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return canonical;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<InProcessAttachment::State>> attachments;
    bool resourceManagerFails = false;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

using State = InProcessAttachment::State;

class InProcessTransport final : public Transport {
public:
    explicit InProcessTransport(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    ViStatus Write(ViConstBuf data, ViUInt32 count, ViUInt32& written,
                   const IoSettings& io) override {
        written = 0;
        std::string message(reinterpret_cast<const char*>(data), count);
        std::shared_ptr<MessageInstrument> instrument;
        {
            std::lock_guard lock(m_state->mutex);
            ViStatus status = CheckLink();
            if (status == VI_SUCCESS && m_state->failWrites)
                status = VI_ERROR_IO;
            m_state->Record(IoEvent::Kind::Write, message, status, io.timeoutMs);
            if (status != VI_SUCCESS)
                return status;
            ++m_state->messages;
            instrument = m_state->instrument;
        }
        instrument->Receive(message);
        written = count;
        if (!instrument->KeepsLink())
            Drop();
        return VI_SUCCESS;
    }

    ViStatus Read(ViPBuf buffer, ViUInt32 count, ViUInt32& received,
                  const IoSettings& io) override {
        received = 0;
        std::shared_ptr<MessageInstrument> instrument;
        {
            std::lock_guard lock(m_state->mutex);
            ViStatus status = CheckLink();
            if (status == VI_SUCCESS && m_state->readTimesOut)
                status = VI_ERROR_TMO;
            if (status != VI_SUCCESS) {
                m_state->Record(IoEvent::Kind::Read, {}, status, io.timeoutMs);
                return status;
            }
            instrument = m_state->instrument;
        }
        if (!m_pending) {
            std::optional<std::string> response = instrument->Respond();
            if (!response) {
                std::lock_guard lock(m_state->mutex);
                m_state->Record(IoEvent::Kind::Read, {}, VI_ERROR_TMO, io.timeoutMs);
                return VI_ERROR_TMO;
            }
            m_pending = std::move(*response);
            m_offset = 0;
        }
        const size_t available = m_pending->size() - m_offset;
        const size_t n = std::min<size_t>(available, count);
        if (n > 0)
            std::memcpy(buffer, m_pending->data() + m_offset, n);
        m_offset += n;
        received = static_cast<ViUInt32>(n);
        ViStatus status = VI_SUCCESS_MAX_CNT;
        if (m_offset == m_pending->size()) {
            status = VI_SUCCESS;  // END came with the last byte
        } else if (io.termCharEnabled && n > 0 && buffer[n - 1] == io.termChar) {
            status = VI_SUCCESS_TERM_CHAR;
        }
        std::lock_guard lock(m_state->mutex);
        m_state->Record(IoEvent::Kind::Read, std::string(reinterpret_cast<char*>(buffer), n),
                        status, io.timeoutMs);
        if (status == VI_SUCCESS) {
            m_pending.reset();
            ++m_state->messages;
            if (!m_state->instrument->KeepsLink())
                m_dropped = true;
        }
        return status;
    }

    ViStatus Clear(const IoSettings&) override {
        std::shared_ptr<MessageInstrument> instrument;
        {
            std::lock_guard lock(m_state->mutex);
            if (const ViStatus status = CheckLink(); status != VI_SUCCESS)
                return status;
            instrument = m_state->instrument;
        }
        m_pending.reset();
        instrument->Clear();
        return VI_SUCCESS;
    }

    ViStatus Close() noexcept override {
        std::lock_guard lock(m_state->mutex);
        if (!m_closed)
            m_state->Record(IoEvent::Kind::Close, {}, VI_SUCCESS, 0);
        m_closed = true;
        return VI_SUCCESS;
    }

    ~InProcessTransport() override { Close(); }

private:
    void Drop() {
        std::lock_guard lock(m_state->mutex);
        m_dropped = true;
    }

    // Caller holds the state's mutex.
    ViStatus CheckLink() const {
        if (m_state->detached || m_dropped)
            return VI_ERROR_CONN_LOST;
        if (m_state->lostAfterMessages >= 0 && m_state->messages >= m_state->lostAfterMessages) {
            return VI_ERROR_CONN_LOST;
        }
        return VI_SUCCESS;
    }

    std::shared_ptr<State> m_state;
    std::optional<std::string> m_pending;  // the response being read, and how far
    size_t m_offset = 0;
    bool m_closed = false;
    bool m_dropped = false;  // the instrument closed this link
};

}  // namespace

InProcessAttachment::InProcessAttachment(std::shared_ptr<State> state)
    : m_state(std::move(state)) {}

InProcessAttachment::~InProcessAttachment() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->detached = true;
    }
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.attachments.find(Key(m_state->resource));
    if (it != registry.attachments.end() && it->second.lock() == m_state)
        registry.attachments.erase(it);
}

void InProcessAttachment::SetRefuseOpen(bool refuse) {
    std::lock_guard lock(m_state->mutex);
    m_state->refuseOpen = refuse;
}

void InProcessAttachment::SetFailWrites(bool fail) {
    std::lock_guard lock(m_state->mutex);
    m_state->failWrites = fail;
}

void InProcessAttachment::SetReadTimesOut(bool timesOut) {
    std::lock_guard lock(m_state->mutex);
    m_state->readTimesOut = timesOut;
}

void InProcessAttachment::SetLostAfterMessages(int count) {
    std::lock_guard lock(m_state->mutex);
    m_state->lostAfterMessages = count;
    m_state->messages = 0;
}

std::vector<IoEvent> InProcessAttachment::Events() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->events;
}

void InProcessAttachment::ClearEvents() {
    std::lock_guard lock(m_state->mutex);
    m_state->events.clear();
}

const std::string& InProcessAttachment::Resource() const {
    return m_state->resource;
}

std::unique_ptr<InProcessAttachment> AttachInProcess(
    std::string_view resourceName, std::shared_ptr<MessageInstrument> instrument) {
    ResourceParse parse = ParseResourceName(resourceName);
    if (parse.status != VI_SUCCESS || !instrument)
        return nullptr;
    auto state = std::make_shared<State>();
    state->resource = parse.name.Canonical();
    state->instrument = std::move(instrument);
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.attachments[Key(state->resource)] = state;
    return std::make_unique<InProcessAttachment>(state);
}

void SetResourceManagerFailure(bool fail) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.resourceManagerFails = fail;
}

namespace detail {

bool OpenInProcess(const ResourceName& name, ViStatus& status,
                   std::unique_ptr<Transport>& transport) {
    std::shared_ptr<State> state;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        auto it = registry.attachments.find(Key(name.Canonical()));
        if (it == registry.attachments.end())
            return false;
        state = it->second.lock();
    }
    if (!state)
        return false;
    std::lock_guard lock(state->mutex);
    const bool refused = state->refuseOpen || !state->instrument->AcceptsLink();
    status = refused ? VI_ERROR_RSRC_NFOUND : VI_SUCCESS;
    state->Record(IoEvent::Kind::Open, {}, status, 0);
    if (!refused) {
        state->messages = 0;
        transport = std::make_unique<InProcessTransport>(state);
    }
    return true;
}

bool ResourceManagerFails() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.resourceManagerFails;
}

}  // namespace detail
}  // namespace visa
