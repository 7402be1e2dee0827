// XDR decoding over a byte range. Every read is checked against the bytes that remain; after the
// first failure the reader stays failed and returns zeros, so a decoder checks Ok() once at the
// end. Padding is skipped unchecked and trailing bytes are tolerated: instruments exist that pad
// replies beyond the 4-byte alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace visa::vxi11 {

class XdrReader {
public:
    XdrReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint32_t GetUint() {
        if (!Need(4)) return 0;
        const std::uint8_t* p = m_data + m_pos;
        m_pos += 4;
        return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
    }
    std::int32_t GetInt() { return static_cast<std::int32_t>(GetUint()); }

    // A variable opaque of at most maxLength bytes, returned as a view into the input.
    bool GetOpaque(const std::uint8_t*& data, std::size_t& length, std::size_t maxLength = SIZE_MAX) {
        data = nullptr;
        length = 0;
        const std::uint32_t announced = GetUint();
        if (!m_ok) return false;
        if (announced > maxLength || announced > m_size - m_pos) {
            m_ok = false;
            return false;
        }
        data = m_data + m_pos;
        length = announced;
        // The final padding may be missing at the very end of a record; nothing follows it.
        const std::size_t padded = announced + (4 - announced % 4) % 4;
        m_pos = padded <= m_size - m_pos ? m_pos + padded : m_size;
        return true;
    }

    bool Ok() const { return m_ok; }
    std::size_t Position() const { return m_pos; }
    std::size_t Remaining() const { return m_size - m_pos; }

private:
    bool Need(std::size_t n) {
        if (m_ok && n <= m_size - m_pos) return true;
        m_ok = false;
        return false;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace visa::vxi11
