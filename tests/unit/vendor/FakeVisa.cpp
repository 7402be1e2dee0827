// A stand-in for an installed VISA library: the six C functions, a journal of every call (in
// memory, and appended to the file named by FAKE_VISA_JOURNAL for tests that run a program), and
// one instrument per session that answers each query with "<resource>;<query>" and *IDN? with an
// identification. Built without viRead when FAKE_VISA_WITHOUT_READ is defined.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

#include "visa/visa.h"

namespace {

using visa::ViStatus;
using Handle = std::uint32_t;

struct FakeSession {
    Handle manager = 0;
    std::string resource;
    std::string pending;
};

struct Fake {
    std::mutex mutex;
    std::string journal;
    Handle nextManager = 0x5000;
    Handle nextSession = 0x6000;
    std::map<Handle, bool> managers;
    std::map<Handle, FakeSession> sessions;

    void Log(const std::string& line) {
        journal += line + "\n";
        if (const char* path = std::getenv("FAKE_VISA_JOURNAL")) {
            if (std::FILE* file = std::fopen(path, "a")) {
                std::fprintf(file, "%s\n", line.c_str());
                std::fclose(file);
            }
        }
    }
};

Fake& TheFake() {
    static Fake fake;
    return fake;
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Printable(const unsigned char* data, std::uint32_t count) {
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (data[i] == '\n') {
            text += "\\n";
        } else {
            text += static_cast<char>(data[i]);
        }
    }
    return text;
}

}  // namespace

#define FAKE_EXPORT __attribute__((visibility("default")))

extern "C" {

FAKE_EXPORT ViStatus viOpenDefaultRM(std::uint32_t* vi) {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    const Handle handle = ++fake.nextManager;
    fake.managers[handle] = true;
    *vi = handle;
    fake.Log("viOpenDefaultRM -> " + Hex(handle));
    return visa::VI_SUCCESS;
}

FAKE_EXPORT ViStatus viOpen(std::uint32_t sesn, const char* name, std::uint32_t mode, std::uint32_t timeout,
                            std::uint32_t* vi) {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    *vi = 0;
    std::string line = "viOpen " + Hex(sesn) + " " + name + " " + std::to_string(mode) + " " + std::to_string(timeout);
    if (!fake.managers.count(sesn)) {
        fake.Log(line + " -> invalid object");
        return visa::VI_ERROR_INV_OBJECT;
    }
    if (std::string(name).find("NOTHERE") != std::string::npos) {
        fake.Log(line + " -> not found");
        return visa::VI_ERROR_RSRC_NFOUND;
    }
    const Handle handle = ++fake.nextSession;
    fake.sessions[handle] = FakeSession{sesn, name, {}};
    *vi = handle;
    fake.Log(line + " -> " + Hex(handle));
    // A device that answers late at open reports so with a success code.
    return std::string(name).find("SLOW") != std::string::npos ? visa::VI_SUCCESS_DEV_NPRESENT : visa::VI_SUCCESS;
}

FAKE_EXPORT ViStatus viClose(std::uint32_t vi) {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    fake.Log("viClose " + Hex(vi));
    if (fake.sessions.erase(vi)) return visa::VI_SUCCESS;
    if (!fake.managers.erase(vi)) return visa::VI_ERROR_INV_OBJECT;
    for (auto it = fake.sessions.begin(); it != fake.sessions.end();) {
        it = it->second.manager == vi ? fake.sessions.erase(it) : std::next(it);
    }
    return visa::VI_SUCCESS;
}

FAKE_EXPORT ViStatus viSetAttribute(std::uint32_t vi, std::uint32_t attribute, std::uint64_t value) {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    fake.Log("viSetAttribute " + Hex(vi) + " " + Hex(attribute) + " " + std::to_string(value));
    if (!fake.sessions.count(vi) && !fake.managers.count(vi)) return visa::VI_ERROR_INV_OBJECT;
    return attribute == visa::VI_ATTR_TMO_VALUE ? visa::VI_SUCCESS : visa::VI_WARN_NSUP_ATTR_STATE;
}

#ifndef FAKE_VISA_WITHOUT_READ
FAKE_EXPORT ViStatus viRead(std::uint32_t vi, unsigned char* buffer, std::uint32_t count, std::uint32_t* received) {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    *received = 0;
    auto session = fake.sessions.find(vi);
    if (session == fake.sessions.end()) {
        fake.Log("viRead " + Hex(vi) + " " + std::to_string(count) + " -> invalid object");
        return visa::VI_ERROR_INV_OBJECT;
    }
    std::string& pending = session->second.pending;
    if (pending.empty()) {
        fake.Log("viRead " + Hex(vi) + " " + std::to_string(count) + " -> timeout");
        return visa::VI_ERROR_TMO;
    }
    const std::uint32_t n = pending.size() < count ? static_cast<std::uint32_t>(pending.size()) : count;
    pending.copy(reinterpret_cast<char*>(buffer), n);
    pending.erase(0, n);
    *received = n;
    fake.Log("viRead " + Hex(vi) + " " + std::to_string(count) + " -> " + std::to_string(n));
    return pending.empty() ? visa::VI_SUCCESS : visa::VI_SUCCESS_MAX_CNT;
}
#endif

FAKE_EXPORT ViStatus viWrite(std::uint32_t vi, const unsigned char* buffer, std::uint32_t count,
                             std::uint32_t* written) {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    *written = 0;
    fake.Log("viWrite " + Hex(vi) + " " + Printable(buffer, count));
    auto session = fake.sessions.find(vi);
    if (session == fake.sessions.end()) return visa::VI_ERROR_INV_OBJECT;
    std::string message(reinterpret_cast<const char*>(buffer), count);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    if (message == "*IDN?") {
        session->second.pending = "Fake,VISA," + session->second.resource + ",1\n";
    } else if (message.find('?') != std::string::npos) {
        session->second.pending = session->second.resource + ";" + message + "\n";
    }
    *written = count;
    return visa::VI_SUCCESS;
}

// For tests in the same process: the journal so far, and a fresh start.
FAKE_EXPORT const char* FakeVisaJournal() {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    static std::string copy;
    copy = fake.journal;
    return copy.c_str();
}

FAKE_EXPORT void FakeVisaReset() {
    Fake& fake = TheFake();
    std::lock_guard lock(fake.mutex);
    fake.journal.clear();
}

}  // extern "C"
