// How the targets read their input: a few bytes of settings, then pieces, each a 16-bit
// big-endian length followed by that many bytes. Reading past the end gives zeros and short
// pieces, so every input is a valid script and no mutation is wasted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// An invariant of the code under test; a violation is a finding like a crash.
#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                       \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>((Byte() << 8) | Byte()); }
    std::uint32_t U32() { return (std::uint32_t(U16()) << 16) | U16(); }

    std::string_view Piece() {
        const std::size_t announced = U16();
        const std::size_t length = announced < m_size - m_at ? announced : m_size - m_at;
        const std::string_view piece(reinterpret_cast<const char*>(m_data + m_at), length);
        m_at += length;
        return piece;
    }
    std::string_view Rest() {
        const std::string_view rest(reinterpret_cast<const char*>(m_data + m_at), m_size - m_at);
        m_at = m_size;
        return rest;
    }
    bool Empty() const { return m_at >= m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

}  // namespace fuzz
