#include "HiSlipCodec.h"

#include <cstring>

namespace visa::hislip {
namespace {

void PutBe(std::uint8_t* out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

std::uint64_t GetBe(const std::uint8_t* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | in[i];
    return value;
}

}  // namespace

HeaderCheck DecodeHeader(const std::uint8_t* data, std::size_t size, Header& header) {
    // A wrong prologue is visible from the first byte; do not wait for sixteen to say so.
    if (size >= 1 && data[0] != 'H')
        return HeaderCheck::BadPrologue;
    if (size >= 2 && data[1] != 'S')
        return HeaderCheck::BadPrologue;
    if (size < kHeaderBytes)
        return HeaderCheck::NeedMore;
    header.type = data[2];
    header.control = data[3];
    header.parameter = static_cast<std::uint32_t>(GetBe(data + 4, 4));
    header.payloadLength = GetBe(data + 8, 8);
    return HeaderCheck::Ok;
}

void EncodeHeader(std::uint8_t* out, const Header& header) {
    out[0] = 'H';
    out[1] = 'S';
    out[2] = header.type;
    out[3] = header.control;
    PutBe(out + 4, header.parameter, 4);
    PutBe(out + 8, header.payloadLength, 8);
}

void EncodeMessage(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t control,
                   std::uint32_t parameter, const std::uint8_t* payload, std::size_t length) {
    out.resize(kHeaderBytes + length);
    EncodeHeader(out.data(), Header{type, control, parameter, length});
    if (length > 0)
        std::memcpy(out.data() + kHeaderBytes, payload, length);
}

void EncodeInitialize(std::vector<std::uint8_t>& out, std::uint16_t version, const char vendor[2],
                      std::string_view subAddress) {
    const std::uint32_t parameter = (std::uint32_t(version) << 16) |
                                    (std::uint32_t(static_cast<std::uint8_t>(vendor[0])) << 8) |
                                    static_cast<std::uint8_t>(vendor[1]);
    EncodeMessage(out, kInitialize, 0, parameter,
                  reinterpret_cast<const std::uint8_t*>(subAddress.data()), subAddress.size());
}

void EncodeAsyncInitialize(std::vector<std::uint8_t>& out, std::uint16_t sessionId) {
    EncodeMessage(out, kAsyncInitialize, 0, sessionId);
}

void EncodeAsyncMaximumMessageSize(std::vector<std::uint8_t>& out, std::uint64_t maximumBytes) {
    std::uint8_t size[8];
    PutBe(size, maximumBytes, 8);
    EncodeMessage(out, kAsyncMaximumMessageSize, 0, 0, size, sizeof(size));
}

InitializeResult DecodeInitializeResponse(const Header& header) {
    InitializeResult result;
    result.overlapped = (header.control & kPreferOverlapped) != 0;
    result.version = static_cast<std::uint16_t>(header.parameter >> 16);
    result.sessionId = static_cast<std::uint16_t>(header.parameter & 0xFFFF);
    return result;
}

bool DecodeMaximumMessageSize(const std::uint8_t* payload, std::size_t length,
                              std::uint64_t& maximumBytes) {
    if (length != 8)
        return false;
    maximumBytes = GetBe(payload, 8);
    return true;
}

}  // namespace visa::hislip
