// Accepts TCP connections on one address and serves each on its own thread, so that a client
// that blocks (a read waiting for a slow instrument) never holds up another. Connections beyond
// the limit are closed at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Socket.h"

namespace sim::server {

class ConnectionServer {
public:
    using Handler = std::function<void(TcpSocket&)>;
    explicit ConnectionServer(size_t maxConnections) : m_maxConnections(maxConnections) {}
    ~ConnectionServer() { Stop(); }
    ConnectionServer(const ConnectionServer&) = delete;
    ConnectionServer& operator=(const ConnectionServer&) = delete;

    bool Listen(const std::string& address, uint16_t port, std::string& error) {
        return m_listener.Listen(address, port, error);
    }
    uint16_t Port() const { return m_listener.Port(); }
    // Starts accepting; handler runs once per connection on that connection's thread.
    void Start(Handler handler);
    // Raises the stop signal: every socket wait of every connection returns.
    void RaiseStop() { m_stop.Raise(); }
    // Raises the stop signal and joins every thread.
    void Stop();
    const StopSignal& Signal() const { return m_stop; }
    size_t OpenConnections();

private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void AcceptLoop();
    void Reap(bool all);

    size_t m_maxConnections;
    StopSignal m_stop;
    TcpListener m_listener;
    Handler m_handler;
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

}  // namespace sim::server
