#include "ErrorQueue.h"

namespace sim {

std::string_view ErrorQueue::Text(int code) {
    switch (code) {
        case 0:
            return "No error";
        case -100:
            return "Command error";
        case -101:
            return "Invalid character";
        case -102:
            return "Syntax error";
        case -103:
            return "Invalid separator";
        case -104:
            return "Data type error";
        case -108:
            return "Parameter not allowed";
        case -109:
            return "Missing parameter";
        case -110:
            return "Command header error";
        case -113:
            return "Undefined header";
        case -114:
            return "Header suffix out of range";
        case -120:
            return "Numeric data error";
        case -131:
            return "Invalid suffix";
        case -138:
            return "Suffix not allowed";
        case -151:
            return "Invalid string data";
        case -160:
            return "Block data error";
        case -161:
            return "Invalid block data";
        case -200:
            return "Execution error";
        case -220:
            return "Parameter error";
        case -221:
            return "Settings conflict";
        case -222:
            return "Data out of range";
        case -224:
            return "Illegal parameter value";
        case -256:
            return "File name not found";
        case -257:
            return "File name error";
        case -300:
            return "Device-specific error";
        case -350:
            return "Queue overflow";
        case -363:
            return "Input buffer overrun";
        case -400:
            return "Query error";
        case -410:
            return "Query INTERRUPTED";
        case -420:
            return "Query UNTERMINATED";
        case -430:
            return "Query DEADLOCKED";
        case -440:
            return "Query UNTERMINATED after indefinite response";
        default:
            return "";
    }
}

void ErrorQueue::Push(int code, std::string_view detail) {
    if (m_listener)
        m_listener(code);
    std::string text(Text(code));
    if (!detail.empty()) {
        text += ';';
        text += detail;
    }
    if (m_entries.size() >= kCapacity) {
        // The overflow marker takes the newest place; later errors are lost.
        m_entries.back() = Entry{-350, std::string(Text(-350))};
        return;
    }
    m_entries.push_back(Entry{code, std::move(text)});
}

std::string ErrorQueue::Pop() {
    if (m_entries.empty())
        return "0,\"No error\"";
    Entry entry = std::move(m_entries.front());
    m_entries.pop_front();
    return std::to_string(entry.code) + ",\"" + entry.text + '"';
}

}  // namespace sim
