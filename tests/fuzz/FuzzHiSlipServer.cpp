// The simulator's HiSLIP side over whatever a client sends. First the pieces alone: the
// synchronous script is walked as a message stream, and the payloads of its Data and DataEnd
// messages go through the program message assembler in the pieces TCP might deliver. Then the
// server itself, on loopback with the simulated analyzer and a generator behind it: the client
// opens a session properly (or sends the script as its opening), writes both scripts, closes
// its sides and reads until the server has closed both channels, which it must, promptly.
// System calls interrupted by libFuzzer's timer signal (EINTR) are repeated.
//
// Input: settings, a piece size, the synchronous and the asynchronous script as pieces.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "sim/core/Bench.h"
#include "sim/server/HiSlipCodec.h"
#include "sim/server/HiSlipServer.h"
#include "sim/server/MessageAssembler.h"
#include "sim/server/ServedDevice.h"

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

int Connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const int one = 1;  // each script leaves at once, as from a real client
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Send(int fd, std::string_view bytes) {
    while (fd >= 0 && !bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Exactly n bytes within deadline; false when the server closed first or the time ran out.
bool ReadExact(int fd, char* out, std::size_t n, std::chrono::steady_clock::time_point deadline) {
    for (std::size_t got = 0; got < n;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t r = ::recv(fd, out + got, n - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// One whole message from the server, or false when it closed or took more than a second.
bool ReadMessage(int fd, HiSlipHeader& header) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::string bytes(hislip::kHeaderBytes, '\0');
    if (!ReadExact(fd, bytes.data(), bytes.size(), deadline))
        return false;
    const auto decoded = DecodeHiSlipHeader(bytes);
    if (!decoded || decoded->payloadLength > 4096)
        return false;
    header = *decoded;
    std::string payload(static_cast<std::size_t>(header.payloadLength), '\0');
    return ReadExact(fd, payload.data(), payload.size(), deadline);
}

// Reads both channels until the server has closed them; false when it has not within 5 s.
bool DrainUntilClosed(int sync, int async) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<int> open;
    for (int fd : {sync, async}) {
        if (fd >= 0)
            open.push_back(fd);
    }
    while (!open.empty()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::vector<pollfd> waits;
        for (int fd : open)
            waits.push_back(pollfd{fd, POLLIN, 0});
        const int ready = ::poll(waits.data(), waits.size(), 100);
        if (ready < 0 && errno != EINTR)
            return false;
        for (const pollfd& w : waits) {
            if (ready <= 0 || !w.revents)
                continue;
            char scratch[4096];
            const ssize_t n = ::recv(w.fd, scratch, sizeof scratch, 0);
            if (n == 0 || (n < 0 && errno != EINTR))
                std::erase(open, w.fd);
        }
    }
    return true;
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
    const int sync = Connect(port);
    if (sync < 0)
        return 0;
    int async = -1;
    if (settings & 1) {
        static const char* const kSubAddresses[4] = {"hislip0", "HISLIP28", "", "hislip9"};
        const std::string subAddress = kSubAddresses[(settings >> 1) & 3];
        Send(sync, EncodeHiSlipMessage(hislip::kInitialize, 0, (0x0100u << 16) | ('F' << 8) | 'Z',
                                       subAddress));
        HiSlipHeader response;
        if (ReadMessage(sync, response) && response.type == hislip::kInitializeResponse) {
            async = Connect(port);
            Send(async,
                 EncodeHiSlipMessage(hislip::kAsyncInitialize, 0, response.parameter & 0xFFFF));
            if (!ReadMessage(async, response)) {
                ::close(async);
                async = -1;
            }
        }
    } else if (settings & 8) {
        async = Connect(port);  // the asynchronous channel's opening is the script too
    }
    Send(sync, syncScript);
    Send(async, asyncScript);
    ::shutdown(sync, SHUT_WR);
    if (async >= 0)
        ::shutdown(async, SHUT_WR);
    const bool closed = DrainUntilClosed(sync, async);
    ::close(sync);
    if (async >= 0)
        ::close(async);
    FUZZ_CHECK(closed);
    return 0;
}
