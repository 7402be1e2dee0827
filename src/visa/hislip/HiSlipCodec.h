// HiSLIP message framing as pure functions over bytes: the 16-byte header ("HS", type, control
// code, 32-bit parameter, 64-bit payload length, all big-endian) and the few client messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "visa/protocol/HiSlip.h"

namespace visa::hislip {

using namespace protocol::hislip;

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
                   std::uint32_t parameter, const std::uint8_t* payload = nullptr,
                   std::size_t length = 0);

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
bool DecodeMaximumMessageSize(const std::uint8_t* payload, std::size_t length,
                              std::uint64_t& maximumBytes);

}  // namespace visa::hislip
