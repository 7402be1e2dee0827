#include "Vxi11Server.h"

#include <algorithm>
#include <cctype>

#include "MessageAssembler.h"
#include "OncRpc.h"
#include "Vxi11Codec.h"
#include "Xdr.h"
#include "visa/protocol/Ieee488.h"

namespace sim::server {

struct Vxi11Server::Link {
    int32_t lid = 0;
    std::shared_ptr<ServedDevice> device;
    uint64_t owner = ServedDevice::NewOwnerToken();  // lock token
    uint64_t connectionId = 0;
    std::atomic<bool> cancel{false};  // set by device_abort and by Stop
    std::mutex inputMutex;
    MessageAssembler input;
    explicit Link(size_t maxProgramMessageBytes) : input(maxProgramMessageBytes) {}
};

namespace {

using namespace vxi11;
namespace ieee488 = visa::protocol::ieee488;

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Room for the largest write plus the call header; a record beyond is a lying or broken client.
size_t MaxRecordBytes(uint32_t maxRecvSize) {
    return size_t{maxRecvSize} + 4096;
}

}  // namespace

Vxi11Server::Vxi11Server(Vxi11Options options, std::vector<NamedDevice> devices)
    : m_options(std::move(options)),
      m_devices(std::move(devices)),
      m_core(m_options.maxConnections),
      m_abort(m_options.maxConnections) {}

Vxi11Server::~Vxi11Server() {
    Stop();
}

bool Vxi11Server::Start(std::string& error) {
    if (!m_core.Listen(m_options.address, m_options.corePort, error) ||
        !m_abort.Listen(m_options.address, m_options.abortPort, error)) {
        return false;
    }
    m_core.Start([this](TcpSocket& socket) { ServeCore(socket); });
    m_abort.Start([this](TcpSocket& socket) { ServeAbort(socket); });
    return true;
}

void Vxi11Server::Stop() {
    m_stopping = true;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [lid, link] : m_links)
            link->cancel = true;
    }
    for (const NamedDevice& named : m_devices)
        named.device->Wake();
    m_core.RaiseStop();
    m_abort.RaiseStop();
    m_core.Stop();
    m_abort.Stop();
}

size_t Vxi11Server::LinkCount() const {
    std::lock_guard lock(m_mutex);
    return m_links.size();
}

void Vxi11Server::ServeCore(TcpSocket& socket) {
    const uint64_t connectionId = m_nextConnection++;
    RecordAssembler assembler(MaxRecordBytes(m_options.maxRecvSize));
    std::vector<char> buffer(65536);
    bool open = true;
    while (open) {
        const size_t n = socket.ReadSome(buffer.data(), buffer.size());
        if (n == 0)
            break;
        std::string_view input(buffer.data(), n);
        while (open && !input.empty()) {
            std::string record;
            const RecordAssembler::Result result = assembler.Push(input, record);
            if (result == RecordAssembler::Result::TooLarge) {
                open = false;
            } else if (result == RecordAssembler::Result::Record) {
                bool drop = false;
                const std::string reply = HandleCoreRecord(record, connectionId, drop);
                if (!reply.empty() && !socket.WriteAll(EncodeRecord(reply)))
                    open = false;
                if (drop)
                    open = false;
            }
        }
    }
    DestroyLinksOf(connectionId);
}

std::string Vxi11Server::HandleCoreRecord(std::string_view record, uint64_t connectionId,
                                          bool& drop) {
    RpcCall call;
    if (auto answer = ScreenCall(record, kCoreProgram, call, drop))
        return *answer;
    if (call.version != kCoreVersion)
        return EncodeProgMismatch(call.xid, kCoreVersion, kCoreVersion);
    CallResult result = Dispatch(call.procedure, call.arguments, connectionId);
    if (result.drop)
        drop = true;
    switch (result.kind) {
        case CallResult::Kind::GarbageArgs:
            return EncodeAcceptedReply(call.xid, rpc::AcceptStat::GarbageArgs);
        case CallResult::Kind::ProcUnavail:
            return EncodeAcceptedReply(call.xid, rpc::AcceptStat::ProcUnavail);
        case CallResult::Kind::Results:
            break;
    }
    return EncodeAcceptedReply(call.xid, rpc::AcceptStat::Success, result.results);
}

