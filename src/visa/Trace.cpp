#include "Trace.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "MessageText.h"

namespace visa {

namespace {

std::string StatusName(ViStatus status) {
    static const struct {
        ViStatus status;
        const char* name;
    } kNames[] = {
        {VI_ERROR_TMO, "VI_ERROR_TMO"},
        {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST"},
        {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND"},
        {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME"},
        {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY"},
        {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED"},
        {VI_ERROR_IO, "VI_ERROR_IO"},
        {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT"},
    };
    for (const auto& known : kNames) {
        if (known.status == status)
            return known.name;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
    return hex;
}

}  // namespace

void SetTraceSetting(const std::string& path) {
#ifdef _WIN32
    _putenv_s(kTraceSetting, path.c_str());
#else
    setenv(kTraceSetting, path.c_str(), 1);
#endif
}

std::shared_ptr<Trace> Trace::Open(const std::string& path) {
    if (path.empty())
        return nullptr;
    std::FILE* file = std::fopen(path.c_str(), "wb");  // LF line ends on every system
    if (!file) {
        std::fprintf(stderr, "%s: cannot write %s (%s); nothing is traced\n", kTraceSetting,
                     path.c_str(), std::strerror(errno));
        return nullptr;
    }
    return std::shared_ptr<Trace>(new Trace(file));
}

Trace::~Trace() {
    std::fclose(m_file);
}

void Trace::Sent(std::string_view resource, std::string_view bytes) {
    for (std::string_view message : SplitProgramMessages(bytes))
        Line(resource, '<', message);
}

void Trace::Received(std::string_view resource, std::string_view reply) {
    if (!reply.empty() && reply.back() == '\n')
        reply.remove_suffix(1);
    Line(resource, '>', reply);
}

void Trace::Failed(std::string_view resource, const char* what, ViStatus status,
                   std::string_view partial) {
    std::string text = std::string(what) + " failed: " + StatusName(status);
    if (!partial.empty())
        text += " after " + std::to_string(partial.size()) + " bytes: " + DescribeForLog(partial);
    Line(resource, '!', text);
}

void Trace::Line(std::string_view resource, char direction, std::string_view text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char time[32];
    const auto end =
        std::to_chars(time, time + sizeof time, seconds, std::chars_format::fixed, 6).ptr;
    std::string line(time, end);
    line += ' ';
    line += DescribeForLog(resource);
    line += ' ';
    line += direction;
    line += ' ';
    // A failure line is already text; messages and replies show blocks and control bytes escaped.
    line += direction == '!' ? std::string(text) : DescribeForLog(text);
    line += '\n';
    std::lock_guard lock(m_mutex);
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}

}  // namespace visa
