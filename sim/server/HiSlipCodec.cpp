#include "HiSlipCodec.h"

namespace sim::server {

namespace {

uint64_t BigEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (char c : bytes)
        value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

void PutBigEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

std::optional<HiSlipHeader> DecodeHiSlipHeader(std::string_view bytes) {
    if (bytes.size() != hislip::kHeaderBytes || bytes[0] != 'H' || bytes[1] != 'S') {
        return std::nullopt;
    }
    HiSlipHeader header;
    header.type = static_cast<uint8_t>(bytes[2]);
    header.control = static_cast<uint8_t>(bytes[3]);
    header.parameter = static_cast<uint32_t>(BigEndian(bytes.substr(4, 4)));
    header.payloadLength = BigEndian(bytes.substr(8, 8));
    return header;
}

std::string EncodeHiSlipMessage(uint8_t type, uint8_t control, uint32_t parameter,
                                std::string_view payload) {
    std::string out = "HS";
    out.push_back(static_cast<char>(type));
    out.push_back(static_cast<char>(control));
    PutBigEndian(out, parameter, 4);
    PutBigEndian(out, payload.size(), 8);
    out.append(payload);
    return out;
}

std::string EncodeU64(uint64_t value) {
    std::string out;
    PutBigEndian(out, value, 8);
    return out;
}

std::optional<uint64_t> DecodeU64(std::string_view bytes) {
    if (bytes.size() != 8)
        return std::nullopt;
    return BigEndian(bytes);
}

}  // namespace sim::server
