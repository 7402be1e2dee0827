#include "HiSlipServer.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <optional>
#include <thread>

#include "HiSlipCodec.h"
#include "MessageAssembler.h"
#include "visa/protocol/Ieee488.h"

namespace sim::server {

using namespace hislip;
namespace ieee488 = visa::protocol::ieee488;

namespace {

// Payloads we read and discard (answering Error 4) rather than treating the stream as lost.
constexpr uint64_t kMaxSkippablePayload = 64u << 20;
// Asynchronous messages carry at most a lock string or an error text.
constexpr uint64_t kMaxAsyncPayload = 4096;
constexpr char kVendorId[2] = {'K', 'S'};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool Send(TcpSocket& socket, std::mutex& mutex, const std::string& bytes) {
    std::lock_guard lock(mutex);
    return socket.WriteAll(bytes);
}

}  // namespace

struct HiSlipServer::Session {
    uint16_t id = 0;
    std::shared_ptr<ServedDevice> device;
    uint64_t owner = ServedDevice::NewOwnerToken();
    std::shared_ptr<TcpSocket> sync;
    std::shared_ptr<TcpSocket> async;
    std::mutex syncSend;
    std::mutex asyncSend;

    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    bool asyncReady = false;
    bool clearing = false;  // between AsyncDeviceClear and DeviceClearComplete
    bool mav = false;
    bool sharedLock = false;
    uint64_t clientMaxMessage = UINT64_MAX;  // until the client says otherwise
    struct Job {
        uint32_t messageId;
        uint64_t generation;
    };
    std::optional<Job> job;
    bool responding = false;  // the responder is busy with a job
    std::atomic<bool> closing{false};
    std::thread responder;
    MessageAssembler input;

    explicit Session(size_t maxProgramMessageBytes) : input(maxProgramMessageBytes) {}
};

HiSlipServer::HiSlipServer(HiSlipOptions options, std::vector<SubAddress> devices)
    : m_options(std::move(options)),
      m_devices(std::move(devices)),
      m_server(2 * m_options.maxSessions + 8) {}

HiSlipServer::~HiSlipServer() {
    Stop();
}

bool HiSlipServer::Start(std::string& error) {
    if (!m_server.Listen(m_options.address, m_options.port, error))
        return false;
    m_server.Start([this](TcpSocket& socket) { Serve(socket); });
    return true;
}

void HiSlipServer::Stop() {
    m_stopping = true;
    std::vector<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [id, session] : m_sessions)
            sessions.push_back(session);
    }
    for (auto& session : sessions)
        Close(*session);
    m_server.Stop();
}

size_t HiSlipServer::SessionCount() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

void HiSlipServer::Serve(TcpSocket& accepted) {
    auto socket = std::make_shared<TcpSocket>(std::move(accepted));
    std::string bytes(kHeaderBytes, '\0');
    if (!socket->ReadExact(bytes.data(), bytes.size()))
        return;
    const auto header = DecodeHiSlipHeader(bytes);
    if (!header) {
        socket->WriteAll(EncodeHiSlipMessage(kFatalError, kFatalBadHeader, 0, "bad prologue"));
        return;
    }
    if (header->type == kInitialize) {
        Initialize(socket, *header);
    } else if (header->type == kAsyncInitialize && header->payloadLength == 0) {
        AsyncInitialize(socket, *header);
    } else {
        socket->WriteAll(EncodeHiSlipMessage(kFatalError, kFatalInvalidInitSequence, 0,
                                             "expected Initialize or AsyncInitialize"));
    }
}

