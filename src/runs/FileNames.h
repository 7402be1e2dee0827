// Result files by path on every system. Windows' narrow file functions take the ANSI code page,
// which cannot name every folder a user picks; there the wide ones are used, and a path kept as
// text is UTF-8 (as std::filesystem::path::string() gives it there).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace korvel {

inline std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

inline std::filesystem::path PathFromText(const std::string& text) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
    return std::filesystem::path(text);
#endif
}

}  // namespace korvel
