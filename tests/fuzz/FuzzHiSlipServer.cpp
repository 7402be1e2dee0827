// The simulator's HiSLIP side over whatever a client sends. First the pieces alone: the
// synchronous script is walked as a message stream, and the payloads of its Data and DataEnd
// messages go through the program message assembler in the pieces TCP might deliver. Then the
// server itself, on loopback with the simulated analyzer and a generator behind it: the client
// opens a session properly (or sends the script as its opening), writes both scripts, closes
// its sides and reads until the server has closed both channels, which it must, promptly.
// The simulator's sockets repeat system calls interrupted by libFuzzer's timer signal (EINTR).
//
// Input: settings, a piece size, the synchronous and the asynchronous script as pieces.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FuzzInput.h"
#include "sim/core/Bench.h"
#include "sim/server/HiSlipCodec.h"
#include "sim/server/HiSlipServer.h"
#include "sim/server/MessageAssembler.h"
#include "sim/server/ServedDevice.h"
#include "sim/server/Socket.h"

using namespace sim::server;

namespace {

constexpr std::size_t kMaxProgramMessageBytes = 512;

struct Served {
    Served() : bench(Fast()) {
        auto analyzer = std::make_shared<ServedDevice>(
            "analyzer", bench.Instrument(sim::InstrumentId::Analyzer));
        auto generator =
            std::make_shared<ServedDevice>("gen1", bench.Instrument(sim::InstrumentId::Generator1));
        HiSlipOptions options;
        options.address = "127.0.0.1";
        options.port = 0;
        options.maxHiSlipMessageSize = 256;  // small enough for inputs to exceed it
        options.maxSessions = 8;
        options.maxProgramMessageBytes = kMaxProgramMessageBytes;
        server = std::make_unique<HiSlipServer>(
            options, std::vector<SubAddress>{{"hislip0", analyzer}, {"hislip28", generator}});
        std::string error;
        FUZZ_CHECK(server->Start(error));
    }
    static sim::BenchOptions Fast() {
        sim::BenchOptions options;
        options.speed.fast = true;
        return options;
    }
    sim::Bench bench;
    std::unique_ptr<HiSlipServer> server;
};

using Clock = std::chrono::steady_clock;

// One whole message from the server; false when it closed or a wait took over a second.
bool ReadMessage(TcpSocket& socket, HiSlipHeader& header) {
    std::string bytes(hislip::kHeaderBytes, '\0');
    socket.SetReadTimeoutMs(1000);
    if (!socket.ReadExact(bytes.data(), bytes.size()))
        return false;
    const auto decoded = DecodeHiSlipHeader(bytes);
    if (!decoded || decoded->payloadLength > 4096)
        return false;
    header = *decoded;
    return socket.Skip(header.payloadLength);
}

// Reads a channel until the server closes it; false when it has not by deadline. Each wait ends
// past the deadline, so a read that ends before it has met the end of the stream.
bool ClosedBy(TcpSocket& socket, Clock::time_point deadline) {
    char scratch[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        socket.SetReadTimeoutMs(static_cast<int>(left.count()) + 1);
        if (socket.ReadSome(scratch, sizeof scratch) == 0)
            return Clock::now() < deadline;
    }
}

void AssembleMessages(std::string_view stream, std::size_t pieceBytes) {
    MessageAssembler assembler(kMaxProgramMessageBytes);
    while (stream.size() >= hislip::kHeaderBytes) {
        const auto header = DecodeHiSlipHeader(stream.substr(0, hislip::kHeaderBytes));
        if (!header)
            return;
        stream.remove_prefix(hislip::kHeaderBytes);
        if (header->payloadLength > stream.size())
            return;
        std::string_view payload =
            stream.substr(0, static_cast<std::size_t>(header->payloadLength));
        stream.remove_prefix(payload.size());
        if (header->type == hislip::kAsyncMaximumMessageSize)
            DecodeU64(payload);
        if (header->type != hislip::kData && header->type != hislip::kDataEnd)
            continue;
        std::vector<std::string> messages;
        do {
            const std::string_view piece =
                payload.substr(0, pieceBytes ? pieceBytes : payload.size());
            payload.remove_prefix(piece.size());
            const bool end = payload.empty() && header->type == hislip::kDataEnd;
            assembler.Append(piece, end, messages);
        } while (!payload.empty());
        for (const std::string& message : messages) {
            FUZZ_CHECK(message.size() <= kMaxProgramMessageBytes);
            MessageAssembler::HasQuery(message);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // For the whole process; its threads serve every input. Destroyed at exit, before the leak
    // check: the server stops and joins its connection threads, so none is caught mid-reply.
    static Served served;
    fuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    const std::size_t pieceBytes = input.Byte();
    const std::string_view syncScript = input.Piece();
    const std::string_view asyncScript = input.Piece();

    AssembleMessages(syncScript, pieceBytes);

    const std::uint16_t port = served.server->Port();
    TcpSocket sync = ConnectTcp("127.0.0.1", port, 1000);  // each script leaves at once
    if (!sync.Valid())
        return 0;
    TcpSocket async;
    if (settings & 1) {
        static const char* const kSubAddresses[4] = {"hislip0", "HISLIP28", "", "hislip9"};
        const std::string subAddress = kSubAddresses[(settings >> 1) & 3];
        sync.WriteAll(EncodeHiSlipMessage(hislip::kInitialize, 0,
                                          (0x0100u << 16) | ('F' << 8) | 'Z', subAddress));
        HiSlipHeader response;
        if (ReadMessage(sync, response) && response.type == hislip::kInitializeResponse) {
            async = ConnectTcp("127.0.0.1", port, 1000);
            async.WriteAll(
                EncodeHiSlipMessage(hislip::kAsyncInitialize, 0, response.parameter & 0xFFFF));
            if (!ReadMessage(async, response))
                async.Close();
        }
    } else if (settings & 8) {
        async = ConnectTcp("127.0.0.1", port, 1000);  // its opening is the script too
    }
    sync.WriteAll(syncScript);
    async.WriteAll(asyncScript);
    sync.ShutdownWrite();
    async.ShutdownWrite();
    // Both channels at once: a server writing to one must not wait on a reader of the other.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    bool asyncClosed = true;
    std::thread asyncReader([&] { asyncClosed = !async.Valid() || ClosedBy(async, deadline); });
    const bool closed = ClosedBy(sync, deadline);
    asyncReader.join();
    FUZZ_CHECK(closed && asyncClosed);
    return 0;
}
