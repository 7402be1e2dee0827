// Test-only: where the network transports look for servers. The application never includes
// this header and has no command line or configuration that reaches it; tests use it to run
// the simulator on unprivileged ports that cannot collide with a system portmapper.
#pragma once

#include <cstdint>

#include "ResourceName.h"

namespace visa {

struct TestPorts {
    std::uint16_t portmapperPort = 111;
    std::uint16_t vxi11CorePort =
        0;  // non-zero: connect the core channel here, skip the portmapper
    std::uint16_t hislipDefaultPort = kHiSlipDefaultPort;  // for names without ",port"
};

// Installs ports for every later viOpen; returns the previous ones.
TestPorts SetTestPorts(const TestPorts& ports);
TestPorts GetTestPorts();

// Restores the previous ports when it goes out of scope.
class ScopedTestPorts {
public:
    explicit ScopedTestPorts(const TestPorts& ports) : m_previous(SetTestPorts(ports)) {}
    ~ScopedTestPorts() { SetTestPorts(m_previous); }
    ScopedTestPorts(const ScopedTestPorts&) = delete;
    ScopedTestPorts& operator=(const ScopedTestPorts&) = delete;

private:
    TestPorts m_previous;
};

}  // namespace visa
