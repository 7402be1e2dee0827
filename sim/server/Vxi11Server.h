// The VXI-11 core and abort channels for the devices served on one address. Links live in one
// table for the whole server (a client may use a link from a second connection); the links of a
// connection that closes are destroyed and their locks released.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ConnectionServer.h"
#include "ServedDevice.h"

namespace sim::server {

struct Vxi11Options {
    std::string address = "127.0.0.1";
    uint16_t corePort = 0;   // 0: ephemeral
    uint16_t abortPort = 0;  // 0: ephemeral
    uint32_t maxRecvSize = 65536;
    size_t readChunkLimit = 0;  // largest device_read reply; 0: only requestSize limits it
    size_t maxLinksPerDevice = 16;
    size_t maxConnections = 64;
    size_t maxProgramMessageBytes = 16u << 20;  // an incomplete program message may not grow beyond
};

struct NamedDevice {
    std::string name;  // the device name clients link to (inst0, gpib0,28), any case
    std::shared_ptr<ServedDevice> device;
};

class Vxi11Server {
public:
    Vxi11Server(Vxi11Options options, std::vector<NamedDevice> devices);
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    bool Start(std::string& error);
    void Stop();
    uint16_t CorePort() const { return m_core.Port(); }
    uint16_t AbortPort() const { return m_abort.Port(); }
    size_t LinkCount() const;

    // Handles one call record; `drop` is set when the connection must close after the reply.
    // Public so that tests can drive the dispatcher without sockets; connectionId names the
    // connection that owns links created by this call.
    std::string HandleCoreRecord(std::string_view record, uint64_t connectionId, bool& drop);

private:
    struct Link;
    // What a procedure answers: its results, GARBAGE_ARGS or PROC_UNAVAIL, and whether the
    // connection closes after the reply.
    struct CallResult {
        enum class Kind { Results, GarbageArgs, ProcUnavail };
        CallResult(std::string results, bool drop = false)
            : kind(Kind::Results), results(std::move(results)), drop(drop) {}
        explicit CallResult(Kind kind) : kind(kind) {}
        Kind kind;
        std::string results;
        bool drop = false;
    };
    CallResult Dispatch(uint32_t procedure, std::string_view args, uint64_t connectionId);
    CallResult CreateLink(std::string_view args, uint64_t connectionId);
    CallResult DeviceWrite(std::string_view args);
    CallResult DeviceRead(std::string_view args);
    // device_readstb, device_trigger, device_clear, device_remote, device_local.
    CallResult DeviceGeneric(uint32_t procedure, std::string_view args);
    CallResult DeviceLock(std::string_view args);
    CallResult DeviceUnlock(std::string_view args);
    CallResult DeviceEnableSrq(std::string_view args);
    CallResult DeviceDocmd(std::string_view args);
    CallResult DestroyLink(std::string_view args);
    std::shared_ptr<Link> FindLink(int32_t lid) const;
    // 0 when the call may go ahead, else the error to answer.
    int32_t CheckLock(Link& link, int32_t flags, uint32_t lockTimeoutMs);
    void DestroyLinksOf(uint64_t connectionId);
    void ServeCore(TcpSocket& socket);
    void ServeAbort(TcpSocket& socket);
    std::string HandleAbortRecord(std::string_view record, bool& close);

    const Vxi11Options m_options;
    const std::vector<NamedDevice> m_devices;
    ConnectionServer m_core;
    ConnectionServer m_abort;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_nextConnection{1};
    mutable std::mutex m_mutex;
    std::map<int32_t, std::shared_ptr<Link>> m_links;
    int32_t m_nextLid = 0;
};

}  // namespace sim::server