void HiSlipServer::Initialize(std::shared_ptr<TcpSocket> socket, const HiSlipHeader& header) {
    auto fatal = [&](uint8_t code, const char* text) {
        socket->WriteAll(EncodeHiSlipMessage(kFatalError, code, 0, text));
    };
    if (header.payloadLength > kMaxSubAddressBytes) {
        fatal(kFatalInvalidInitSequence, "sub-address too long");
        return;
    }
    std::string subAddress(header.payloadLength, '\0');
    if (!socket->ReadExact(subAddress.data(), subAddress.size()))
        return;
    const auto named =
        subAddress.empty()
            ? m_devices.begin()
            : std::find_if(m_devices.begin(), m_devices.end(),
                           [&](const SubAddress& d) { return SameName(d.name, subAddress); });
    // Answered rather than ignored: a client that waits for InitializeResponse would hang.
    if (named == m_devices.end()) {
        fatal(kFatalInvalidInitSequence, "unknown sub-address");
        return;
    }
    if (!named->device->AcceptsLink()) {
        fatal(kFatalMaxClients, "the instrument refuses the connection");
        return;
    }
    auto session = std::make_shared<Session>(m_options.maxProgramMessageBytes);
    session->device = named->device;
    session->sync = socket;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_sessions.size() >= m_options.maxSessions) {
            fatal(kFatalMaxClients, "too many sessions");
            return;
        }
        while (m_nextSessionId == 0 || m_sessions.count(m_nextSessionId))
            ++m_nextSessionId;
        session->id = m_nextSessionId++;
        m_sessions[session->id] = session;
    }
    const uint16_t clientVersion = static_cast<uint16_t>(header.parameter >> 16);
    const uint16_t version = std::min(clientVersion, kProtocolVersion);
    // Control code 0: synchronized mode.
    if (Send(
            *socket, session->syncSend,
            EncodeHiSlipMessage(kInitializeResponse, 0, (uint32_t{version} << 16) | session->id))) {
        session->responder = std::thread([this, session] { Respond(session); });
        ServeSync(session);
    }
    Close(*session);
    if (session->responder.joinable())
        session->responder.join();
    std::lock_guard lock(m_mutex);
    m_sessions.erase(session->id);
}

void HiSlipServer::AsyncInitialize(std::shared_ptr<TcpSocket> socket, const HiSlipHeader& header) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_sessions.find(static_cast<uint16_t>(header.parameter & 0xFFFF));
        if (it != m_sessions.end())
            session = it->second;
    }
    if (session) {
        std::lock_guard lock(session->mutex);
        if (session->async || session->closing) {
            session.reset();
        } else {
            session->async = socket;
        }
    }
    if (!session) {
        socket->WriteAll(EncodeHiSlipMessage(kFatalError, kFatalInvalidInitSequence, 0,
                                             "unknown session or channel already open"));
        return;
    }
    const uint32_t vendor =
        (uint32_t{static_cast<uint8_t>(kVendorId[0])} << 8) | static_cast<uint8_t>(kVendorId[1]);
    if (Send(*socket, session->asyncSend,
             EncodeHiSlipMessage(kAsyncInitializeResponse, 0, vendor))) {
        {
            std::lock_guard lock(session->mutex);
            session->asyncReady = true;
        }
        ServeAsync(session);
    }
    Close(*session);
}

void HiSlipServer::Close(Session& session) {
    std::shared_ptr<TcpSocket> sync;
    std::shared_ptr<TcpSocket> async;
    {
        std::lock_guard lock(session.mutex);
        if (session.closing.exchange(true))
            return;
        sync = session.sync;
        async = session.async;
        if (session.sharedLock)
            --m_sharedLocks;
        session.sharedLock = false;
        session.changed.notify_all();
    }
    session.device->Unlock(session.owner);
    session.device->Wake();
    if (sync)
        sync->ShutdownBoth();
    if (async)
        async->ShutdownBoth();
}

