// korvel-scpi RESOURCE [COMMAND ...]: talk to one instrument the way Korvel does, to check a
// bench before starting the program.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "ScpiConsole.h"
#include "visa/Trace.h"
#include "visa/VendorLibrary.h"

#ifdef _WIN32
#include <io.h>
#define KORVEL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KORVEL_ISATTY(fd) isatty(fd)
#endif

using namespace korvel;

int main(int argc, char** argv) {
    CLI::App app{
        "Sends SCPI commands to one instrument through Korvel's own session code and\n"
        "prints the reply of each query (a command containing '?'). Exits with 1 and a\n"
        "message on standard error when the open, a write or a read fails."};
    app.name("korvel-scpi");
    ScpiConsoleOptions options;
    std::uint32_t timeoutMs = 0;
    app.add_option("RESOURCE", options.resource,
                   "As typed into Korvel: a GPIB address (28), a host or IP\n"
                   "address, or a resource name (TCPIP::host::hislip0::INSTR)")
        ->required();
    app.add_option("COMMAND", options.commands,
                   "Sent in order; - reads commands line by line from\n"
                   "standard input (with a prompt on a terminal)");
    auto* timeout = app.add_option("--timeout", timeoutMs,
                                   "I/O timeout of the commands in milliseconds (default\n"
                                   "10000 as in Korvel; the identification at open uses 2000)")
                        ->type_name("MS");
    std::string trace;
    app.add_option("--trace", trace, "Write every message and reply to FILE (as KORVEL_TRACE)")
        ->type_name("FILE");
    app.footer(
        "Examples:\n"
        "  korvel-scpi 28 '*IDN?'\n"
        "  korvel-scpi TCPIP::127.0.0.20::INSTR 'FREQ:CENT 1000000000' 'CALC1:MARK1:Y?'\n"
        "  korvel-scpi 192.168.0.10 -");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kConsoleOk : kConsoleUsage;
    }
    if (*timeout)
        options.timeoutMs = timeoutMs;
    // Sessions read the setting when they open; the flag wins over the environment.
    if (!trace.empty())
        visa::SetTraceSetting(trace);
    // The VISA layer's one line about the library it uses (or could not load) goes to standard
    // error.
    visa::SetNoticeSink(
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    return RunScpiConsole(options, std::cin, KORVEL_ISATTY(0) != 0, std::cout, std::cerr);
}
