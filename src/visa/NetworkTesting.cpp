#include "NetworkTesting.h"

#include <mutex>

namespace visa {
namespace {

std::mutex& PortsMutex() {
    static std::mutex mutex;
    return mutex;
}

TestPorts& Ports() {
    static TestPorts ports;
    return ports;
}

}  // namespace

TestPorts SetTestPorts(const TestPorts& ports) {
    std::lock_guard lock(PortsMutex());
    TestPorts previous = Ports();
    Ports() = ports;
    return previous;
}

TestPorts GetTestPorts() {
    std::lock_guard lock(PortsMutex());
    return Ports();
}

}  // namespace visa