HiSlipServer::ReadOutcome HiSlipServer::ReadMessage(Session& session, bool sync,
                                                    HiSlipHeader& header, std::string& payload) {
    TcpSocket& socket = sync ? *session.sync : *session.async;
    std::string bytes(kHeaderBytes, '\0');
    if (!socket.ReadExact(bytes.data(), bytes.size()))
        return ReadOutcome::Closed;
    const auto decoded = DecodeHiSlipHeader(bytes);
    const uint64_t limit =
        sync ? m_options.maxHiSlipMessageSize -
                   std::min<uint64_t>(m_options.maxHiSlipMessageSize, kHeaderBytes)
             : kMaxAsyncPayload;
    if (!decoded || decoded->payloadLength > kMaxSkippablePayload) {
        // Synchronisation is lost: tell both channels, then close both.
        const std::string fatal = EncodeHiSlipMessage(
            kFatalError, kFatalBadHeader, 0, decoded ? "impossible length" : "bad prologue");
        if (session.sync)
            Send(*session.sync, session.syncSend, fatal);
        std::shared_ptr<TcpSocket> async;
        {
            std::lock_guard lock(session.mutex);
            async = session.async;
        }
        if (async)
            Send(*async, session.asyncSend, fatal);
        return ReadOutcome::Closed;
    }
    header = *decoded;
    if (header.payloadLength > limit) {
        if (!socket.Skip(header.payloadLength))
            return ReadOutcome::Closed;
        Send(socket, sync ? session.syncSend : session.asyncSend,
             EncodeHiSlipMessage(kError, kErrorMessageTooLarge, 0, "message too large"));
        return ReadOutcome::Oversize;
    }
    payload.assign(header.payloadLength, '\0');
    if (!socket.ReadExact(payload.data(), payload.size()))
        return ReadOutcome::Closed;
    return ReadOutcome::Message;
}

void HiSlipServer::ServeSync(const std::shared_ptr<Session>& session) {
    TcpSocket& socket = *session->sync;
    for (;;) {
        HiSlipHeader header;
        std::string payload;
        const ReadOutcome outcome = ReadMessage(*session, true, header, payload);
        if (outcome == ReadOutcome::Closed)
            return;
        if (outcome == ReadOutcome::Oversize) {
            // The message is lost, and with it the rest of the program message.
            std::lock_guard lock(session->mutex);
            session->input.Clear();
            continue;
        }
        if (header.type == kFatalError)
            return;
        if (header.type == kError)
            continue;
        bool ready = false;
        bool clearing = false;
        {
            std::lock_guard lock(session->mutex);
            ready = session->asyncReady;
            clearing = session->clearing;
        }
        if (!ready) {
            Send(socket, session->syncSend,
                 EncodeHiSlipMessage(kFatalError, kFatalChannelsNotEstablished, 0,
                                     "the asynchronous channel is not established"));
            return;
        }
        if (header.type == kDeviceClearComplete) {
            {
                std::lock_guard lock(session->mutex);
                session->clearing = false;
                session->input.Clear();
                session->mav = false;
            }
            // Overlapped mode is not offered: the feature setting stays 0.
            if (!Send(socket, session->syncSend,
                      EncodeHiSlipMessage(kDeviceClearAcknowledge, 0, 0))) {
                return;
            }
            continue;
        }
        if (clearing)
            continue;  // ignored until DeviceClearComplete
        switch (header.type) {
            case kData:
            case kDataEnd:
                HandleData(session, header, payload);
                if (session->closing)
                    return;
                break;
            case kTrigger:
                if (header.control & kRmtDelivered) {
                    std::lock_guard lock(session->mutex);
                    session->mav = false;
                }
                break;
            default:
                Send(socket, session->syncSend,
                     EncodeHiSlipMessage(kError,
                                         header.type >= kFirstVendorSpecific
                                             ? kErrorUnrecognizedVendor
                                             : kErrorUnrecognizedType,
                                         0, "unexpected message on the synchronous channel"));
                break;
        }
    }
}