std::shared_ptr<Vxi11Server::Link> Vxi11Server::FindLink(int32_t lid) const {
    std::lock_guard lock(m_mutex);
    auto it = m_links.find(lid);
    return it == m_links.end() ? nullptr : it->second;
}

int32_t Vxi11Server::CheckLock(Link& link, int32_t flags, uint32_t lockTimeoutMs) {
    if (!link.device->LockedByOther(link.owner))
        return kErrorNone;
    if (!(flags & kFlagWaitLock))
        return kErrorLocked;
    if (link.device->WaitAccess(link.owner, DeadlineAfterMs(lockTimeoutMs), link.cancel)) {
        return kErrorNone;
    }
    return link.cancel ? kErrorAbort : kErrorLocked;
}

Vxi11Server::CallResult Vxi11Server::CreateLink(std::string_view args, uint64_t connectionId) {
    const auto parms = DecodeCreateLink(args);
    if (!parms)
        return CallResult(CallResult::Kind::GarbageArgs);
    const auto named = std::find_if(m_devices.begin(), m_devices.end(), [&](const NamedDevice& d) {
        return SameName(d.name, parms->device);
    });
    const uint16_t abortPort = m_abort.Port();
    if (named == m_devices.end() || !named->device->AcceptsLink()) {
        return EncodeCreateLinkResp(kErrorNotAccessible, 0, abortPort, m_options.maxRecvSize);
    }
    auto link = std::make_shared<Link>(m_options.maxProgramMessageBytes);
    link->device = named->device;
    link->connectionId = connectionId;
    {
        std::lock_guard lock(m_mutex);
        const size_t links = std::count_if(m_links.begin(), m_links.end(), [&](const auto& entry) {
            return entry.second->device == named->device;
        });
        if (links >= m_options.maxLinksPerDevice) {
            return EncodeCreateLinkResp(kErrorOutOfResources, 0, abortPort, m_options.maxRecvSize);
        }
    }
    if (parms->lockDevice) {
        const auto result =
            link->device->Lock(link->owner, DeadlineAfterMs(parms->lockTimeoutMs), m_stopping);
        if (result != ServedDevice::LockResult::Granted) {
            return EncodeCreateLinkResp(kErrorLocked, 0, abortPort, m_options.maxRecvSize);
        }
    }
    std::lock_guard lock(m_mutex);
    while (m_links.count(m_nextLid))
        ++m_nextLid;
    link->lid = m_nextLid++;
    if (m_nextLid < 0)
        m_nextLid = 0;
    m_links[link->lid] = link;
    return EncodeCreateLinkResp(kErrorNone, link->lid, abortPort, m_options.maxRecvSize);
}

Vxi11Server::CallResult Vxi11Server::Dispatch(uint32_t procedure, std::string_view args,
                                              uint64_t connectionId) {
    switch (procedure) {
        case kCreateLink:
            return CreateLink(args, connectionId);
        case kDeviceWrite:
            return DeviceWrite(args);
        case kDeviceRead:
            return DeviceRead(args);
        case kDeviceReadStb:
        case kDeviceTrigger:
        case kDeviceClear:
        case kDeviceRemote:
        case kDeviceLocal:
            return DeviceGeneric(procedure, args);
        case kDeviceLock:
            return DeviceLock(args);
        case kDeviceUnlock:
            return DeviceUnlock(args);
        case kDeviceEnableSrq:
            return DeviceEnableSrq(args);
        case kDeviceDocmd:
            return DeviceDocmd(args);
        case kDestroyLink:
            return DestroyLink(args);
        case kCreateIntrChan:
            return EncodeDeviceError(kErrorNotSupported);
        case kDestroyIntrChan:
            return EncodeDeviceError(kErrorChannelNotEstablished);
        default:
            return CallResult(CallResult::Kind::ProcUnavail);
    }
}

