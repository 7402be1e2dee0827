// HiSLIP message framing as pure functions over bytes: the 16-byte header ("HS", type, control
// code, 32-bit parameter, 64-bit payload length, all big-endian) and the few client messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace visa::hislip {

constexpr std::size_t kHeaderBytes = 16;
constexpr std::uint16_t kProtocolVersion = 0x0100;  // 1.0: no TLS or SASL obligations
constexpr std::uint32_t kInitialMessageId = 0xFFFFFF00u;
constexpr std::uint32_t kAnyMessageId = 0xFFFFFFFFu;  // a server's Data when it cannot tell
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
};

// FatalError and Error codes the client sends or tells apart.
constexpr std::uint8_t kFatalBadHeader = 1;
constexpr std::uint8_t kFatalTooManyClients = 4;
constexpr std::uint8_t kErrorUnknownType = 1;

struct Header {
    std::uint8_t type = 0;
    std::uint8_t control = 0;
    std::uint32_t parameter = 0;
    std::uint64_t payloadLength = 0;
};

enum class HeaderCheck { NeedMore, Ok, BadPrologue };

HeaderCheck DecodeHeader(const std::uint8_t* data, std::size_t size, Header& header);
void EncodeHeader(std::uint8_t* out, const Header& header);

// Writes one whole message, header and payload, into out (cleared first, capacity kept).
void EncodeMessage(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t control,
                   std::uint32_t parameter, const std::uint8_t* payload = nullptr, std::size_t length = 0);

void EncodeInitialize(std::vector<std::uint8_t>& out, std::uint16_t version, const char vendor[2],
                      std::string_view subAddress);
void EncodeAsyncInitialize(std::vector<std::uint8_t>& out, std::uint16_t sessionId);
void EncodeAsyncMaximumMessageSize(std::vector<std::uint8_t>& out, std::uint64_t maximumBytes);

struct InitializeResult {
    bool overlapped = false;  // the server prefers overlapped mode
    std::uint16_t version = 0;
    std::uint16_t sessionId = 0;
};
InitializeResult DecodeInitializeResponse(const Header& header);

// The 8-byte size in an AsyncMaximumMessageSize(Response) payload; false for any other length.
bool DecodeMaximumMessageSize(const std::uint8_t* payload, std::size_t length, std::uint64_t& maximumBytes);

}  // namespace visa::hislip
