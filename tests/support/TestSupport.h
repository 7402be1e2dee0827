// Small helpers that many tests share: time, angles, hex bytes, VISA reads and writes, and a
// program run to its end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "visa/visa.h"

#ifdef _WIN32  // the tests' setenv and unsetenv
#include <cstdlib>
#define setenv(name, value, overwrite) _putenv_s(name, value)
#define unsetenv(name) _putenv_s(name, "")
#endif

inline long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Degrees between two phases on the circle, 0 to 180.
double CircleDistance(double a, double b);

// Bytes written as hex text ("80000038 00000001 ..."), as the protocol notes print them.
std::vector<std::uint8_t> Hex(std::string_view text);

// One viWrite of the whole text.
visa::ViStatus Send(visa::ViSession vi, std::string_view text);
// One viRead of at most count bytes into text.
visa::ViStatus Read(visa::ViSession vi, std::string& text, visa::ViUInt32 count = 1000);
// Reads one whole response with reads of count bytes; the statuses of all reads.
std::vector<visa::ViStatus> ReadAll(visa::ViSession vi, visa::ViUInt32 count, std::string& text);

// Runs a shell command to its end with no input: its exit code (-1 when it did not exit) and what
// it wrote to standard output and standard error.
struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};
ProgramRun RunProgram(const std::string& command);
