// XDR decoding over a span of bytes, with the simulator's reader's convention: each getter returns
// the value; after the first read that does not fit, the reader stays failed and returns zeros
// and empty spans, so a decoder checks Ok() once at the end. Opaque data comes back as a span into
// the input. Padding is skipped unchecked and trailing bytes are tolerated: instruments exist that
// pad replies beyond the 4-byte alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace visa::vxi11 {

class XdrReader {
public:
    explicit XdrReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint32_t GetU32() {
        if (!Need(4))
            return 0;
        const std::uint8_t* p = m_bytes.data() + m_pos;
        m_pos += 4;
        return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
               (std::uint32_t(p[2]) << 8) | p[3];
    }
    std::int32_t GetI32() { return static_cast<std::int32_t>(GetU32()); }
    bool GetBool() { return GetU32() != 0; }  // any non-zero word is TRUE

    // A variable opaque of at most maxLength bytes.
    std::span<const std::uint8_t> GetOpaque(std::size_t maxLength = SIZE_MAX) {
        const std::uint32_t announced = GetU32();
        if (!m_ok)
            return {};
        if (announced > maxLength || announced > Remaining()) {
            m_ok = false;
            return {};
        }
        const std::span<const std::uint8_t> data = m_bytes.subspan(m_pos, announced);
        // The final padding may be missing at the very end of a record; nothing follows it.
        const std::size_t padded = announced + (4 - announced % 4) % 4;
        m_pos = padded <= Remaining() ? m_pos + padded : m_bytes.size();
        return data;
    }

    bool Ok() const { return m_ok; }
    std::size_t Position() const { return m_pos; }
    std::size_t Remaining() const { return m_bytes.size() - m_pos; }
    std::span<const std::uint8_t> Rest() const { return m_bytes.subspan(m_pos); }

private:
    bool Need(std::size_t n) {
        if (m_ok && n <= Remaining())
            return true;
        m_ok = false;
        return false;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace visa::vxi11
