// A stand-in for an installed VISA library: the six C functions, a journal of every call appended
// to the file named by FAKE_VISA_JOURNAL, and one instrument per session that answers each query
// with "<resource>;<query>" and *IDN? with an identification. Built without viRead when
// FAKE_VISA_WITHOUT_READ is defined.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "visa/visa.h"

namespace {

using visa::ViStatus;
using Handle = std::uint32_t;

struct FakeSession {
    std::string resource;
    std::string pending;
};

// Our layer refuses unknown handles before calling here, so sessions alone are tracked.
std::mutex s_mutex;
Handle s_nextManager = 0x5000;
Handle s_nextSession = 0x6000;
std::map<Handle, FakeSession> s_sessions;

void Log(const std::string& line) {
    const char* path = std::getenv("FAKE_VISA_JOURNAL");
    if (std::FILE* file = path ? std::fopen(path, "a") : nullptr) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT ViStatus viOpenDefaultRM(std::uint32_t* vi) {
    std::lock_guard lock(s_mutex);
    *vi = ++s_nextManager;
    Log("viOpenDefaultRM -> " + Hex(*vi));
    return visa::VI_SUCCESS;
}

FAKE_EXPORT ViStatus viOpen(std::uint32_t sesn, const char* name, std::uint32_t mode,
                            std::uint32_t timeout, std::uint32_t* vi) {
    std::lock_guard lock(s_mutex);
    *vi = 0;
    const std::string line = "viOpen " + Hex(sesn) + " " + name + " " + std::to_string(mode) + " " +
                             std::to_string(timeout);
    if (std::string(name).find("NOTHERE") != std::string::npos)
        return Log(line + " -> not found"), visa::VI_ERROR_RSRC_NFOUND;
    *vi = ++s_nextSession;
    s_sessions[*vi] = FakeSession{name, {}};
    Log(line + " -> " + Hex(*vi));
    // A device that answers late at open reports so with a success code.
    return std::string(name).find("SLOW") != std::string::npos ? visa::VI_SUCCESS_DEV_NPRESENT
                                                               : visa::VI_SUCCESS;
}

FAKE_EXPORT ViStatus viClose(std::uint32_t vi) {
    std::lock_guard lock(s_mutex);
    Log("viClose " + Hex(vi));
    s_sessions.erase(vi);
    return visa::VI_SUCCESS;
}

FAKE_EXPORT ViStatus viSetAttribute(std::uint32_t vi, std::uint32_t attribute,
                                    std::uint64_t value) {
    std::lock_guard lock(s_mutex);
    Log("viSetAttribute " + Hex(vi) + " " + Hex(attribute) + " " + std::to_string(value));
    return attribute == visa::VI_ATTR_TMO_VALUE ? visa::VI_SUCCESS : visa::VI_WARN_NSUP_ATTR_STATE;
}

#ifndef FAKE_VISA_WITHOUT_READ
FAKE_EXPORT ViStatus viRead(std::uint32_t vi, unsigned char* buffer, std::uint32_t count,
                            std::uint32_t* received) {
    std::lock_guard lock(s_mutex);
    *received = 0;
    const std::string line = "viRead " + Hex(vi) + " " + std::to_string(count) + " -> ";
    auto session = s_sessions.find(vi);
    if (session == s_sessions.end())
        return Log(line + "invalid object"), visa::VI_ERROR_INV_OBJECT;
    std::string& pending = session->second.pending;
    if (pending.empty())
        return Log(line + "timeout"), visa::VI_ERROR_TMO;
    *received = static_cast<std::uint32_t>(pending.copy(reinterpret_cast<char*>(buffer), count));
    pending.erase(0, *received);
    Log(line + std::to_string(*received));
    return pending.empty() ? visa::VI_SUCCESS : visa::VI_SUCCESS_MAX_CNT;
}
#endif

FAKE_EXPORT ViStatus viWrite(std::uint32_t vi, const unsigned char* buffer, std::uint32_t count,
                             std::uint32_t* written) {
    std::lock_guard lock(s_mutex);
    *written = 0;
    std::string message(reinterpret_cast<const char*>(buffer), count);
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    Log("viWrite " + Hex(vi) + " " + message + (message.size() < count ? "\\n" : ""));
    auto session = s_sessions.find(vi);
    if (session == s_sessions.end())
        return visa::VI_ERROR_INV_OBJECT;
    if (message == "*IDN?") {
        session->second.pending = "Fake,VISA," + session->second.resource + ",1\n";
    } else if (message.find('?') != std::string::npos) {
        session->second.pending = session->second.resource + ";" + message + "\n";
    }
    *written = count;
    return visa::VI_SUCCESS;
}
