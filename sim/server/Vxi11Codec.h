// Arguments and results of the VXI-11 core and abort programs and of the portmapper / rpcbind
// procedures the simulator answers, as pure XDR decoders and encoders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/protocol/Vxi11.h"

namespace sim::server {

namespace vxi11 {
using namespace visa::protocol::vxi11;
// Device names longer than this cannot be ours; the call is answered as garbage.
constexpr size_t kMaxDeviceName = 256;
}  // namespace vxi11

struct CreateLinkParms {
    int32_t clientId = 0;
    bool lockDevice = false;
    uint32_t lockTimeoutMs = 0;
    std::string device;
};

struct DeviceWriteParms {
    int32_t lid = 0;
    uint32_t ioTimeoutMs = 0;
    uint32_t lockTimeoutMs = 0;
    int32_t flags = 0;
    std::string data;
};

struct DeviceReadParms {
    int32_t lid = 0;
    uint32_t requestSize = 0;
    uint32_t ioTimeoutMs = 0;
    uint32_t lockTimeoutMs = 0;
    int32_t flags = 0;
    uint8_t termChar = 0;
};

// Readstb, trigger, clear, remote, local. Note the order: lock_timeout before io_timeout.
struct DeviceGenericParms {
    int32_t lid = 0;
    int32_t flags = 0;
    uint32_t lockTimeoutMs = 0;
    uint32_t ioTimeoutMs = 0;
};

struct DeviceLockParms {
    int32_t lid = 0;
    int32_t flags = 0;
    uint32_t lockTimeoutMs = 0;
};

// Decoders return nothing when the arguments do not decode (GARBAGE_ARGS). maxData bounds the
// opaque data of a write; larger data is garbage as far as the codec is concerned.
std::optional<CreateLinkParms> DecodeCreateLink(std::string_view args);
std::optional<DeviceWriteParms> DecodeDeviceWrite(std::string_view args, size_t maxData);
std::optional<DeviceReadParms> DecodeDeviceRead(std::string_view args);
std::optional<DeviceGenericParms> DecodeDeviceGeneric(std::string_view args);
std::optional<DeviceLockParms> DecodeDeviceLock(std::string_view args);
std::optional<int32_t> DecodeDeviceLink(std::string_view args);
// device_enable_srq: only the lid matters; the handle is checked against its bound of 40.
std::optional<int32_t> DecodeEnableSrq(std::string_view args);

std::string EncodeCreateLinkResp(int32_t error, int32_t lid, uint16_t abortPort,
                                 uint32_t maxRecvSize);
std::string EncodeDeviceWriteResp(int32_t error, uint32_t size);
std::string EncodeDeviceReadResp(int32_t error, int32_t reason, std::string_view data);
std::string EncodeReadStbResp(int32_t error, uint8_t stb);
std::string EncodeDeviceError(int32_t error);
std::string EncodeDocmdResp(int32_t error);

// Portmapper (program 100000). Version 2 speaks mappings and ports; versions 3 and 4 (rpcbind)
// speak netids and universal addresses.
namespace portmap {
using namespace visa::protocol::portmap;
constexpr size_t kMaxRpcbString = 256;
}  // namespace portmap

struct PortMapping {
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t protocol = 0;
    uint32_t port = 0;
};

struct RpcbEntry {
    uint32_t program = 0;
    uint32_t version = 0;
    std::string netid;
    std::string address;
    std::string owner;
};

std::optional<PortMapping> DecodeMapping(std::string_view args);
std::optional<RpcbEntry> DecodeRpcb(std::string_view args);
std::string EncodeMapping(const PortMapping& mapping);
std::string EncodeRpcb(const RpcbEntry& entry);
std::string EncodeU32(uint32_t value);
std::string EncodeBool(bool value);
std::string EncodeString(std::string_view text);
// DUMP: each mapping preceded by TRUE, the list ended by FALSE.
std::string EncodeMappingList(const std::vector<PortMapping>& mappings);

// Universal address of an IPv4 address and port: "h1.h2.h3.h4.p1.p2".
std::string UniversalAddress(std::string_view ipv4, uint16_t port);

}  // namespace sim::server