void HiSlipServer::HandleData(const std::shared_ptr<Session>& session, const HiSlipHeader& header,
                              std::string_view payload) {
    std::vector<std::string> messages;
    bool fits = false;
    {
        std::lock_guard lock(session->mutex);
        if (header.control & kRmtDelivered)
            session->mav = false;  // the client took the last response
        fits = session->input.Append(payload, header.type == kDataEnd, messages);
    }
    if (!fits) {
        Send(*session->sync, session->syncSend,
             EncodeHiSlipMessage(kError, kErrorMessageTooLarge, 0, "program message too long"));
        return;
    }
    for (const std::string& message : messages) {
        const uint64_t generation = session->device->Deliver(message);
        if (!session->device->KeepsLink()) {
            Close(*session);
            return;
        }
        if (MessageAssembler::HasQuery(message)) {
            bool idle = false;
            {
                std::lock_guard lock(session->mutex);
                idle = !session->job && !session->responding;
            }
            // A response that is ready goes out from this thread, saving the responder's wake-up
            // on every query; one that takes time is left to the responder, so that this channel
            // keeps reading. Only while the responder is idle, to keep responses in order.
            std::optional<ServedDevice::ReadResult> now;
            if (idle)
                now = session->device->ReadNow(generation);
            if (!now) {
                std::lock_guard lock(session->mutex);
                session->job = Session::Job{header.parameter, generation};
                session->changed.notify_all();
            } else if (now->kind == ServedDevice::ReadResult::Kind::Data &&
                       (!SendResponse(session, header.parameter, now->data) ||
                        !session->device->KeepsLink())) {
                Close(*session);
                return;
            }
        }
    }
}

bool HiSlipServer::SendResponse(const std::shared_ptr<Session>& session, uint32_t messageId,
                                std::string_view data) {
    uint64_t chunk = 0;
    {
        std::lock_guard lock(session->mutex);
        if (session->clearing)
            return true;
        session->mav = true;
        chunk = std::max<uint64_t>(session->clientMaxMessage, kHeaderBytes + 1) - kHeaderBytes;
    }
    bool sent = true;
    while (sent && data.size() > chunk) {
        sent = Send(*session->sync, session->syncSend,
                    EncodeHiSlipMessage(kData, 0, messageId, data.substr(0, chunk)));
        data.remove_prefix(chunk);
    }
    return sent && Send(*session->sync, session->syncSend,
                        EncodeHiSlipMessage(kDataEnd, 0, messageId, data));
}

void HiSlipServer::Respond(const std::shared_ptr<Session>& session) {
    for (;;) {
        Session::Job job{};
        {
            std::unique_lock lock(session->mutex);
            session->responding = false;
            session->changed.wait(lock, [&] { return session->closing || session->job; });
            if (session->closing)
                return;
            job = *session->job;
            session->job.reset();
            session->responding = true;
        }
        // A response superseded by a newer message or a device clear is dropped; the client
        // discards stale ones by MessageID in any case.
        auto result = session->device->Read(SIZE_MAX, DeadlineAfterMs(0xFFFFFFFFu),
                                            session->closing, {}, job.generation);
        if (result.kind != ServedDevice::ReadResult::Kind::Data)
            continue;
        if (!SendResponse(session, job.messageId, result.data) || !session->device->KeepsLink()) {
            Close(*session);
            return;
        }
    }
}

void HiSlipServer::ServeAsync(const std::shared_ptr<Session>& session) {
    for (;;) {
        HiSlipHeader header;
        std::string payload;
        const ReadOutcome outcome = ReadMessage(*session, false, header, payload);
        if (outcome == ReadOutcome::Closed)
            return;
        if (outcome == ReadOutcome::Oversize)
            continue;
        if (header.type == kFatalError)
            return;
        if (header.type == kError)
            continue;
        HandleAsync(session, header, payload);
        if (session->closing)
            return;
    }
}

void HiSlipServer::ReplyAsync(Session& session, uint8_t type, uint8_t control, uint32_t parameter,
                              std::string_view data) {
    Send(*session.async, session.asyncSend, EncodeHiSlipMessage(type, control, parameter, data));
}

