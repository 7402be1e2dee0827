// KORVEL_TRACE=FILE: what every session writes and reads, in the line form of the simulator's
// traffic log with the resource string in place of the instrument name:
//   <seconds since the trace began> <resource> <'<' to the instrument | '>' from it> <text>
// plus "!" lines for an open, write or read that failed. Each line is flushed as it is written;
// any thread may write.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "visa.h"

namespace visa {

inline constexpr char kTraceSetting[] = "KORVEL_TRACE";
// A program's --trace FILE: sets the setting for the sessions opened from now on (and for any
// program it starts), so the flag and the environment variable are one thing.
void SetTraceSetting(const std::string& path);

class Trace {
public:
    // Nothing for an empty path; a message on stderr and nothing when the file cannot be opened.
    static std::shared_ptr<Trace> Open(const std::string& path);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // One line for each program message in bytes.
    void Sent(std::string_view resource, std::string_view bytes);
    // One whole reply; its final line feed is left off.
    void Received(std::string_view resource, std::string_view reply);
    // what: "open", "write" or "read"; partial: the bytes of a reply read before the failure.
    void Failed(std::string_view resource, const char* what, ViStatus status,
                std::string_view partial = {});

private:
    explicit Trace(std::FILE* file) : m_file(file) {}
    void Line(std::string_view resource, char direction, std::string_view text);

    std::mutex m_mutex;
    std::FILE* m_file;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace visa
