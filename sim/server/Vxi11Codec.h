// Arguments and results of the VXI-11 core and abort programs and of the portmapper / rpcbind
// procedures the simulator answers, as pure XDR decoders and encoders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::server {

namespace vxi11 {
constexpr uint32_t kCoreProgram = 0x0607AF;
constexpr uint32_t kAbortProgram = 0x0607B0;
constexpr uint32_t kVersion = 1;

enum Procedure : uint32_t {
    kDeviceAbort = 1,
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceTrigger = 14,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDeviceLock = 18,
    kDeviceUnlock = 19,
    kDeviceEnableSrq = 20,
    kDeviceDocmd = 22,
    kDestroyLink = 23,
    kCreateIntrChan = 25,
    kDestroyIntrChan = 26,
};

enum Error : int32_t {
    kNoError = 0,
    kSyntaxError = 1,
    kDeviceNotAccessible = 3,
    kInvalidLink = 4,
    kParameterError = 5,
    kChannelNotEstablished = 6,
    kOperationNotSupported = 8,
    kOutOfResources = 9,
    kDeviceLocked = 11,
    kNoLockHeld = 12,
    kIoTimeout = 15,
    kIoError = 17,
    kAbort = 23,
};

constexpr int32_t kFlagWaitLock = 0x01;
constexpr int32_t kFlagEnd = 0x08;
constexpr int32_t kFlagTermCharSet = 0x80;

constexpr int32_t kReasonRequestCount = 0x01;
constexpr int32_t kReasonTermChar = 0x02;
constexpr int32_t kReasonEnd = 0x04;

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
constexpr uint32_t kProgram = 100000;
constexpr uint32_t kProtocolTcp = 6;
constexpr uint32_t kProtocolUdp = 17;
enum Procedure : uint32_t { kNull = 0, kSet = 1, kUnset = 2, kGetPort = 3, kDump = 4, kCallIt = 5 };
// rpcbind 3/4: 3 GETADDR as in version 2's GETPORT position; 4 adds GETVERSADDR (9).
constexpr uint32_t kGetVersAddr = 9;
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
