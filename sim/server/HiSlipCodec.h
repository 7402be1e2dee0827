// HiSLIP message framing: a 16-byte header ("HS", type, control code, 32-bit parameter, 64-bit
// payload length, all big-endian) followed by the payload.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "visa/protocol/HiSlip.h"

namespace sim::server {

namespace hislip = visa::protocol::hislip;

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
