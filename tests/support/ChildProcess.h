// A program run beside a test or the benchmark (the simulator, the Python client, the window) with
// pipes to its standard input and output, stopped with SIGTERM when the object goes.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with extra environment entries ("NAME=value"); false when it
    // cannot be started. Standard error is left to our own.
    bool Start(const std::vector<std::string>& argv,
               const std::vector<std::string>& environment = {});
    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    // One line of output without its line feed, or nothing at end of output or after timeout.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    bool WriteLine(const std::string& line);

    // SIGTERM, then SIGKILL after grace; the exit status (-1 when killed) and the child's
    // resource usage (peak memory in ru_maxrss).
    int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Waits for the child to end by itself.
    int Wait(std::chrono::milliseconds timeout);
    const rusage& Usage() const { return m_usage; }

private:
    int Reap(bool block);

    pid_t m_pid = -1;
    int m_in = -1;   // the child's standard input
    int m_out = -1;  // its standard output
    std::string m_pending;
    rusage m_usage{};
    int m_status = -1;
};
