#include "ResourceName.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

namespace visa {
namespace {

bool IEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

bool IsDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Parses all-digit text into [lo, hi]; rejects overflow instead of wrapping.
bool ParseBounded(std::string_view s, long lo, long hi, long& out) {
    if (!IsDigits(s) || s.size() > 9)
        return false;
    long value = 0;
    std::from_chars(s.data(), s.data() + s.size(), value);
    if (value < lo || value > hi)
        return false;
    out = value;
    return true;
}

// Splits at "::", except inside a bracketed IPv6 host literal.
std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[')
            ++depth;
        if (text[i] == ']' && depth > 0)
            --depth;
        if (depth == 0 && text[i] == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            fields.push_back(text.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    fields.push_back(text.substr(start));
    return fields;
}

bool ValidHost(std::string_view host) {
    if (host.empty())
        return false;
    if (host.front() == '[')
        return host.size() > 2 && host.back() == ']';
    return host.find(':') == std::string_view::npos &&
           host.find_first_of("[]") == std::string_view::npos;
}

}  // namespace

std::string ResourceName::Canonical() const {
    if (kind == InterfaceKind::Gpib) {
        std::string s = "GPIB" + std::to_string(board) + "::" + std::to_string(primaryAddress);
        if (secondaryAddress != kNoSecondaryAddress)
            s += "::" + std::to_string(secondaryAddress);
        return s + "::INSTR";
    }
    return "TCPIP" + std::to_string(board) + "::" + host + "::" + deviceName + "::INSTR";
}

std::string ResourceName::ResolverHost() const {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

ResourceParse ParseResourceName(std::string_view text) {
    ResourceParse result;
    if (text.empty())
        return result;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7F)
            return result;  // whitespace and control characters
    }

    std::vector<std::string_view> fields = SplitFields(text);

    // Field 0: interface keyword and optional board number.
    std::string_view head = fields.front();
    size_t digitsAt = head.size();
    while (digitsAt > 0 && head[digitsAt - 1] >= '0' && head[digitsAt - 1] <= '9')
        --digitsAt;
    std::string_view keyword = head.substr(0, digitsAt);
    std::string_view boardText = head.substr(digitsAt);
    long board = 0;
    if (!boardText.empty() && !ParseBounded(boardText, 0, 0xFFFF, board))
        return result;

    static constexpr std::array<std::string_view, 8> kOtherInterfaces = {
        "USB", "ASRL", "VXI", "GPIB-VXI", "PXI", "FIREWIRE", "VICP", "RIO"};
    const bool isTcpip = IEquals(keyword, "TCPIP");
    const bool isGpib = IEquals(keyword, "GPIB");
    if (!isTcpip && !isGpib) {
        for (std::string_view other : kOtherInterfaces) {
            if (IEquals(keyword, other)) {
                result.status = VI_ERROR_RSRC_NFOUND;  // a valid name this layer cannot serve
                return result;
            }
        }
        return result;
    }

    fields.erase(fields.begin());
    if (!fields.empty() && IEquals(fields.back(), "INSTR")) {
        fields.pop_back();
    } else if (!fields.empty()) {
        static constexpr std::array<std::string_view, 5> kOtherClasses = {
            "SOCKET", "INTFC", "SERVANT", "BACKPLANE", "RAW"};
        for (std::string_view cls : kOtherClasses) {
            if (IEquals(fields.back(), cls)) {
                result.status = VI_ERROR_RSRC_NFOUND;
                return result;
            }
        }
    }
    if (fields.empty() || fields.size() > 2)
        return result;

    ResourceName& name = result.name;
    name.board = static_cast<std::uint16_t>(board);
    if (isGpib) {
        name.kind = InterfaceKind::Gpib;
        long primary = 0;
        long secondary = 0;
        if (!ParseBounded(fields[0], 0, 30, primary))
            return result;
        name.primaryAddress = static_cast<int>(primary);
        if (fields.size() == 2) {
            if (!ParseBounded(fields[1], 0, 30, secondary))
                return result;
            name.secondaryAddress = static_cast<int>(secondary);
        }
        result.status = VI_SUCCESS;
        return result;
    }

    name.kind = InterfaceKind::Tcpip;
    if (!ValidHost(fields[0]))
        return result;
    name.host = std::string(fields[0]);
    if (fields.size() == 2) {
        if (fields[1].empty() || fields[1].find_first_of(":[]") != std::string_view::npos)
            return result;
        name.deviceName = std::string(fields[1]);
    }
    if (IStartsWith(name.deviceName, "hislip")) {
        name.protocol = TcpipProtocol::HiSlip;
        std::string_view device = name.deviceName;
        size_t comma = device.find(',');
        name.hislipSubAddress = std::string(device.substr(0, comma));
        if (comma != std::string_view::npos) {
            long port = 0;
            if (!ParseBounded(device.substr(comma + 1), 1, 65535, port))
                return result;
            name.hislipPort = static_cast<std::uint16_t>(port);
        }
    }
    result.status = VI_SUCCESS;
    return result;
}

}  // namespace visa
