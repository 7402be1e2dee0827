// Raw-byte clients for the server tests: ONC RPC calls and HiSLIP messages written and read with
// the codecs under test, over real loopback sockets with bounded waits.
#pragma once

#include <atomic>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "sim/server/HiSlipCodec.h"
#include "sim/server/OncRpc.h"
#include "sim/server/Socket.h"
#include "sim/server/Vxi11Codec.h"
#include "sim/server/Xdr.h"
#include "visa/InProcess.h"

#include "tests/support/ScriptedInstrument.h"

namespace testing_support {

using namespace sim::server;

constexpr int kWaitMs = 5000;  // no test waits longer for a byte

struct RpcReply {
    uint32_t xid = 0;
    uint32_t replyStat = 0;
    uint32_t acceptStat = 0;
    std::string results;
};

class RpcClient {
public:
    bool Connect(const std::string& address, uint16_t port) {
        socket = ConnectTcp(address, port, kWaitMs);
        socket.SetReadTimeoutMs(kWaitMs);
        return socket.Valid();
    }
    bool SendRecord(std::string_view body) { return socket.WriteAll(EncodeRecord(body)); }
    // One record, its fragments joined; nothing when the stream ends or announces too much.
    std::optional<std::string> ReadRecord() {
        std::string record;
        for (;;) {
            char mark[4];
            if (!socket.ReadExact(mark, 4))
                return {};
            const uint32_t word = XdrReader({mark, 4}).GetU32();
            std::string fragment(word & 0x7FFFFFFFu, '\0');
            if (record.size() + fragment.size() > (1u << 24) ||
                !socket.ReadExact(fragment.data(), fragment.size())) {
                return {};
            }
            record += fragment;
            if (word & 0x80000000u)
                return record;
        }
    }
    static std::string CallBody(uint32_t xid, uint32_t program, uint32_t version,
                                uint32_t procedure, std::string_view args) {
        XdrWriter w;
        for (uint32_t word : {xid, 0u, 2u, program, version, procedure, 0u, 0u, 0u, 0u}) {
            w.PutU32(word);
        }
        return w.Take() + std::string(args);
    }
    std::optional<RpcReply> Call(uint32_t program, uint32_t version, uint32_t procedure,
                                 std::string_view args) {
        const uint32_t xid = ++m_xid;
        if (!SendRecord(CallBody(xid, program, version, procedure, args)))
            return std::nullopt;
        const auto record = ReadRecord();
        if (!record)
            return std::nullopt;
        return Parse(*record);
    }
    static std::optional<RpcReply> Parse(std::string_view record) {
        XdrReader r(record);
        RpcReply reply;
        reply.xid = r.GetU32();
        const uint32_t type = r.GetU32();
        reply.replyStat = r.GetU32();
        if (reply.replyStat == 0) {
            r.GetU32();  // verifier flavor
            r.GetOpaque(400);
        }
        reply.acceptStat = r.GetU32();
        if (!r.Ok() || type != 1)
            return std::nullopt;
        reply.results = std::string(r.Rest());
        return reply;
    }
    // True when the server has closed the connection (within the wait).
    bool ClosedByServer() {
        char byte;
        return socket.ReadSome(&byte, 1) == 0;
    }

    TcpSocket socket;

private:
    uint32_t m_xid = 100;
};

struct LinkReply {
    int32_t error = -1;
    int32_t lid = -1;
    uint32_t abortPort = 0;
    uint32_t maxRecvSize = 0;
};
struct WriteReply {
    int32_t error = -1;
    uint32_t size = 0;
};
struct ReadReply {
    int32_t error = -1;
    int32_t reason = 0;
    std::string data;
};

// A core call of these XDR words, with opaque bytes after them when given: the results of the
// reply, or nothing when no accepted reply came.
inline std::optional<std::string> CoreCall(RpcClient& c, uint32_t procedure,
                                           std::initializer_list<uint32_t> words,
                                           std::optional<std::string_view> bytes = {}) {
    XdrWriter w;
    for (uint32_t word : words)
        w.PutU32(word);
    if (bytes)
        w.PutOpaque(*bytes);
    const auto reply = c.Call(vxi11::kCoreProgram, 1, procedure, w.Bytes());
    if (!reply || reply->acceptStat != 0)
        return std::nullopt;
    return reply->results;
}

inline std::optional<LinkReply> CreateLink(RpcClient& c, const std::string& device,
                                           bool lock = false, uint32_t lockTimeoutMs = 0) {
    const auto results = CoreCall(c, vxi11::kCreateLink, {7, lock, lockTimeoutMs}, device);
    if (!results)
        return std::nullopt;
    XdrReader r(*results);
    LinkReply link;
    link.error = r.GetI32();
    link.lid = r.GetI32();
    link.abortPort = r.GetU32();
    link.maxRecvSize = r.GetU32();
    return link;
}

inline std::optional<WriteReply> DeviceWrite(RpcClient& c, int32_t lid, std::string_view data,
                                             int32_t flags = vxi11::kFlagEnd,
                                             uint32_t ioTimeoutMs = 2000,
                                             uint32_t lockTimeoutMs = 0) {
    const auto results = CoreCall(
        c, vxi11::kDeviceWrite, {uint32_t(lid), ioTimeoutMs, lockTimeoutMs, uint32_t(flags)}, data);
    if (!results)
        return std::nullopt;
    XdrReader r(*results);
    WriteReply out;
    out.error = r.GetI32();
    out.size = r.GetU32();
    return out;
}

inline std::optional<ReadReply> DeviceRead(RpcClient& c, int32_t lid, uint32_t requestSize,
                                           uint32_t ioTimeoutMs = 2000, int32_t flags = 0,
                                           char termChar = 0) {
    const auto results = CoreCall(c, vxi11::kDeviceRead,
                                  {uint32_t(lid), requestSize, ioTimeoutMs, 0, uint32_t(flags),
                                   static_cast<uint8_t>(termChar)});
    if (!results)
        return std::nullopt;
    XdrReader r(*results);
    ReadReply out;
    out.error = r.GetI32();
    out.reason = r.GetI32();
    out.data = r.GetOpaque(1 << 24);
    return out;
}

// A core call whose results are a Device_Error; -1 when no accepted reply came.
inline int32_t ErrorCall(RpcClient& c, uint32_t procedure, std::initializer_list<uint32_t> words) {
    const auto results = CoreCall(c, procedure, words);
    int32_t error = -1;
    if (results)
        error = XdrReader(*results).GetI32();
    return error;
}
// Calls taking a Device_Link (destroy_link, device_unlock), the generic parameters, or a lock.
inline int32_t LinkCall(RpcClient& c, uint32_t procedure, int32_t lid) {
    return ErrorCall(c, procedure, {uint32_t(lid)});
}
inline int32_t GenericCall(RpcClient& c, uint32_t procedure, int32_t lid) {
    return ErrorCall(c, procedure, {uint32_t(lid), 0, 0, 1000});
}
inline int32_t LockCall(RpcClient& c, int32_t lid, int32_t flags, uint32_t lockTimeoutMs) {
    return ErrorCall(c, vxi11::kDeviceLock, {uint32_t(lid), uint32_t(flags), lockTimeoutMs});
}

struct HiSlipMessage {
    HiSlipHeader header;
    std::string payload;
};

class HiSlipClient {
public:
    TcpSocket sync;
    TcpSocket async;
    uint16_t sessionId = 0;
    uint32_t messageId = hislip::kInitialMessageId;

