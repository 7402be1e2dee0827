// HiSLIP in synchronized mode for the devices served on one address and port, each under its
// own sub-address. A session is a synchronous and an asynchronous channel tied by a session ID;
// when either closes, or either sees a header it cannot trust, both close.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ConnectionServer.h"
#include "HiSlipCodec.h"
#include "ServedDevice.h"

namespace sim::server {

struct HiSlipOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 4880;
    uint64_t maxHiSlipMessageSize = 1u << 20;  // largest message (header included) we accept
    size_t maxSessions = 32;
    size_t maxProgramMessageBytes = 16u << 20;  // an incomplete program message may not grow beyond
};

struct SubAddress {
    std::string name;  // hislip0; matched ignoring case; the first one also answers ""
    std::shared_ptr<ServedDevice> device;
};

class HiSlipServer {
public:
    HiSlipServer(HiSlipOptions options, std::vector<SubAddress> devices);
    ~HiSlipServer();
    HiSlipServer(const HiSlipServer&) = delete;
    HiSlipServer& operator=(const HiSlipServer&) = delete;

    bool Start(std::string& error);
    void Stop();
    uint16_t Port() const { return m_server.Port(); }
    size_t SessionCount() const;

private:
    struct Session;
    void Serve(TcpSocket& socket);
    void Initialize(std::shared_ptr<TcpSocket> socket, const HiSlipHeader& header);
    void AsyncInitialize(std::shared_ptr<TcpSocket> socket, const HiSlipHeader& header);
    void ServeSync(const std::shared_ptr<Session>& session);
    void ServeAsync(const std::shared_ptr<Session>& session);
    void Respond(const std::shared_ptr<Session>& session);
    // Sends a response as Data messages within the client's size and a DataEnd; false when the
    // channel failed. Nothing is sent during a device clear.
    bool SendResponse(const std::shared_ptr<Session>& session, uint32_t messageId,
                      std::string_view data);
    void HandleData(const std::shared_ptr<Session>& session, const HiSlipHeader& header,
                    std::string_view payload);
    void HandleAsync(const std::shared_ptr<Session>& session, const HiSlipHeader& header,
                     std::string_view payload);
    void ReplyAsync(Session& session, uint8_t type, uint8_t control, uint32_t parameter,
                    std::string_view data = {});
    void AsyncMaximumMessageSize(Session& session, std::string_view payload);
    void AsyncLock(Session& session, const HiSlipHeader& header, std::string_view payload);
    void AsyncDeviceClear(Session& session);
    void AsyncStatusQuery(Session& session, const HiSlipHeader& header);
    void Close(Session& session);
    // Reads one message; false when the channel must close (after a FatalError where due).
    enum class ReadOutcome { Message, Oversize, Closed };
    ReadOutcome ReadMessage(Session& session, bool sync, HiSlipHeader& header,
                            std::string& payload);

    const HiSlipOptions m_options;
    const std::vector<SubAddress> m_devices;
    ConnectionServer m_server;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::map<uint16_t, std::shared_ptr<Session>> m_sessions;
    uint16_t m_nextSessionId = 1;
    std::atomic<int> m_sharedLocks{0};
};

}  // namespace sim::server
