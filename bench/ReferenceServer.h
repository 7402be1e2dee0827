// The least a server can do: a child process that answers VXI-11 core calls and HiSLIP messages
// at once, from one thread, with a fixed reply to every query. A client's query against it
// costs the floor plus the client's own time, which separates the client from the simulator in
// the table.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

class ReferenceServer {
public:
    ReferenceServer() = default;
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    // Forks the server on 127.0.0.1 (two ephemeral ports); reply answers every query. Call
    // before any thread is started.
    bool Start(const std::string& reply);
    void Stop();
    std::uint16_t Vxi11Port() const { return m_vxi11Port; }
    std::uint16_t HiSlipPort() const { return m_hislipPort; }

private:
    pid_t m_child = -1;
    std::uint16_t m_vxi11Port = 0;
    std::uint16_t m_hislipPort = 0;
};
