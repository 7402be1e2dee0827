// Real sockets on 127.0.0.1 for the session targets: the client under test runs on the fuzzing
// thread, a scripted peer on a thread of its own, on the simulator's sockets (they repeat system
// calls interrupted by libFuzzer's timer signal). Every wait of the peer ends once the client is
// done, so an input never waits for a timeout. Each input listens afresh: a connection the peer
// never took goes with its listener instead of meeting the next input's script.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "FuzzInput.h"
#include "sim/server/Socket.h"

namespace fuzz {

using sim::server::TcpSocket;

class LoopbackPeer {
public:
    // The next connection, or an invalid socket once the client is done without one.
    TcpSocket Accept() { return m_listener.Accept(m_clientDone); }
    // Reads and drops what the client sends until it closes or is done.
    static void Drain(TcpSocket& socket) { socket.Skip(UINT64_MAX); }

    // Runs script on a peer thread while client runs here, given the port to connect to.
    static void Run(const std::function<void(LoopbackPeer&)>& script,
                    const std::function<void(std::uint16_t port)>& client) {
        LoopbackPeer peer;
        std::string error;
        FUZZ_CHECK(peer.m_listener.Listen("127.0.0.1", 0, error));
        std::thread thread([&] { script(peer); });
        client(peer.m_listener.Port());
        peer.m_clientDone.Raise();
        thread.join();
    }

private:
    sim::server::TcpListener m_listener;
    sim::server::StopSignal m_clientDone;
};

}  // namespace fuzz
