// Portmapper and VXI-11 core-channel calls and results, as pure functions over bytes. Encoders
// write one complete record (record mark included) into a reused vector; decoders read the
// results part of an accepted reply and check every length against the bytes present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace visa::vxi11 {

constexpr std::uint32_t kPortmapProgram = 100000;
constexpr std::uint32_t kPortmapVersion = 2;
constexpr std::uint32_t kPortmapGetPort = 3;
constexpr std::uint32_t kProtocolTcp = 6;

constexpr std::uint32_t kCoreProgram = 0x0607AF;
constexpr std::uint32_t kCoreVersion = 1;
constexpr std::uint32_t kCreateLink = 10;
constexpr std::uint32_t kDeviceWrite = 11;
constexpr std::uint32_t kDeviceRead = 12;
constexpr std::uint32_t kDeviceClear = 15;
constexpr std::uint32_t kDestroyLink = 23;

// Operation flags and read reasons.
constexpr std::int32_t kFlagWaitLock = 0x01;
constexpr std::int32_t kFlagEnd = 0x08;
constexpr std::int32_t kFlagTermCharSet = 0x80;
constexpr std::int32_t kReasonRequestCount = 0x01;
constexpr std::int32_t kReasonTermChar = 0x02;
constexpr std::int32_t kReasonEnd = 0x04;

// Device error codes that the client treats specially.
constexpr std::int32_t kErrorNone = 0;
constexpr std::int32_t kErrorSyntax = 1;
constexpr std::int32_t kErrorNotAccessible = 3;
constexpr std::int32_t kErrorInvalidLink = 4;
constexpr std::int32_t kErrorParameter = 5;
constexpr std::int32_t kErrorNotSupported = 8;
constexpr std::int32_t kErrorOutOfResources = 9;
constexpr std::int32_t kErrorLocked = 11;
constexpr std::int32_t kErrorNoLock = 12;
constexpr std::int32_t kErrorIoTimeout = 15;
constexpr std::int32_t kErrorIo = 17;
constexpr std::int32_t kErrorInvalidAddress = 21;
constexpr std::int32_t kErrorAbort = 23;

// The largest device name a client sends; create_link has no limit of its own.
constexpr std::size_t kMaxDeviceNameBytes = 256;

void EncodeGetPort(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t program,
                   std::uint32_t version, std::uint32_t protocol);
void EncodeCreateLink(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t clientId,
                      bool lockDevice, std::uint32_t lockTimeoutMs, std::string_view device);
void EncodeDeviceWrite(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid,
                       std::uint32_t ioTimeoutMs, std::uint32_t lockTimeoutMs, std::int32_t flags,
                       const std::uint8_t* data, std::size_t length);
void EncodeDeviceRead(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid,
                      std::uint32_t requestSize, std::uint32_t ioTimeoutMs, std::uint32_t lockTimeoutMs,
                      std::int32_t flags, std::uint8_t termChar);
// device_clear, device_trigger and the other calls taking Device_GenericParms.
void EncodeGeneric(std::vector<std::uint8_t>& out, std::uint32_t xid, std::uint32_t procedure,
                   std::int32_t lid, std::int32_t flags, std::uint32_t lockTimeoutMs,
                   std::uint32_t ioTimeoutMs);
void EncodeDestroyLink(std::vector<std::uint8_t>& out, std::uint32_t xid, std::int32_t lid);

struct CreateLinkResult {
    std::int32_t error = 0;
    std::int32_t lid = 0;
    std::uint32_t abortPort = 0;
    std::uint32_t maxRecvSize = 0;
};

struct DeviceWriteResult {
    std::int32_t error = 0;
    std::uint32_t size = 0;
};

struct DeviceReadResult {
    std::int32_t error = 0;
    std::int32_t reason = 0;
    const std::uint8_t* data = nullptr;  // points into the decoded bytes
    std::size_t length = 0;
};

// Each returns false when the results are shorter than the structure or a length lies.
bool DecodeGetPort(const std::uint8_t* results, std::size_t size, std::uint32_t& port);
bool DecodeCreateLink(const std::uint8_t* results, std::size_t size, CreateLinkResult& result);
bool DecodeDeviceWrite(const std::uint8_t* results, std::size_t size, DeviceWriteResult& result);
bool DecodeDeviceRead(const std::uint8_t* results, std::size_t size, DeviceReadResult& result);
bool DecodeDeviceError(const std::uint8_t* results, std::size_t size, std::int32_t& error);

}  // namespace visa::vxi11