void HiSlipServer::HandleAsync(const std::shared_ptr<Session>& session, const HiSlipHeader& header,
                               std::string_view payload) {
    Session& s = *session;
    switch (header.type) {
        case kAsyncMaximumMessageSize:
            return AsyncMaximumMessageSize(s, payload);
        case kAsyncLock:
            return AsyncLock(s, header, payload);
        case kAsyncLockInfo: {
            const bool exclusive = s.device->Locked();
            return ReplyAsync(s, kAsyncLockInfoResponse, exclusive ? 1 : 0,
                              static_cast<uint32_t>(m_sharedLocks.load() + (exclusive ? 1 : 0)));
        }
        case kAsyncRemoteLocalControl:
            // Only acknowledged: the served devices have no front panel to lock out.
            if (header.control > kLastRemoteLocalCode) {
                return ReplyAsync(s, kError, kErrorUnrecognizedControl, 0,
                                  "remote/local control code");
            }
            return ReplyAsync(s, kAsyncRemoteLocalResponse, 0, 0);
        case kAsyncDeviceClear:
            return AsyncDeviceClear(s);
        case kAsyncStatusQuery:
            return AsyncStatusQuery(s, header);
        default:
            return ReplyAsync(s, kError,
                              header.type >= kFirstVendorSpecific ? kErrorUnrecognizedVendor
                                                                  : kErrorUnrecognizedType,
                              0, "unexpected message on the asynchronous channel");
    }
}

void HiSlipServer::AsyncMaximumMessageSize(Session& session, std::string_view payload) {
    const auto size = DecodeU64(payload);
    if (!size)
        return ReplyAsync(session, kError, kErrorUnidentified, 0, "the size takes 8 bytes");
    {
        std::lock_guard lock(session.mutex);
        session.clientMaxMessage = *size;
    }
    ReplyAsync(session, kAsyncMaximumMessageSizeResponse, 0, 0,
               EncodeU64(m_options.maxHiSlipMessageSize));
}

void HiSlipServer::AsyncLock(Session& session, const HiSlipHeader& header,
                             std::string_view payload) {
    if (header.control == kLockRequest && payload.empty()) {
        const auto result =
            session.device->Lock(session.owner, DeadlineAfterMs(header.parameter), session.closing);
        const uint8_t code = result == ServedDevice::LockResult::Granted        ? kLockSuccess
                             : result == ServedDevice::LockResult::AlreadyOwner ? kLockError
                                                                                : kLockFailed;
        return ReplyAsync(session, kAsyncLockResponse, code, 0);
    }
    if (header.control == kLockRequest) {
        // Shared locks are granted without checking keys.
        std::lock_guard lock(session.mutex);
        const bool had = session.sharedLock;
        if (!had)
            ++m_sharedLocks;
        session.sharedLock = true;
        return ReplyAsync(session, kAsyncLockResponse, had ? kLockError : kLockSuccess, 0);
    }
    if (header.control != kLockRelease) {
        return ReplyAsync(session, kError, kErrorUnrecognizedControl, 0, "lock control code");
    }
    if (session.device->Unlock(session.owner)) {
        return ReplyAsync(session, kAsyncLockResponse, kLockSuccess, 0);
    }
    std::lock_guard lock(session.mutex);
    if (!session.sharedLock)
        return ReplyAsync(session, kAsyncLockResponse, kLockError, 0);
    session.sharedLock = false;
    --m_sharedLocks;
    ReplyAsync(session, kAsyncLockResponse, kLockSharedReleased, 0);
}

void HiSlipServer::AsyncDeviceClear(Session& session) {
    {
        std::lock_guard lock(session.mutex);
        session.clearing = true;
        session.job.reset();
        session.input.Clear();
        session.mav = false;
    }
    session.device->Clear();
    ReplyAsync(session, kAsyncDeviceClearAcknowledge, 0, 0);
}

void HiSlipServer::AsyncStatusQuery(Session& session, const HiSlipHeader& header) {
    uint8_t status = 0;
    {
        std::lock_guard lock(session.mutex);
        if (header.control & kRmtDelivered)
            session.mav = false;
        if (session.mav)
            status |= ieee488::kStbMav;
    }
    ReplyAsync(session, kAsyncStatusResponse, status, 0);
}

}  // namespace sim::server
