// The six VISA functions over a handle table. Resource managers own the sessions opened through
// them; a session owns one transport. A lost connection is sticky: once a transport reports it,
// every later read or write of that session fails the same way without touching the transport.
// Where a vendor VISA library is in use, each of our resource managers owns one of its resource
// managers, and every session that is not attached in-process is one of its sessions behind our
// handle, reached through a passthrough transport (VendorTransport.h). With KORVEL_TRACE set when a
// resource manager opens, the sessions opened through it write what passes to the trace (Trace.h);
// without it the only cost is a null check per read and write.
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "InProcessTransport.h"
#include "ResourceName.h"
#include "Trace.h"
#include "Transport.h"
#include "VendorLibrary.h"
#include "VendorTesting.h"
#include "VendorTransport.h"
#include "visa.h"
#include "visa/hislip/HiSlipConnector.h"
#include "visa/vxi11/Vxi11Connector.h"

namespace visa {
namespace {

struct Session {
    ViSession resourceManager = VI_NULL;
    std::mutex io;  // one operation at a time per session
    std::unique_ptr<Transport> transport;
    IoSettings settings;
    bool lost = false;
    std::shared_ptr<Trace> trace;
    std::string resource;      // as given to viOpen, for the trace
    std::string partialReply;  // traced once the reply ends
};

struct ResourceManager {
    std::set<ViSession> sessions;
    std::shared_ptr<VendorLibrary> vendor;
    ViSession vendorManager = VI_NULL;
};

struct Library {
    std::mutex mutex;
    ViUInt32 nextHandle = 0x1000;
    std::map<ViSession, ResourceManager> managers;
    std::map<ViSession, std::shared_ptr<Session>> sessions;
    // The network transports by default; in-process attachments are looked up first.
    std::shared_ptr<Connector> connectors[2] = {std::make_shared<vxi11::Vxi11Connector>(),
                                                std::make_shared<hislip::HiSlipConnector>()};
    bool vendorChosen = false;
    std::shared_ptr<VendorLibrary> vendor;
    NoticeSink notices;
    std::string tracePath;
    std::shared_ptr<Trace> trace;

    // Follows the setting at each resource manager, so a trace file is opened (and emptied) once
    // per program, and tests can turn tracing on and off.
    void FollowTraceSetting() {
        const char* path = std::getenv(kTraceSetting);
        const std::string wanted = path ? path : "";
        if (wanted == tracePath)
            return;
        tracePath = wanted;
        trace = Trace::Open(wanted);
    }

    // Chosen once per process, at the first resource manager, from the setting and the usual
    // install locations. The layer neither prints nor shows boxes: what the user must know goes
    // to the program's sink, returned here to be called once the library's lock is released.
    std::shared_ptr<VendorLibrary> Vendor(std::string* notice = nullptr) {
        if (!vendorChosen) {
            vendorChosen = true;
            VendorChoice choice =
                ChooseVendorLibrary(std::getenv(kVendorLibrarySetting), DefaultVendorCandidates());
            if (notice)
                *notice = std::move(choice.message);
            vendor = std::move(choice.library);
        }
        return vendor;
    }

