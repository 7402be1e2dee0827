// ONC RPC, portmapper and VXI-11 numbers, shared by the client and the simulator's server: both
// read the same names, while their codecs stay independent so that one can test the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace visa::protocol {

namespace rpc {
constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kCall = 0;  // msg_type
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kMsgAccepted = 0;  // reply_stat
constexpr std::uint32_t kMsgDenied = 1;
constexpr std::uint32_t kAuthNone = 0;
constexpr std::uint32_t kLastFragment = 0x80000000u;  // record mark: last fragment of a record
constexpr std::size_t kMaxAuthBytes = 400;            // bound on an opaque auth body

enum class AcceptStat : std::uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
    SystemErr = 5,
};
}  // namespace rpc

namespace portmap {
constexpr std::uint32_t kProgram = 100000;
constexpr std::uint32_t kVersion = 2;
constexpr std::uint16_t kPort = 111;
constexpr std::uint32_t kProtocolTcp = 6;
constexpr std::uint32_t kProtocolUdp = 17;
enum Procedure : std::uint32_t {
    kNull = 0,
    kSet = 1,
    kUnset = 2,
    kGetPort = 3,
    kDump = 4,
    kCallIt = 5
};
// rpcbind 3/4: GETADDR sits where version 2 has GETPORT; version 4 adds GETVERSADDR.
constexpr std::uint32_t kGetVersAddr = 9;
}  // namespace portmap

namespace vxi11 {
constexpr std::uint32_t kCoreProgram = 0x0607AF;
constexpr std::uint32_t kAbortProgram = 0x0607B0;
constexpr std::uint32_t kInterruptProgram = 0x0607B1;
constexpr std::uint32_t kCoreVersion = 1;
constexpr std::uint32_t kAbortVersion = 1;

enum Procedure : std::uint32_t {
    kDeviceAbort = 1,  // abort program
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

enum Error : std::int32_t {
    kErrorNone = 0,
    kErrorSyntax = 1,
    kErrorNotAccessible = 3,
    kErrorInvalidLink = 4,
    kErrorParameter = 5,
    kErrorChannelNotEstablished = 6,
    kErrorNotSupported = 8,
    kErrorOutOfResources = 9,
    kErrorLocked = 11,
    kErrorNoLock = 12,
    kErrorIoTimeout = 15,
    kErrorIo = 17,
    kErrorInvalidAddress = 21,
    kErrorAbort = 23,
    kErrorChannelAlreadyEstablished = 29,
};

// Operation flags.
constexpr std::int32_t kFlagWaitLock = 0x01;
constexpr std::int32_t kFlagEnd = 0x08;
constexpr std::int32_t kFlagTermCharSet = 0x80;

// Read reasons: why a device_read reply ended (0: more data may follow).
constexpr std::int32_t kReasonRequestCount = 0x01;
constexpr std::int32_t kReasonTermChar = 0x02;
constexpr std::int32_t kReasonEnd = 0x04;

// device_enable_srq's handle is an opaque of at most this many bytes.
constexpr std::size_t kMaxSrqHandleBytes = 40;
}  // namespace vxi11

}  // namespace visa::protocol
