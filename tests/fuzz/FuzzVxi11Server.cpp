// The simulator's VXI-11 side over whatever a client sends: the byte stream arrives in pieces of
// the sizes the input picks, records are reassembled, and each goes to the core channel's
// dispatcher (with the simulated analyzer and generator behind it) and to the portmapper. Every
// answer must decode as a reply to the call's xid with the client's own decoder.
//
// Input: settings, four piece sizes, then the stream. Timeouts in the calls are cut to a few
// milliseconds before dispatch, so that a read or lock waits no longer.
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "sim/core/Bench.h"
#include "sim/server/OncRpc.h"
#include "sim/server/Portmapper.h"
#include "sim/server/ServedDevice.h"
#include "sim/server/Vxi11Codec.h"
#include "sim/server/Vxi11Server.h"
#include "sim/server/Xdr.h"
#include "visa/vxi11/RpcCodec.h"

using namespace sim::server;

namespace {

// Offsets of the timeout words in the arguments of each core procedure.
std::vector<std::size_t> TimeoutOffsets(std::uint32_t procedure) {
    switch (procedure) {
        case vxi11::kCreateLink:
            return {8};
        case vxi11::kDeviceWrite:
            return {4, 8};
        case vxi11::kDeviceRead:
        case vxi11::kDeviceReadStb:
        case vxi11::kDeviceTrigger:
        case vxi11::kDeviceClear:
        case vxi11::kDeviceRemote:
        case vxi11::kDeviceLocal:
            return {8, 12};
        case vxi11::kDeviceLock:
            return {8};
        default:
            return {};
    }
}

void ShortenTimeouts(std::string& record) {
    RpcCall call;
    if (DecodeCall(record, call) != RpcDecode::Call || call.program != vxi11::kCoreProgram)
        return;
    const std::size_t arguments = static_cast<std::size_t>(call.arguments.data() - record.data());
    for (std::size_t offset : TimeoutOffsets(call.procedure)) {
        const std::size_t at = arguments + offset;
        if (at + 4 > record.size())
            continue;
        const std::uint32_t shortened = XdrReader(record.substr(at, 4)).GetU32() % 4;
        record.replace(at, 4, std::string{0, 0, 0, static_cast<char>(shortened)});
    }
}

void CheckReply(std::string_view record, const std::string& reply) {
    if (reply.empty())
        return;
    const auto header =
        visa::vxi11::DecodeReply(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
    FUZZ_CHECK(header.kind != visa::vxi11::ReplyKind::Malformed);
    FUZZ_CHECK(record.size() >= 4 && header.xid == XdrReader(record).GetU32());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    std::uint8_t pieces[4];
    for (std::uint8_t& piece : pieces)
        piece = input.Byte();

    sim::BenchOptions options;
    options.speed.fast = true;
    sim::Bench bench(options);
    auto analyzer =
        std::make_shared<ServedDevice>("inst0", bench.Instrument(sim::InstrumentId::Analyzer));
    auto generator =
        std::make_shared<ServedDevice>("gpib0,28", bench.Instrument(sim::InstrumentId::Generator1));
    Vxi11Options serving;
    serving.maxRecvSize = (settings & 1) ? 16 : 1024;
    serving.readChunkLimit = (settings & 2) ? 5 : 0;
    serving.maxLinksPerDevice = 3;
    serving.maxProgramMessageBytes = 512;
    Vxi11Server server(serving, {{"inst0", analyzer}, {"gpib0,28", generator}});
    const std::vector<PortMapping> mappings = {
        {vxi11::kCoreProgram, vxi11::kCoreVersion, portmap::kProtocolTcp, 1024}};

    RecordAssembler assembler(serving.maxRecvSize + 4096);
    std::string_view stream = input.Rest();
    for (std::size_t k = 0; !stream.empty(); ++k) {
        const std::size_t length = pieces[k % 4] == 0 ? stream.size() : pieces[k % 4];
        std::string_view piece = stream.substr(0, length);
        stream.remove_prefix(piece.size());
        while (!piece.empty()) {
            std::string record;
            const RecordAssembler::Result result = assembler.Push(piece, record);
            if (result == RecordAssembler::Result::TooLarge)
                return 0;  // the server closes here
            if (result == RecordAssembler::Result::NeedMore)
                break;
            FUZZ_CHECK(record.size() <= serving.maxRecvSize + 4096);
            bool malformed = false;
            CheckReply(record, AnswerPortmapCall(record, mappings, "127.0.0.1", malformed));
            ShortenTimeouts(record);
            bool drop = false;
            CheckReply(record, server.HandleCoreRecord(record, 1, drop));
            if (drop)
                return 0;
        }
    }
    return 0;
}
