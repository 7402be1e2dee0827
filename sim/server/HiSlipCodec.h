// HiSLIP message framing: a 16-byte header ("HS", type, control code, 32-bit parameter, 64-bit
// payload length, all big-endian) followed by the payload.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim::server {

namespace hislip {
constexpr size_t kHeaderBytes = 16;
constexpr uint16_t kProtocolVersion = 0x0100;  // 1.0: major byte, minor byte
constexpr uint32_t kInitialMessageId = 0xFFFFFF00u;
constexpr uint32_t kUnknownMessageId = 0xFFFFFFFFu;
constexpr size_t kMaxSubAddress = 256;

enum MessageType : uint8_t {
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

enum FatalCode : uint8_t {
    kFatalUnidentified = 0,
    kFatalBadHeader = 1,
    kFatalChannelsNotEstablished = 2,
    kFatalInvalidInitSequence = 3,
    kFatalMaxClients = 4,
};

enum ErrorCode : uint8_t {
    kErrorUnidentified = 0,
    kErrorUnrecognizedType = 1,
    kErrorUnrecognizedControl = 2,
    kErrorUnrecognizedVendor = 3,
    kErrorMessageTooLarge = 4,
};
}  // namespace hislip

struct HiSlipHeader {
    uint8_t type = 0;
    uint8_t control = 0;
    uint32_t parameter = 0;
    uint64_t payloadLength = 0;
};

// Decodes a header from exactly 16 bytes; nothing when the prologue is not "HS".
std::optional<HiSlipHeader> DecodeHiSlipHeader(std::string_view bytes);
std::string EncodeHiSlipMessage(uint8_t type, uint8_t control, uint32_t parameter,
                                std::string_view payload = {});
// The 8-byte big-endian payload of the maximum message size messages.
std::string EncodeU64(uint64_t value);
std::optional<uint64_t> DecodeU64(std::string_view bytes);

}  // namespace sim::server
