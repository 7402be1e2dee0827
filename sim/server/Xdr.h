// XDR encoding and decoding over byte strings (big-endian 4-byte words, opaque data padded to a
// multiple of four). The reader never reads past its input and bounds every variable-length field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim::server {

class XdrWriter {
public:
    void PutU32(uint32_t value);
    void PutI32(int32_t value) { PutU32(static_cast<uint32_t>(value)); }
    void PutBool(bool value) { PutU32(value ? 1u : 0u); }
    // Length word, the bytes, then zero padding to a multiple of four.
    void PutOpaque(std::string_view bytes);
    void PutString(std::string_view text) { PutOpaque(text); }
    const std::string& Bytes() const { return m_bytes; }
    std::string Take() { return std::move(m_bytes); }

private:
    std::string m_bytes;
};

class XdrReader {
public:
    explicit XdrReader(std::string_view bytes) : m_bytes(bytes) {}
    // Each getter returns false (and leaves the reader failed) when the input is too short or a
    // length exceeds its bound; later getters then fail too.
    bool GetU32(uint32_t& value);
    bool GetI32(int32_t& value);
    bool GetBool(bool& value);  // any non-zero word is TRUE
    bool GetOpaque(std::string& bytes, size_t maxLength);
    bool GetString(std::string& text, size_t maxLength) { return GetOpaque(text, maxLength); }
    // Padding is skipped without checking its value; trailing bytes are allowed.
    std::string_view Rest() const { return m_bytes.substr(m_offset); }
    bool Failed() const { return m_failed; }

private:
    bool Fail() {
        m_failed = true;
        return false;
    }
    std::string_view m_bytes;
    size_t m_offset = 0;
    bool m_failed = false;
};

// ONC RPC record marking over TCP: each fragment has a 4-byte header, bit 31 marking the last
// fragment of a record and bits 0-30 giving its length.
std::string EncodeRecord(std::string_view message);

// Reassembles records from a byte stream delivered in pieces of any size. A record larger than
// maxRecordBytes (counting all its fragments) is an error: the stream cannot be trusted further.
class RecordAssembler {
public:
    explicit RecordAssembler(size_t maxRecordBytes) : m_maxRecordBytes(maxRecordBytes) {}
    enum class Result { NeedMore, Record, TooLarge };
    // Consumes bytes from input (advancing it) until one record is complete or the input is used
    // up. On Record, the record is in `record` and the unconsumed input stays in `input`.
    Result Push(std::string_view& input, std::string& record);

private:
    size_t m_maxRecordBytes;
    std::string m_record;
    unsigned char m_header[4] = {};
    size_t m_headerBytes = 0;
    size_t m_fragmentLeft = 0;
    bool m_inFragment = false;
    bool m_lastFragment = false;
};

}  // namespace sim::server
