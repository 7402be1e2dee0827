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

// Reads a span of bytes with the client's reader's convention: each getter returns the value;
// after the first read that does not fit (input too short, or a length beyond its bound) the
// reader stays failed and returns zeros and empty views, so a decoder checks Ok() once at the end.
// Opaque data comes back as a view into the input. Padding is skipped without checking its value;
// trailing bytes are allowed.
class XdrReader {
public:
    explicit XdrReader(std::string_view bytes) : m_bytes(bytes) {}
    uint32_t GetU32();
    int32_t GetI32() { return static_cast<int32_t>(GetU32()); }
    bool GetBool() { return GetU32() != 0; }  // any non-zero word is TRUE
    std::string_view GetOpaque(size_t maxLength);
    std::string_view GetString(size_t maxLength) { return GetOpaque(maxLength); }
    std::string_view Rest() const { return m_bytes.substr(m_offset); }
    bool Ok() const { return m_ok; }

private:
    std::string_view m_bytes;
    size_t m_offset = 0;
    bool m_ok = true;
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