Vxi11Server::CallResult Vxi11Server::DeviceWrite(std::string_view args) {
    // The codec bound is the record limit; maxRecvSize is enforced below with error 5.
    const auto p = DecodeDeviceWrite(args, MaxRecordBytes(m_options.maxRecvSize));
    if (!p)
        return CallResult(CallResult::Kind::GarbageArgs);
    auto link = FindLink(p->lid);
    if (!link)
        return EncodeDeviceWriteResp(kErrorInvalidLink, 0);
    if (p->data.size() > m_options.maxRecvSize)
        return EncodeDeviceWriteResp(kErrorParameter, 0);
    link->cancel = m_stopping.load();
    if (const int32_t error = CheckLock(*link, p->flags, p->lockTimeoutMs)) {
        return EncodeDeviceWriteResp(error, 0);
    }
    std::vector<std::string> messages;
    bool fits = false;
    {
        std::lock_guard lock(link->inputMutex);
        fits = link->input.Append(p->data, (p->flags & kFlagEnd) != 0, messages);
    }
    if (!fits)
        return EncodeDeviceWriteResp(kErrorIo, 0);
    bool drop = false;
    for (const std::string& message : messages) {
        link->device->Deliver(message);
        if (!link->device->KeepsLink())
            drop = true;
    }
    return CallResult(EncodeDeviceWriteResp(kErrorNone, static_cast<uint32_t>(p->data.size())),
                      drop);
}

Vxi11Server::CallResult Vxi11Server::DeviceRead(std::string_view args) {
    const auto p = DecodeDeviceRead(args);
    if (!p)
        return CallResult(CallResult::Kind::GarbageArgs);
    auto link = FindLink(p->lid);
    if (!link)
        return EncodeDeviceReadResp(kErrorInvalidLink, 0, {});
    link->cancel = m_stopping.load();
    if (const int32_t error = CheckLock(*link, p->flags, p->lockTimeoutMs)) {
        return EncodeDeviceReadResp(error, 0, {});
    }
    size_t maxBytes = p->requestSize;
    if (m_options.readChunkLimit)
        maxBytes = std::min(maxBytes, m_options.readChunkLimit);
    std::optional<char> termChar;
    if (p->flags & kFlagTermCharSet)
        termChar = static_cast<char>(p->termChar);
    const auto r =
        link->device->Read(maxBytes, DeadlineAfterMs(p->ioTimeoutMs), link->cancel, termChar);
    if (r.kind == ServedDevice::ReadResult::Kind::Cancelled) {
        return CallResult(EncodeDeviceReadResp(kErrorAbort, 0, {}), m_stopping.load());
    }
    if (r.kind != ServedDevice::ReadResult::Kind::Data) {
        return EncodeDeviceReadResp(kErrorIoTimeout, 0, {});
    }
    int32_t reason = 0;
    if (r.end)
        reason |= kReasonEnd;
    if (r.termChar)
        reason |= kReasonTermChar;
    if (r.data.size() == p->requestSize)
        reason |= kReasonRequestCount;
    const bool drop = r.end && !link->device->KeepsLink();
    return CallResult(EncodeDeviceReadResp(kErrorNone, reason, r.data), drop);
}

Vxi11Server::CallResult Vxi11Server::DeviceGeneric(uint32_t procedure, std::string_view args) {
    const auto p = DecodeDeviceGeneric(args);
    if (!p)
        return CallResult(CallResult::Kind::GarbageArgs);
    // device_readstb answers its own structure, the others a Device_Error.
    const bool stb = procedure == kDeviceReadStb;
    const auto answer = [stb](int32_t error, uint8_t status = 0) {
        return stb ? EncodeReadStbResp(error, status) : EncodeDeviceError(error);
    };
    auto link = FindLink(p->lid);
    if (!link)
        return answer(kErrorInvalidLink);
    link->cancel = m_stopping.load();
    if (const int32_t error = CheckLock(*link, p->flags, p->lockTimeoutMs))
        return answer(error);
    if (stb)
        return answer(kErrorNone, link->device->OutputPending() ? ieee488::kStbMav : 0);
    if (procedure == kDeviceClear) {
        {
            std::lock_guard lock(link->inputMutex);
            link->input.Clear();
        }
        link->device->Clear();
    }
    return answer(kErrorNone);
}

Vxi11Server::CallResult Vxi11Server::DeviceLock(std::string_view args) {
    const auto p = DecodeDeviceLock(args);
    if (!p)
        return CallResult(CallResult::Kind::GarbageArgs);
    auto link = FindLink(p->lid);
    if (!link)
        return EncodeDeviceError(kErrorInvalidLink);
    link->cancel = m_stopping.load();
    const uint32_t waitMs = (p->flags & kFlagWaitLock) ? p->lockTimeoutMs : 0;
    switch (link->device->Lock(link->owner, DeadlineAfterMs(waitMs), link->cancel)) {
        case ServedDevice::LockResult::Granted:
            return EncodeDeviceError(kErrorNone);
        case ServedDevice::LockResult::Cancelled:
            return EncodeDeviceError(kErrorAbort);
        default:
            return EncodeDeviceError(kErrorLocked);
    }
}

