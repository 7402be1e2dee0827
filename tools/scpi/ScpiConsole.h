// The work of korvel-scpi, apart from its command line: open one instrument as Korvel does, send
// each command, print the reply of each query. Streams are parameters so tests can drive it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

struct ScpiConsoleOptions {
    std::string resource;               // as typed: "28", "192.168.0.10", or a full resource name
    std::vector<std::string> commands;  // "-" reads commands from the input stream, one per line
    std::optional<std::uint32_t> timeoutMs;  // I/O timeout for the commands; Korvel's when absent
};

constexpr int kConsoleOk = 0;
constexpr int kConsoleFailed = 1;  // the open, a write or a read failed (message on err)
constexpr int kConsoleUsage = 2;   // the command line is wrong

// With interactive, a prompt is written to out before each line read from in.
int RunScpiConsole(const ScpiConsoleOptions& options, std::istream& in, bool interactive,
                   std::ostream& out, std::ostream& err);

}  // namespace korvel
