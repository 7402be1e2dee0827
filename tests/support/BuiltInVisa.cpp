// Linked into every test program: the test, and every program it starts, uses the built-in
// transports whatever VISA library the machine has installed. Tests of the passthrough install
// their library themselves, or set the variable for the program they start.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool kBuiltInTransports = [] {
#ifdef _WIN32
    return _putenv_s("KORVEL_VISA_LIBRARY", "builtin") == 0;
#else
    return setenv("KORVEL_VISA_LIBRARY", "builtin", 1) == 0;
#endif
}();

}  // namespace
