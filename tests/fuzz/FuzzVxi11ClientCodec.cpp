// The client's ONC RPC record marking and reply decoding over whatever a server sends: the
// stream is scanned record by record as RpcClient does, every prefix of it (TCP may deliver
// any) must give the same answer or ask for more, fragments are joined in place and each reply
// header and result structure is decoded.
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "visa/vxi11/RpcClient.h"
#include "visa/vxi11/RpcCodec.h"
#include "visa/vxi11/Vxi11Codec.h"

using namespace visa::vxi11;

namespace {

bool SameExtent(const RecordExtent& a, const RecordExtent& b) {
    return a.scan == b.scan && a.streamBytes == b.streamBytes && a.payloadBytes == b.payloadBytes &&
           a.fragments == b.fragments;
}

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

void CheckPrefixes(const std::uint8_t* stream, std::size_t size, std::size_t maxPayload,
                   std::size_t unterminated, const RecordExtent& whole) {
    std::vector<std::size_t> prefixes;
    for (std::size_t i = 0; i < 16 && i < size; ++i)
        prefixes.push_back(size < 16 ? i : size * i / 16);
    if (whole.scan == RecordScan::Complete) {
        prefixes.push_back(whole.streamBytes - 1);
        prefixes.push_back(whole.streamBytes);
    }
    for (const std::size_t prefix : prefixes) {
        const RecordExtent part = FindRecord(stream, prefix, maxPayload, unterminated);
        if (whole.scan == RecordScan::Complete && prefix >= whole.streamBytes) {
            FUZZ_CHECK(SameExtent(part, whole));
        } else if (whole.scan == RecordScan::TooLong) {
            FUZZ_CHECK(part.scan != RecordScan::Complete);
        } else {
            FUZZ_CHECK(part.scan == RecordScan::NeedMore);
        }
    }
}

void DecodeResults(const std::uint8_t* results, std::size_t size) {
    std::uint32_t port = 0;
    DecodeGetPort(results, size, port);
    CreateLinkResult link;
    DecodeCreateLink(results, size, link);
    DeviceWriteResult write;
    DecodeDeviceWrite(results, size, write);
    std::int32_t error = 0;
    DecodeDeviceError(results, size, error);
    DeviceReadResult read;
    if (DecodeDeviceRead(results, size, read)) {
        // The data is a view into the results; the caller copies it from there.
        FUZZ_CHECK(read.length <= size);
        FUZZ_CHECK(read.length == 0 ||
                   (read.data >= results && read.data + read.length <= results + size));
        volatile std::uint8_t sink = 0;
        for (std::size_t i = 0; i < read.length; ++i)
            sink = sink ^ read.data[i];
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    // Small bounds reach the too-long path with short inputs; the real one is 4 MiB.
    const std::size_t maxPayload =
        (settings & 0x80) ? 8 + input.Byte() : RpcClient::kMaxRecordBytes;
    const std::size_t unterminated = (settings & 0x40) ? 4 * std::size_t(input.Byte()) : 0;
    const std::string_view rest = input.Rest();
    std::vector<std::uint8_t> stream(rest.begin(), rest.end());

    std::size_t at = 0;
    for (int records = 0; records < 64 && at < stream.size(); ++records) {
        std::uint8_t* record = stream.data() + at;
        const std::size_t available = stream.size() - at;
        const RecordExtent extent = FindRecord(record, available, maxPayload, unterminated);
        CheckPrefixes(record, available, maxPayload, unterminated, extent);
        if (extent.scan != RecordScan::Complete)
            break;
        FUZZ_CHECK(extent.streamBytes <= available);
        FUZZ_CHECK(extent.payloadBytes <= maxPayload);
        FUZZ_CHECK(extent.fragments >= 1 &&
                   extent.payloadBytes + 4 * extent.fragments == extent.streamBytes);

        // The payload as the marks describe it, gathered here independently of JoinFragments.
        std::vector<std::uint8_t> expected;
        for (std::size_t from = 0, i = 0; i < extent.fragments; ++i) {
            const std::size_t length = Be32(record + from) & ~rpc::kLastFragment;
            expected.insert(expected.end(), record + from + 4, record + from + 4 + length);
            from += 4 + length;
        }
        JoinFragments(record, extent);
        FUZZ_CHECK(expected.size() == extent.payloadBytes);
        FUZZ_CHECK(expected.empty() || std::memcmp(expected.data(), record, expected.size()) == 0);

        if (HasXid(extent.payloadBytes)) {
            const ReplyHeader header = DecodeReply(record, extent.payloadBytes);
            if (header.kind == ReplyKind::Success) {
                FUZZ_CHECK(header.resultsOffset <= extent.payloadBytes);
                // Decoded from a copy of its own size, so that reading past the results is seen.
                std::vector<std::uint8_t> results(record + header.resultsOffset,
                                                  record + extent.payloadBytes);
                DecodeResults(results.data(), results.size());
            }
        }
        at += extent.streamBytes;
    }

    // What we send must frame as one record of the size we think it has.
    std::vector<std::uint8_t> call;
    EncodeDeviceWrite(call, 1, 0, 0, 0, kFlagEnd,
                      reinterpret_cast<const std::uint8_t*>(rest.data()),
                      rest.size() < 1024 ? rest.size() : 1024);
    const RecordExtent sent = FindRecord(call.data(), call.size(), RpcClient::kMaxRecordBytes);
    FUZZ_CHECK(sent.scan == RecordScan::Complete && sent.streamBytes == call.size() &&
               sent.payloadBytes % 4 == 0);
    return 0;
}