Vxi11Server::CallResult Vxi11Server::DeviceUnlock(std::string_view args) {
    const auto lid = DecodeDeviceLink(args);
    if (!lid)
        return CallResult(CallResult::Kind::GarbageArgs);
    auto link = FindLink(*lid);
    if (!link)
        return EncodeDeviceError(kErrorInvalidLink);
    return EncodeDeviceError(link->device->Unlock(link->owner) ? kErrorNone : kErrorNoLock);
}

Vxi11Server::CallResult Vxi11Server::DeviceEnableSrq(std::string_view args) {
    const auto lid = DecodeEnableSrq(args);
    if (!lid)
        return CallResult(CallResult::Kind::GarbageArgs);
    return EncodeDeviceError(FindLink(*lid) ? kErrorNone : kErrorInvalidLink);
}

Vxi11Server::CallResult Vxi11Server::DeviceDocmd(std::string_view args) {
    // Only the link is looked at: no command is supported.
    XdrReader reader(args);
    const int32_t lid = reader.GetI32();
    if (!reader.Ok())
        return CallResult(CallResult::Kind::GarbageArgs);
    return EncodeDocmdResp(FindLink(lid) ? kErrorNotSupported : kErrorInvalidLink);
}

Vxi11Server::CallResult Vxi11Server::DestroyLink(std::string_view args) {
    const auto lid = DecodeDeviceLink(args);
    if (!lid)
        return CallResult(CallResult::Kind::GarbageArgs);
    std::shared_ptr<Link> link;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_links.find(*lid);
        if (it == m_links.end())
            return EncodeDeviceError(kErrorInvalidLink);
        link = it->second;
        m_links.erase(it);
    }
    link->device->Unlock(link->owner);
    return EncodeDeviceError(kErrorNone);
}

void Vxi11Server::DestroyLinksOf(uint64_t connectionId) {
    std::vector<std::shared_ptr<Link>> gone;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_links.begin(); it != m_links.end();) {
            if (it->second->connectionId == connectionId) {
                gone.push_back(it->second);
                it = m_links.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& link : gone)
        link->device->Unlock(link->owner);
}

void Vxi11Server::ServeAbort(TcpSocket& socket) {
    RecordAssembler assembler(4096);
    char buffer[4096];
    bool open = true;
    while (open) {
        const size_t n = socket.ReadSome(buffer, sizeof buffer);
        if (n == 0)
            break;
        std::string_view input(buffer, n);
        while (open && !input.empty()) {
            std::string record;
            const auto result = assembler.Push(input, record);
            if (result == RecordAssembler::Result::TooLarge) {
                open = false;
            } else if (result == RecordAssembler::Result::Record) {
                bool close = false;
                const std::string reply = HandleAbortRecord(record, close);
                if (!reply.empty() && !socket.WriteAll(EncodeRecord(reply)))
                    open = false;
                if (close)
                    open = false;
            }
        }
    }
}

std::string Vxi11Server::HandleAbortRecord(std::string_view record, bool& close) {
    RpcCall call;
    if (auto answer = ScreenCall(record, kAbortProgram, call, close))
        return *answer;
    if (call.version != kAbortVersion)
        return EncodeProgMismatch(call.xid, kAbortVersion, kAbortVersion);
    if (call.procedure != kDeviceAbort) {
        return EncodeAcceptedReply(call.xid, rpc::AcceptStat::ProcUnavail);
    }
    const auto lid = DecodeDeviceLink(call.arguments);
    if (!lid)
        return EncodeAcceptedReply(call.xid, rpc::AcceptStat::GarbageArgs);
    auto link = FindLink(*lid);
    if (link) {
        link->cancel = true;
        link->device->Wake();
    }
    return EncodeAcceptedReply(call.xid, rpc::AcceptStat::Success,
                               EncodeDeviceError(link ? kErrorNone : kErrorInvalidLink));
}

}  // namespace sim::server
