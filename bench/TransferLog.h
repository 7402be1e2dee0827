// Sizes of what a procedure writes and reads, taken from the VISA layer: installed in front of
// the network connectors, every session opened afterwards reports its writes and reads here
// while recording is on. The benchmark turns them into the exchanges its floor replays.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "PingPong.h"
#include "visa/Transport.h"

class TransferLog {
public:
    struct Transfer {
        bool write = false;
        std::uint32_t bytes = 0;
    };

    // Wraps the present VXI-11 and HiSLIP connectors; the log must outlive every session.
    void Install();
    void Record(bool on) { m_recording = on; }
    void Clear() { m_transfers.clear(); }
    bool Recording() const { return m_recording; }
    void Add(bool write, std::uint32_t bytes) { m_transfers.push_back({write, bytes}); }
    const std::vector<Transfer>& Transfers() const { return m_transfers; }

    // One ONC RPC per write and per read (device_write, device_read), sized as our client
    // encodes them, replies included.
    std::vector<PingPong::Exchange> Vxi11Exchanges() const;
    // One exchange per message sent: a query's with its response, a command's with an empty
    // message back.
    std::vector<PingPong::Exchange> HiSlipExchanges() const;

private:
    std::vector<Transfer> m_transfers;
    bool m_recording = false;
};
