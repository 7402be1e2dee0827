#include "Portmapper.h"

#include <ctime>

#include "OncRpc.h"
#include "Xdr.h"

namespace sim::server {

namespace {

using namespace portmap;

// The port registered for (program, version, protocol), or 0.
uint32_t Lookup(const std::vector<PortMapping>& mappings, uint32_t program, uint32_t version,
                uint32_t protocol) {
    for (const PortMapping& m : mappings) {
        if (m.program == program && m.version == version && m.protocol == protocol)
            return m.port;
    }
    return 0;
}

std::string AnswerVersion2(const RpcCall& call, const std::vector<PortMapping>& mappings) {
    using rpc::AcceptStat;
    switch (call.procedure) {
        case kNull:
            return EncodeAcceptedReply(call.xid, AcceptStat::Success);
        case kSet:
        case kUnset:
            // Registrations are internal; nobody else may add or remove ours.
            if (!DecodeMapping(call.arguments))
                break;
            return EncodeAcceptedReply(call.xid, AcceptStat::Success, EncodeBool(false));
        case kGetPort: {
            const auto m = DecodeMapping(call.arguments);
            if (!m)
                break;
            return EncodeAcceptedReply(
                call.xid, AcceptStat::Success,
                EncodeU32(Lookup(mappings, m->program, m->version, m->protocol)));
        }
        case kDump:
            return EncodeAcceptedReply(call.xid, AcceptStat::Success, EncodeMappingList(mappings));
        default:
            return EncodeAcceptedReply(call.xid, AcceptStat::ProcUnavail);
    }
    return EncodeAcceptedReply(call.xid, AcceptStat::GarbageArgs);
}

std::string AnswerRpcbind(const RpcCall& call, const std::vector<PortMapping>& mappings,
                          const std::string& hostAddress) {
    using rpc::AcceptStat;
    constexpr uint32_t kGetTime = 6;
    switch (call.procedure) {
        case kNull:
            return EncodeAcceptedReply(call.xid, AcceptStat::Success);
        case kSet:
        case kUnset:
            if (!DecodeRpcb(call.arguments))
                break;
            return EncodeAcceptedReply(call.xid, AcceptStat::Success, EncodeBool(false));
        case kGetPort:  // GETADDR in these versions
        case kGetVersAddr: {
            if (call.procedure == kGetVersAddr && call.version < 4) {
                return EncodeAcceptedReply(call.xid, AcceptStat::ProcUnavail);
            }
            const auto e = DecodeRpcb(call.arguments);
            if (!e)
                break;
            uint32_t protocol = 0;
            if (e->netid == "tcp")
                protocol = kProtocolTcp;
            if (e->netid == "udp")
                protocol = kProtocolUdp;
            const uint32_t port = Lookup(mappings, e->program, e->version, protocol);
            // An empty universal address says "not registered".
            const std::string address =
                port ? UniversalAddress(hostAddress, static_cast<uint16_t>(port)) : std::string();
            return EncodeAcceptedReply(call.xid, AcceptStat::Success, EncodeString(address));
        }
        case kDump: {
            std::string list;
            for (const PortMapping& m : mappings) {
                list += EncodeBool(true);
                list += EncodeRpcb(
                    {m.program, m.version, m.protocol == kProtocolTcp ? "tcp" : "udp",
                     UniversalAddress(hostAddress, static_cast<uint16_t>(m.port)), "korvel-sim"});
            }
            list += EncodeBool(false);
            return EncodeAcceptedReply(call.xid, AcceptStat::Success, list);
        }
        case kGetTime:
            return EncodeAcceptedReply(call.xid, AcceptStat::Success,
                                       EncodeU32(static_cast<uint32_t>(std::time(nullptr))));
        default:
            return EncodeAcceptedReply(call.xid, AcceptStat::ProcUnavail);
    }
    return EncodeAcceptedReply(call.xid, AcceptStat::GarbageArgs);
}

}  // namespace

std::string AnswerPortmapCall(std::string_view record, const std::vector<PortMapping>& mappings,
                              const std::string& hostAddress, bool& malformed) {
    RpcCall call;
    if (auto answer = ScreenCall(record, kProgram, call, malformed))
        return *answer;
    if (call.version == kVersion)
        return AnswerVersion2(call, mappings);
    if (call.version == 3 || call.version == 4)
        return AnswerRpcbind(call, mappings, hostAddress);
    return EncodeProgMismatch(call.xid, kVersion, 4);
}

Portmapper::Portmapper(std::string address, uint16_t port, std::vector<PortMapping> mappings)
    : m_address(std::move(address)), m_port(port), m_mappings(std::move(mappings)) {}

Portmapper::~Portmapper() {
    Stop();
}

bool Portmapper::Start(std::string& error) {
    if (!m_tcp.Listen(m_address, m_port, error))
        return false;
    // UDP on the same port as TCP (they differ only when the port was ephemeral).
    if (!m_udp.Bind(m_address, m_tcp.Port(), error))
        return false;
    m_tcp.Start([this](TcpSocket& socket) { ServeTcp(socket); });
    m_udpThread = std::thread([this] { ServeUdp(); });
    return true;
}

void Portmapper::Stop() {
    m_tcp.Stop();
    if (m_udpThread.joinable())
        m_udpThread.join();
    m_udp.Close();
}

void Portmapper::ServeTcp(TcpSocket& socket) {
    const std::string host = socket.LocalAddress();
    RecordAssembler assembler(8192);
    char buffer[4096];
    for (;;) {
        const size_t n = socket.ReadSome(buffer, sizeof buffer);
        if (n == 0)
            return;
        std::string_view input(buffer, n);
        while (!input.empty()) {
            std::string record;
            const auto result = assembler.Push(input, record);
            if (result == RecordAssembler::Result::TooLarge)
                return;
            if (result != RecordAssembler::Result::Record)
                continue;
            bool malformed = false;
            const std::string reply = AnswerPortmapCall(record, m_mappings, host, malformed);
            if (malformed)
                return;
            if (!reply.empty() && !socket.WriteAll(EncodeRecord(reply)))
                return;
        }
    }
}

void Portmapper::ServeUdp() {
    UdpSocket::Datagram datagram;
    while (m_udp.Receive(datagram, m_tcp.Signal())) {
        bool malformed = false;
        const std::string reply =
            AnswerPortmapCall(datagram.bytes, m_mappings, m_address, malformed);
        if (!reply.empty())
            m_udp.SendTo(reply, datagram.peer);
    }
}

namespace {

bool CallLocalPortmapper(uint32_t procedure, const PortMapping& mapping, uint16_t port,
                         std::string& error) {
    TcpSocket socket = ConnectTcp("127.0.0.1", port, 1000);
    if (!socket.Valid()) {
        error = "no portmapper answers on 127.0.0.1:" + std::to_string(port);
        return false;
    }
    socket.SetReadTimeoutMs(2000);
    XdrWriter call;
    call.PutU32(0x4B56534Du);  // xid
    call.PutU32(rpc::kCall);
    call.PutU32(rpc::kVersion);
    call.PutU32(kProgram);
    call.PutU32(kVersion);
    call.PutU32(procedure);
    for (int i = 0; i < 4; ++i)
        call.PutU32(0);  // AUTH_NONE credential and verifier
    std::string request = call.Take() + EncodeMapping(mapping);
    if (!socket.WriteAll(EncodeRecord(request))) {
        error = "the portmapper closed the connection";
        return false;
    }
    // Reply: record mark, xid, REPLY, ACCEPTED, verifier (2 words), SUCCESS, bool.
    char reply[32];
    if (!socket.ReadExact(reply, sizeof reply)) {
        error = "the portmapper did not answer";
        return false;
    }
    XdrReader reader(std::string_view(reply, sizeof reply));
    uint32_t words[8] = {};
    for (uint32_t& word : words)
        word = reader.GetU32();
    if (words[3] != 0 || words[6] != 0 || words[7] != 1) {
        error = "the portmapper refused the registration";
        return false;
    }
    return true;
}

}  // namespace

bool RegisterWithPortmapper(const PortMapping& mapping, uint16_t portmapperPort,
                            std::string& error) {
    std::string ignored;
    CallLocalPortmapper(kUnset, mapping, portmapperPort, ignored);  // a stale one from a crash
    return CallLocalPortmapper(kSet, mapping, portmapperPort, error);
}

void UnregisterFromPortmapper(const PortMapping& mapping, uint16_t portmapperPort) {
    std::string ignored;
    CallLocalPortmapper(kUnset, mapping, portmapperPort, ignored);
}

}  // namespace sim::server
