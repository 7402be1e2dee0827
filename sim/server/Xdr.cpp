#include "Xdr.h"

#include <algorithm>

namespace sim::server {

void XdrWriter::PutU32(uint32_t value) {
    m_bytes.push_back(static_cast<char>(value >> 24));
    m_bytes.push_back(static_cast<char>(value >> 16));
    m_bytes.push_back(static_cast<char>(value >> 8));
    m_bytes.push_back(static_cast<char>(value));
}

void XdrWriter::PutOpaque(std::string_view bytes) {
    PutU32(static_cast<uint32_t>(bytes.size()));
    m_bytes.append(bytes);
    m_bytes.append((4 - bytes.size() % 4) % 4, '\0');
}

uint32_t XdrReader::GetU32() {
    if (!m_ok || m_bytes.size() - m_offset < 4) {
        m_ok = false;
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(m_bytes.data() + m_offset);
    m_offset += 4;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::string_view XdrReader::GetOpaque(size_t maxLength) {
    const uint32_t length = GetU32();
    if (!m_ok)
        return {};
    if (length > maxLength || length > m_bytes.size() - m_offset) {
        m_ok = false;
        return {};
    }
    const std::string_view bytes = m_bytes.substr(m_offset, length);
    // The final padding of a message may be missing; what is there is skipped unchecked.
    const size_t padded = length + (4 - length % 4) % 4;
    m_offset += std::min(padded, m_bytes.size() - m_offset);
    return bytes;
}

std::string EncodeRecord(std::string_view message) {
    XdrWriter header;
    header.PutU32(0x80000000u | static_cast<uint32_t>(message.size()));
    std::string record = header.Take();
    record.append(message);
    return record;
}

RecordAssembler::Result RecordAssembler::Push(std::string_view& input, std::string& record) {
    while (!input.empty()) {
        if (!m_inFragment) {
            const size_t n = std::min(input.size(), 4 - m_headerBytes);
            std::copy_n(input.begin(), n, m_header + m_headerBytes);
            m_headerBytes += n;
            input.remove_prefix(n);
            if (m_headerBytes < 4)
                return Result::NeedMore;
            const uint32_t word = (uint32_t{m_header[0]} << 24) | (uint32_t{m_header[1]} << 16) |
                                  (uint32_t{m_header[2]} << 8) | m_header[3];
            m_headerBytes = 0;
            m_lastFragment = (word & 0x80000000u) != 0;
            m_fragmentLeft = word & 0x7FFFFFFFu;
            // Checked against the announced size before any byte of it is stored.
            if (m_fragmentLeft > m_maxRecordBytes - m_record.size())
                return Result::TooLarge;
            m_inFragment = true;
        }
        const size_t n = std::min(input.size(), m_fragmentLeft);
        m_record.append(input.substr(0, n));
        input.remove_prefix(n);
        m_fragmentLeft -= n;
        if (m_fragmentLeft > 0)
            return Result::NeedMore;
        m_inFragment = false;
        if (m_lastFragment) {
            record = std::move(m_record);
            m_record.clear();
            return Result::Record;
        }
    }
    return Result::NeedMore;
}

}  // namespace sim::server
