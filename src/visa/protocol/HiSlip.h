// HiSLIP protocol numbers, shared by the client and the simulator's server: both read the same
// names, while their codecs stay independent so that one can test the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace visa::protocol::hislip {

constexpr std::uint16_t kDefaultPort = 4880;
constexpr std::size_t kHeaderBytes = 16;  // "HS", type, control code, parameter, payload length
constexpr std::uint16_t kProtocolVersion = 0x0100;  // 1.0 (major byte, minor byte): no TLS or SASL
constexpr std::uint32_t kInitialMessageId = 0xFFFFFF00u;  // after initialisation and device clear
constexpr std::uint32_t kUnknownMessageId = 0xFFFFFFFFu;  // a server's Data when it cannot tell
constexpr std::size_t kMaxSubAddressBytes = 256;

enum MessageType : std::uint8_t {
    kInitialize = 0,
    kInitializeResponse = 1,
    kFatalError = 2,
    kError = 3,
    kAsyncLock = 4,
    kAsyncLockResponse = 5,
    kData = 6,
    kDataEnd = 7,
    kDeviceClearComplete = 8,
    kDeviceClearAcknowledge = 9,
    kAsyncRemoteLocalControl = 10,
    kAsyncRemoteLocalResponse = 11,
    kTrigger = 12,
    kInterrupted = 13,
    kAsyncInterrupted = 14,
    kAsyncMaximumMessageSize = 15,
    kAsyncMaximumMessageSizeResponse = 16,
    kAsyncInitialize = 17,
    kAsyncInitializeResponse = 18,
    kAsyncDeviceClear = 19,
    kAsyncServiceRequest = 20,
    kAsyncStatusQuery = 21,
    kAsyncStatusResponse = 22,
    kAsyncDeviceClearAcknowledge = 23,
    kAsyncLockInfo = 24,
    kAsyncLockInfoResponse = 25,
    kFirstVendorSpecific = 128,
};

// FatalError control codes.
enum FatalCode : std::uint8_t {
    kFatalUnidentified = 0,
    kFatalBadHeader = 1,
    kFatalChannelsNotEstablished = 2,
    kFatalInvalidInitSequence = 3,
    kFatalMaxClients = 4,
};

// Error control codes.
enum ErrorCode : std::uint8_t {
    kErrorUnidentified = 0,
    kErrorUnrecognizedType = 1,
    kErrorUnrecognizedControl = 2,
    kErrorUnrecognizedVendor = 3,
    kErrorMessageTooLarge = 4,
};

// Control code bits.
constexpr std::uint8_t kRmtDelivered = 0x01;      // Data, DataEnd, Trigger, AsyncStatusQuery
constexpr std::uint8_t kPreferOverlapped = 0x01;  // InitializeResponse, device-clear features

// AsyncLock control codes, and AsyncLockResponse control codes.
enum LockControl : std::uint8_t { kLockRelease = 0, kLockRequest = 1 };
enum LockResponse : std::uint8_t {
    kLockFailed = 0,   // request: timed out
    kLockSuccess = 1,  // request granted, or exclusive lock released
    kLockSharedReleased = 2,
    kLockError = 3,  // request: already held; release: none held
};

// AsyncRemoteLocalControl codes run from 0 (disable remote) to this one (go to local).
constexpr std::uint8_t kLastRemoteLocalCode = 6;

}  // namespace visa::protocol::hislip
