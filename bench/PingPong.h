// The floor of every network row: plain request/response over TCP on loopback between this
// process and a child forked for it, nothing on either side but one send and the receives the
// bytes take. The child answers each request with as many bytes as the request asks for.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

class PingPong {
public:
    struct Exchange {
        std::uint32_t requestBytes = 0;  // at least 8: the request carries both sizes
        std::uint32_t responseBytes = 0;
    };

    PingPong() = default;
    ~PingPong();
    PingPong(const PingPong&) = delete;
    PingPong& operator=(const PingPong&) = delete;

    // Forks the answering child and connects to it. Call before any thread is started.
    bool Start();
    // Runs the exchanges once, in order; false when the child is gone.
    bool Run(const std::vector<Exchange>& exchanges);
    void Stop();

private:
    pid_t m_child = -1;
    int m_socket = -1;
    std::vector<char> m_request;
    std::vector<char> m_response;
};
