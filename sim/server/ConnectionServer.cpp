#include "ConnectionServer.h"

namespace sim::server {

void ConnectionServer::Start(Handler handler) {
    m_handler = std::move(handler);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

void ConnectionServer::AcceptLoop() {
    for (;;) {
        TcpSocket socket = m_listener.Accept(m_stop);
        if (!socket.Valid())
            return;
        Reap(false);
        std::lock_guard lock(m_mutex);
        if (m_connections.size() >= m_maxConnections)
            continue;  // closed as it goes
        auto connection = std::make_unique<Connection>();
        Connection* raw = connection.get();
        raw->thread = std::thread([this, raw, s = std::move(socket)]() mutable {
            m_handler(s);
            s.Close();
            raw->done = true;
        });
        m_connections.push_back(std::move(connection));
    }
}

void ConnectionServer::Reap(bool all) {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : finished)
        connection->thread.join();
}

size_t ConnectionServer::OpenConnections() {
    Reap(false);
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

void ConnectionServer::Stop() {
    m_stop.Raise();
    if (m_acceptor.joinable())
        m_acceptor.join();
    m_listener.Close();
    Reap(true);
}

}  // namespace sim::server