    ViSession NewHandle() {
        // Skip VI_NULL and handles still in use after a wrap-around.
        do {
            ++nextHandle;
        } while (nextHandle == VI_NULL || managers.count(nextHandle) || sessions.count(nextHandle));
        return nextHandle;
    }
};

Library& Lib() {
    static Library library;
    return library;
}

std::shared_ptr<Session> FindSession(ViSession vi, ViStatus& status) {
    Library& lib = Lib();
    std::lock_guard lock(lib.mutex);
    auto it = lib.sessions.find(vi);
    if (it != lib.sessions.end())
        return it->second;
    status = lib.managers.count(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    return nullptr;
}

ViStatus CloseSession(std::shared_ptr<Session> session) {
    std::lock_guard io(session->io);
    if (!session->transport)
        return VI_SUCCESS;
    const ViStatus status = session->transport->Close();
    // A passthrough stays to answer later calls the way its library does for a closed session.
    if (!session->transport->IsPassthrough()) {
        session->transport.reset();
        session->lost = true;
    }
    return status;
}

ViUInt32 ConnectBudget(ViUInt32 timeout) {
    // The open timeout of 0 that callers commonly pass must not become a 0 ms connect.
    return timeout == 0 ? kDefaultTimeoutMs : timeout;
}

// A reply read in pieces is traced whole, once a read ends it or fails.
void TraceRead(Session& session, const ViByte* buf, ViUInt32 count, ViStatus status) {
    if (count > 0)
        session.partialReply.append(reinterpret_cast<const char*>(buf), count);
    if (status == VI_SUCCESS_MAX_CNT)
        return;
    if (status < VI_SUCCESS)
        session.trace->Failed(session.resource, "read", status, session.partialReply);
    else
        session.trace->Received(session.resource, session.partialReply);
    session.partialReply.clear();
}

ViStatus OpenSession(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                     ViPSession vi, std::shared_ptr<Trace>& trace);

}  // namespace

std::shared_ptr<Connector> SetConnector(TcpipProtocol protocol,
                                        std::shared_ptr<Connector> connector) {
    Library& lib = Lib();
    std::lock_guard lock(lib.mutex);
    auto& slot = lib.connectors[protocol == TcpipProtocol::HiSlip ? 1 : 0];
    std::swap(slot, connector);
    return connector;
}

ViStatus viOpenDefaultRM(ViPSession vi) {
    if (!vi)
        return VI_ERROR_INV_PARAMETER;
    *vi = VI_NULL;
    if (detail::ResourceManagerFails())
        return VI_ERROR_SYSTEM_ERROR;
    Library& lib = Lib();
    ResourceManager manager;
    std::string notice;
    NoticeSink notices;
    {
        std::lock_guard lock(lib.mutex);
        manager.vendor = lib.Vendor(&notice);
        lib.FollowTraceSetting();
        if (!notice.empty())
            notices = lib.notices;
    }
    if (notices)
        notices(notice);
    ViStatus status = VI_SUCCESS;
    if (manager.vendor) {
        status = manager.vendor->OpenDefaultRM(manager.vendorManager);
        if (status < VI_SUCCESS)
            return status;
    }
    std::lock_guard lock(lib.mutex);
    ViSession handle = lib.NewHandle();
    lib.managers.emplace(handle, std::move(manager));
    *vi = handle;
    return status;
}

std::shared_ptr<VendorLibrary> SetVendorLibrary(std::shared_ptr<VendorLibrary> library) {
    Library& lib = Lib();
    std::lock_guard lock(lib.mutex);
    std::shared_ptr<VendorLibrary> previous = lib.Vendor();
    lib.vendor = std::move(library);
    return previous;
}

NoticeSink SetNoticeSink(NoticeSink sink) {
    Library& lib = Lib();
    std::lock_guard lock(lib.mutex);
    std::swap(lib.notices, sink);
    return sink;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi) {
    std::shared_ptr<Trace> trace;
    const ViStatus status = OpenSession(sesn, name, mode, timeout, vi, trace);
    if (trace && status < VI_SUCCESS)
        trace->Failed(name ? name : "", "open", status);
    return status;
}

namespace {

ViStatus OpenSession(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                     ViPSession vi, std::shared_ptr<Trace>& trace) {
    if (!vi)
        return VI_ERROR_INV_PARAMETER;
    *vi = VI_NULL;
    Library& lib = Lib();
    std::shared_ptr<Connector> connectors[2];
    std::shared_ptr<VendorLibrary> vendor;
    ViSession vendorManager = VI_NULL;
    {
        std::lock_guard lock(lib.mutex);
        auto manager = lib.managers.find(sesn);
        if (manager == lib.managers.end()) {
            return lib.sessions.count(sesn) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
        }
        connectors[0] = lib.connectors[0];
        connectors[1] = lib.connectors[1];
        vendor = manager->second.vendor;
        vendorManager = manager->second.vendorManager;
        trace = lib.trace;
    }
    if (mode & ~(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG))
        return VI_ERROR_INV_ACC_MODE;
    if (!name)
        return VI_ERROR_INV_RSRC_NAME;

    // In-process attachments come first whatever library is in use, so tests never reach an
    // installed VISA by accident.
    ResourceParse parse = ParseResourceName(name);
    std::unique_ptr<Transport> transport;
    ViStatus status = VI_ERROR_RSRC_NFOUND;
    auto session = std::make_shared<Session>();
    if (parse.status == VI_SUCCESS && detail::OpenInProcess(parse.name, status, transport)) {
        if (status < VI_SUCCESS || !transport)
            return status < VI_SUCCESS ? status : VI_ERROR_RSRC_NFOUND;
        status = VI_SUCCESS;
    } else if (vendor) {
        // The name as given: the vendor knows interfaces and aliases that our parser rejects.
        ViSession vendorSession = VI_NULL;
        status = vendor->Open(vendorManager, name, mode, timeout, vendorSession);
        if (status < VI_SUCCESS)
            return status;
        transport = std::make_unique<VendorTransport>(vendor, vendorSession);
    } else {
        if (parse.status != VI_SUCCESS)
            return parse.status;
        status = VI_ERROR_RSRC_NFOUND;  // GPIB has no transport of its own here
        if (parse.name.kind == InterfaceKind::Tcpip) {
            auto& connector = connectors[parse.name.protocol == TcpipProtocol::HiSlip ? 1 : 0];
            if (connector)
                status = connector->Open(parse.name, ConnectBudget(timeout), transport);
        }
        if (status < VI_SUCCESS || !transport)
            return status < VI_SUCCESS ? status : VI_ERROR_RSRC_NFOUND;
        status = VI_SUCCESS;
    }

    session->resourceManager = sesn;
    session->transport = std::move(transport);
    session->trace = trace;
    session->resource = name;
    std::unique_lock lock(lib.mutex);
    auto manager = lib.managers.find(sesn);
    if (manager == lib.managers.end()) {  // the manager was closed while we connected
        lock.unlock();
        // A vendor session went with the vendor's manager; closing its number again could
        // close a session the library has opened since under the same number.
        if (!session->transport->IsPassthrough())
            CloseSession(session);
        return VI_ERROR_INV_OBJECT;
    }
    ViSession handle = lib.NewHandle();
    lib.sessions.emplace(handle, session);
    manager->second.sessions.insert(handle);
    *vi = handle;
    return status;
}

// A lost connection is held against every later call, except by a passthrough.
void NoteLoss(Session& session, ViStatus status) {
    if (status == VI_ERROR_CONN_LOST && !session.transport->IsPassthrough())
        session.lost = true;
}

ViStatus ReadLocked(Session& session, ViPBuf buf, ViUInt32 cnt, ViUInt32& received) {
    if (session.lost || !session.transport)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = session.transport->Read(buf, cnt, received, session.settings);
    NoteLoss(session, status);
    return status;
}

ViStatus WriteLocked(Session& session, ViConstBuf buf, ViUInt32 cnt, ViUInt32& written) {
    if (session.lost || !session.transport)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = session.transport->Write(buf, cnt, written, session.settings);
    NoteLoss(session, status);
    return status;
}

}  // namespace

ViStatus viClose(ViObject vi) {
    if (vi == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    Library& lib = Lib();
    std::vector<std::shared_ptr<Session>> closing;
    ResourceManager closedManager;
    {
        std::lock_guard lock(lib.mutex);
        if (auto it = lib.sessions.find(vi); it != lib.sessions.end()) {
            closing.push_back(it->second);
            if (auto manager = lib.managers.find(it->second->resourceManager);
                manager != lib.managers.end()) {
                manager->second.sessions.erase(vi);
            }
            lib.sessions.erase(it);
        } else if (auto manager = lib.managers.find(vi); manager != lib.managers.end()) {
            for (ViSession s : manager->second.sessions) {
                if (auto session = lib.sessions.find(s); session != lib.sessions.end()) {
                    closing.push_back(session->second);
                    lib.sessions.erase(session);
                }
            }
            closedManager = std::move(manager->second);
            lib.managers.erase(manager);
        } else {
            return VI_ERROR_INV_OBJECT;
        }
    }
    ViStatus status = VI_SUCCESS;
    for (auto& session : closing)
        status = CloseSession(session);
    // Closing a vendor resource manager closes its sessions too; ours were closed one by one
    // above so that each of our handles is done with before the vendor's go.
    if (closedManager.vendor)
        status = closedManager.vendor->Close(closedManager.vendorManager);
    return status;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    ViStatus status = VI_SUCCESS;
    std::shared_ptr<Session> session = FindSession(vi, status);
    if (!session) {
        if (status != VI_ERROR_NSUP_OPER)
            return status;
        std::shared_ptr<VendorLibrary> vendor;
        ViSession vendorManager = VI_NULL;
        {
            Library& lib = Lib();
            std::lock_guard lock(lib.mutex);
            if (auto manager = lib.managers.find(vi); manager != lib.managers.end()) {
                vendor = manager->second.vendor;
                vendorManager = manager->second.vendorManager;
            }
        }
        return vendor ? vendor->SetAttribute(vendorManager, attrName, attrValue)
                      : VI_ERROR_NSUP_ATTR;
    }
    std::lock_guard io(session->io);
    // A built-in session closed under a concurrent call keeps its settings to itself.
    if (!session->transport)
        return ApplyIoAttribute(attrName, attrValue, session->settings);
    return session->transport->SetAttribute(attrName, attrValue, session->settings);
}

ViStatus ApplyIoAttribute(ViAttr attrName, ViAttrState attrValue, IoSettings& settings) {
    switch (attrName) {
        case VI_ATTR_TMO_VALUE:
            if (attrValue > VI_TMO_INFINITE)
                return VI_ERROR_NSUP_ATTR_STATE;
            settings.timeoutMs = static_cast<ViUInt32>(attrValue);
            return VI_SUCCESS;
        case VI_ATTR_TERMCHAR:
            if (attrValue > 0xFF)
                return VI_ERROR_NSUP_ATTR_STATE;
            settings.termChar = static_cast<ViByte>(attrValue);
            return VI_SUCCESS;
        case VI_ATTR_TERMCHAR_EN:
            if (attrValue > 1)
                return VI_ERROR_NSUP_ATTR_STATE;
            settings.termCharEnabled = attrValue == 1;
            return VI_SUCCESS;
        case VI_ATTR_SEND_END_EN:  // only the defaults are supported
            return attrValue == VI_TRUE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        case VI_ATTR_SUPPRESS_END_EN:
            return attrValue == VI_FALSE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        default:
            return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    ViUInt32 received = 0;
    if (retCnt)
        *retCnt = 0;
    if (!buf && cnt > 0)
        return VI_ERROR_INV_PARAMETER;
    ViStatus status = VI_SUCCESS;
    std::shared_ptr<Session> session = FindSession(vi, status);
    if (!session)
        return status;
    std::lock_guard io(session->io);
    status = ReadLocked(*session, buf, cnt, received);
    if (retCnt)
        *retCnt = received;
    if (session->trace)
        TraceRead(*session, buf, received, status);
    return status;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    ViUInt32 written = 0;
    if (retCnt)
        *retCnt = 0;
    if (!buf && cnt > 0)
        return VI_ERROR_INV_PARAMETER;
    ViStatus status = VI_SUCCESS;
    std::shared_ptr<Session> session = FindSession(vi, status);
    if (!session)
        return status;
    std::lock_guard io(session->io);
    static const ViByte kEmpty = 0;
    // Traced before it goes, so a write that hangs is already on record.
    if (session->trace)
        session->trace->Sent(session->resource,
                             {reinterpret_cast<const char*>(buf), buf ? cnt : 0});
    status = WriteLocked(*session, buf ? buf : &kEmpty, cnt, written);
    if (retCnt)
        *retCnt = written;
    if (session->trace && status < VI_SUCCESS)
        session->trace->Failed(session->resource, "write", status);
    return status;
}

}  // namespace visa
