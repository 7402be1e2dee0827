// The simulator's own portmapper on one address, over TCP and UDP: version 2 GETPORT for the
// VXI-11 programs, and rpcbind versions 3 and 4 GETADDR, which libtirpc-based clients ask first.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ConnectionServer.h"
#include "Socket.h"
#include "Vxi11Codec.h"

namespace sim::server {

// Answers one call record; nothing when no answer is due (not a call) and `malformed` set when
// the record does not even decode as a call. hostAddress is the address put into universal
// addresses (the one the client reached).
std::string AnswerPortmapCall(std::string_view record, const std::vector<PortMapping>& mappings,
                              const std::string& hostAddress, bool& malformed);

class Portmapper {
public:
    Portmapper(std::string address, uint16_t port, std::vector<PortMapping> mappings);
    ~Portmapper();
    Portmapper(const Portmapper&) = delete;
    Portmapper& operator=(const Portmapper&) = delete;

    bool Start(std::string& error);
    void Stop();
    uint16_t Port() const { return m_tcp.Port(); }

private:
    void ServeTcp(TcpSocket& socket);
    void ServeUdp();

    const std::string m_address;
    const uint16_t m_port;
    const std::vector<PortMapping> m_mappings;
    ConnectionServer m_tcp{32};
    UdpSocket m_udp;
    std::thread m_udpThread;
};

// Registration with a portmapper already running on this machine (for when port 111 is taken):
// version 2 SET / UNSET over TCP to 127.0.0.1:port. False when it cannot be reached or refuses.
bool RegisterWithPortmapper(const PortMapping& mapping, uint16_t portmapperPort,
                            std::string& error);
void UnregisterFromPortmapper(const PortMapping& mapping, uint16_t portmapperPort);

}  // namespace sim::server
