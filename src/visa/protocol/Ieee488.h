// IEEE 488.2 status byte and standard event status register bits, shared by the simulated
// instruments, the simulator's servers and the client.
#pragma once

#include <cstdint>

namespace visa::protocol::ieee488 {

// Status byte (*STB?, serial poll, HiSLIP AsyncStatusResponse).
constexpr std::uint8_t kStbErrorQueue = 0x04;  // SCPI: the error queue is not empty
constexpr std::uint8_t kStbMav = 0x10;         // message available
constexpr std::uint8_t kStbEsb = 0x20;         // an enabled standard event is set
constexpr std::uint8_t kStbRqs = 0x40;         // request service (MSS for *STB?)

// Standard event status register (*ESR?).
constexpr std::uint8_t kEsrOpc = 0x01;  // operation complete
constexpr std::uint8_t kEsrRqc = 0x02;  // request control
constexpr std::uint8_t kEsrQye = 0x04;  // query error
constexpr std::uint8_t kEsrDde = 0x08;  // device-dependent error
constexpr std::uint8_t kEsrExe = 0x10;  // execution error
constexpr std::uint8_t kEsrCme = 0x20;  // command error
constexpr std::uint8_t kEsrUrq = 0x40;  // user request
constexpr std::uint8_t kEsrPon = 0x80;  // power on

}  // namespace visa::protocol::ieee488
