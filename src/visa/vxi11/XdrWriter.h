// XDR encoding into a caller-owned byte vector: big-endian 4-byte units, variable opaques padded
// to a multiple of 4. The vector keeps its capacity between messages, so steady-state encoding
// does not allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace visa::vxi11 {

class XdrWriter {
public:
    explicit XdrWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

    void PutUint(std::uint32_t value) {
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
        m_out.insert(m_out.end(), bytes, bytes + 4);
    }
    void PutInt(std::int32_t value) { PutUint(static_cast<std::uint32_t>(value)); }
    void PutBool(bool value) { PutUint(value ? 1 : 0); }
    void PutOpaque(const std::uint8_t* data, std::size_t length) {
        PutUint(static_cast<std::uint32_t>(length));
        const std::size_t at = m_out.size();
        m_out.resize(at + length + Padding(length));
        if (length > 0)
            std::memcpy(m_out.data() + at, data, length);
        std::memset(m_out.data() + at + length, 0, Padding(length));
    }
    void PutString(std::string_view text) {
        PutOpaque(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    static std::size_t Padding(std::size_t length) { return (4 - length % 4) % 4; }

private:
    std::vector<std::uint8_t>& m_out;
};

}  // namespace visa::vxi11
