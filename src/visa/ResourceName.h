// VISA resource names (TCPIP INSTR and GPIB INSTR), parsed once into typed values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "visa.h"

namespace visa {

enum class InterfaceKind { Tcpip, Gpib };
enum class TcpipProtocol { Vxi11, HiSlip };

constexpr std::uint16_t kHiSlipDefaultPort = 4880;
constexpr int kNoSecondaryAddress = -1;

struct ResourceName {
    InterfaceKind kind = InterfaceKind::Tcpip;
    std::uint16_t board = 0;

    // TCPIP: host as typed (an IPv6 literal keeps its brackets), LAN device name as typed.
    std::string host;
    std::string deviceName = "inst0";
    TcpipProtocol protocol = TcpipProtocol::Vxi11;
    std::string hislipSubAddress;  // the device name before the comma
    std::uint16_t hislipPort = kHiSlipDefaultPort;

    // GPIB
    int primaryAddress = 0;
    int secondaryAddress = kNoSecondaryAddress;

    // TCPIP<board>::<host>::<device>::INSTR or GPIB<board>::<primary>[::<secondary>]::INSTR
    std::string Canonical() const;
    // The host without IPv6 brackets, as handed to the resolver.
    std::string ResolverHost() const;
};

struct ResourceParse {
    ViStatus status = VI_ERROR_INV_RSRC_NAME;  // VI_SUCCESS, VI_ERROR_INV_RSRC_NAME or
                                               // VI_ERROR_RSRC_NFOUND (valid but not servable)
    ResourceName name;
};

ResourceParse ParseResourceName(std::string_view text);

}  // namespace visa