    bool Connect(TcpSocket& socket, const std::string& address, uint16_t port) {
        socket = ConnectTcp(address, port, kWaitMs);
        socket.SetReadTimeoutMs(kWaitMs);
        return socket.Valid();
    }
    static bool Send(TcpSocket& socket, uint8_t type, uint8_t control, uint32_t parameter,
                     std::string_view payload = {}) {
        return socket.WriteAll(EncodeHiSlipMessage(type, control, parameter, payload));
    }
    static std::optional<HiSlipMessage> Receive(TcpSocket& socket) {
        std::string head(hislip::kHeaderBytes, '\0');
        if (!socket.ReadExact(head.data(), head.size()))
            return std::nullopt;
        const auto header = DecodeHiSlipHeader(head);
        if (!header || header->payloadLength > (1u << 24))
            return std::nullopt;
        HiSlipMessage message{*header, std::string(header->payloadLength, '\0')};
        if (!socket.ReadExact(message.payload.data(), message.payload.size()))
            return std::nullopt;
        return message;
    }
    // The whole opening sequence; the maximum message size is negotiated when given.
    bool Open(const std::string& address, uint16_t port, const std::string& subAddress,
              std::optional<uint64_t> maxMessage = 1u << 20) {
        if (!Connect(sync, address, port) ||
            !Send(sync, hislip::kInitialize, 0, 0x01005858, subAddress)) {
            return false;
        }
        const auto response = Receive(sync);
        if (!response || response->header.type != hislip::kInitializeResponse)
            return false;
        sessionId = static_cast<uint16_t>(response->header.parameter & 0xFFFF);
        if (!Connect(async, address, port) ||
            !Send(async, hislip::kAsyncInitialize, 0, sessionId)) {
            return false;
        }
        const auto asyncResponse = Receive(async);
        if (!asyncResponse || asyncResponse->header.type != hislip::kAsyncInitializeResponse) {
            return false;
        }
        if (!maxMessage)
            return true;
        Send(async, hislip::kAsyncMaximumMessageSize, 0, 0, EncodeU64(*maxMessage));
        const auto size = Receive(async);
        return size && size->header.type == hislip::kAsyncMaximumMessageSizeResponse;
    }
    // Sends one program message as a DataEnd and advances the MessageID.
    uint32_t Write(std::string_view message, uint8_t control = 0) {
        const uint32_t id = messageId;
        Send(sync, hislip::kDataEnd, control, id, message);
        messageId += 2;
        return id;
    }
    // Collects Data messages up to the DataEnd; the IDs seen go to `ids`.
    std::optional<std::string> ReadResponse(std::vector<uint32_t>* ids = nullptr) {
        std::string data;
        for (;;) {
            const auto message = Receive(sync);
            if (!message)
                return std::nullopt;
            if (message->header.type != hislip::kData && message->header.type != hislip::kDataEnd) {
                return std::nullopt;
            }
            if (ids)
                ids->push_back(message->header.parameter);
            data += message->payload;
            if (message->header.type == hislip::kDataEnd)
                return data;
        }
    }
};

// A scripted instrument that counts device clears and can refuse links.
class FaultyInstrument : public ScriptedInstrument {
public:
    std::atomic<bool> acceptsLink{true};
    std::atomic<int> clears{0};

    void Clear() override { ++clears; }
    bool AcceptsLink() override { return acceptsLink; }
};

}  // namespace testing_support
