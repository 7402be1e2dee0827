#include "TestSupport.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

double CircleDistance(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

std::vector<std::uint8_t> Hex(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    }
    std::vector<std::uint8_t> bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

visa::ViStatus Send(visa::ViSession vi, std::string_view text) {
    visa::ViUInt32 n = 0;
    return visa::viWrite(vi, reinterpret_cast<visa::ViConstBuf>(text.data()),
                         static_cast<visa::ViUInt32>(text.size()), &n);
}

visa::ViStatus Read(visa::ViSession vi, std::string& text, visa::ViUInt32 count) {
    std::vector<visa::ViByte> buffer(count);
    visa::ViUInt32 n = 0;
    const visa::ViStatus status = visa::viRead(vi, buffer.data(), count, &n);
    text.assign(reinterpret_cast<char*>(buffer.data()), n);
    return status;
}

std::vector<visa::ViStatus> ReadAll(visa::ViSession vi, visa::ViUInt32 count, std::string& text) {
    std::vector<visa::ViStatus> statuses;
    std::string piece;
    text.clear();
    do {
        statuses.push_back(Read(vi, piece, count));
        text += piece;
    } while (statuses.back() == visa::VI_SUCCESS_MAX_CNT && statuses.size() < 1000);
    return statuses;
}

#ifndef _WIN32  // a POSIX shell
ProgramRun RunProgram(const std::string& command) {
    ProgramRun run;
    char errPath[] = "/tmp/korvel-test-stderr-XXXXXX";
    const int errFile = ::mkstemp(errPath);
    if (errFile < 0)
        return run;
    ::close(errFile);
    if (FILE* pipe = popen(("(" + command + ") </dev/null 2>" + errPath).c_str(), "r")) {
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            run.out.append(buffer, n);
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ostringstream err;
    err << std::ifstream(errPath).rdbuf();
    run.err = err.str();
    std::remove(errPath);
    return run;
}
#endif
