#include "Vxi11Connector.h"

#include "RpcClient.h"
#include "Vxi11Codec.h"
#include "Vxi11Transport.h"
#include "visa/NetworkTesting.h"

namespace visa::vxi11 {
namespace {

// A GETPORT reply is 28 bytes; accept one whose last-fragment bit is missing (instruments
// exist that omit it).
constexpr std::size_t kGetPortReplyBytes = 28;

}  // namespace

ViStatus AskPortmapper(const std::vector<net::Endpoint>& portmapper, const net::Deadline& deadline,
                       std::uint16_t& port) {
    port = 0;
    RpcClient rpc;
    if (rpc.Connect(portmapper, deadline) != net::NetStatus::Ok)
        return VI_ERROR_RSRC_NFOUND;
    const std::uint32_t xid = rpc.NextXid();
    EncodeGetPort(rpc.Buffer(), xid, kCoreProgram, kCoreVersion, portmap::kProtocolTcp);
    const RpcReply reply = rpc.Call(xid, deadline, kGetPortReplyBytes);
    std::uint32_t answer = 0;
    if (reply.status != RpcStatus::Ok || !DecodeGetPort(reply.results, reply.size, answer)) {
        return VI_ERROR_RSRC_NFOUND;
    }
    if (answer == 0 || answer > 0xFFFF)
        return VI_ERROR_RSRC_NFOUND;  // not registered, or nonsense
    port = static_cast<std::uint16_t>(answer);
    return VI_SUCCESS;
}

ViStatus Vxi11Connector::Open(const ResourceName& name, ViUInt32 openTimeoutMs,
                              std::unique_ptr<Transport>& transport) {
    const net::Deadline deadline = net::Deadline::AfterMs(openTimeoutMs);
    const TestPorts ports = GetTestPorts();
    std::vector<net::Endpoint> endpoints;
    if (net::ResolveHost(name.ResolverHost(), ports.portmapperPort, deadline, endpoints) !=
        net::NetStatus::Ok) {
        return VI_ERROR_RSRC_NFOUND;
    }
    std::uint16_t corePort = ports.vxi11CorePort;
    if (corePort == 0) {
        const ViStatus status = AskPortmapper(endpoints, deadline, corePort);
        if (status != VI_SUCCESS)
            return status;
    }
    net::SetPort(endpoints, corePort);
    auto link = std::make_unique<Vxi11Transport>();
    const ViStatus status = link->Open(endpoints, name.deviceName, deadline);
    if (status != VI_SUCCESS)
        return status;
    transport = std::move(link);
    return VI_SUCCESS;
}

}  // namespace visa::vxi11
