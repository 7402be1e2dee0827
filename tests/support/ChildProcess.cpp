#include "ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

ChildProcess::~ChildProcess() {
    if (m_pid > 0)
        Stop();
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    int input[2];
    int output[2];
    if (::pipe(input) != 0)
        return false;
    if (::pipe(output) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        for (int fd : {input[0], input[1], output[0], output[1]})
            ::close(fd);
        for (const std::string& entry : environment)
            ::putenv(const_cast<char*>(entry.c_str()));
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    if (pid < 0) {
        ::close(input[1]);
        ::close(output[0]);
        return false;
    }
    m_pid = pid;
    m_in = input[1];
    m_out = output[0];
    m_pending.clear();
    return true;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_out < 0 || left.count() <= 0)
            return std::nullopt;
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return std::nullopt;
        m_pending.append(chunk, static_cast<size_t>(n));
    }
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (m_in < 0)
        return false;
    const std::string bytes = line + "\n";
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(m_in, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int ChildProcess::Reap(bool block) {
    int status = 0;
    const pid_t done = ::wait4(m_pid, &status, block ? 0 : WNOHANG, &m_usage);
    if (done != m_pid)
        return -2;  // still running
    m_pid = -1;
    for (int* fd : {&m_in, &m_out}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_status;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0) {
        if (Reap(false) != -2)
            return m_status;
        if (std::chrono::steady_clock::now() > deadline)
            return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (m_pid <= 0)
        return m_status;
    if (m_in >= 0) {
        ::close(m_in);  // a child reading commands ends at the end of its input
        m_in = -1;
    }
    ::kill(m_pid, SIGTERM);
    if (Wait(grace) != -2)
        return m_status;
    ::kill(m_pid, SIGKILL);
    Reap(true);
    return m_status;
}
