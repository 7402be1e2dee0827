#include "VendorLibrary.h"

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <type_traits>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define KORVEL_VISA_CALL __stdcall
#else
#include <dlfcn.h>
#define KORVEL_VISA_CALL
#endif

namespace visa {
namespace {

// The C interface of an installed VISA library: 32-bit integers and handles, attribute values as
// wide as a pointer, and on Windows the stdcall convention of its headers.
using CStatus = std::int32_t;
using CUInt32 = std::uint32_t;
using CAttrState = std::conditional_t<(sizeof(void*) > 4), std::uint64_t, std::uint32_t>;
static_assert(sizeof(ViStatus) == sizeof(CStatus) && sizeof(ViSession) == sizeof(CUInt32));

extern "C" {
typedef CStatus(KORVEL_VISA_CALL* OpenDefaultRMFunction)(CUInt32* vi);
typedef CStatus(KORVEL_VISA_CALL* OpenFunction)(CUInt32 sesn, const char* name, CUInt32 mode,
                                                CUInt32 timeout, CUInt32* vi);
typedef CStatus(KORVEL_VISA_CALL* CloseFunction)(CUInt32 vi);
typedef CStatus(KORVEL_VISA_CALL* SetAttributeFunction)(CUInt32 vi, CUInt32 attribute,
                                                        CAttrState value);
typedef CStatus(KORVEL_VISA_CALL* ReadFunction)(CUInt32 vi, unsigned char* buffer, CUInt32 count,
                                                CUInt32* received);
typedef CStatus(KORVEL_VISA_CALL* WriteFunction)(CUInt32 vi, const unsigned char* buffer,
                                                 CUInt32 count, CUInt32* written);
}

#ifdef _WIN32
using ModuleHandle = HMODULE;

std::string LastErrorText() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result.empty() ? "error " + std::to_string(code) : result;
}

ModuleHandle OpenModule(const std::string& path, std::string& error) {
    // A bare name is looked up in the system directories only, never the working directory, so
    // that a planted DLL next to a document cannot stand in for the user's VISA.
    const bool bare = path.find_first_of("\\/") == std::string::npos;
    ModuleHandle module =
        bare ? LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
             : LoadLibraryA(path.c_str());
    if (!module)
        error = LastErrorText();
    return module;
}

void* FindSymbol(ModuleHandle module, const char* name) {
    // Through a function pointer of no arguments: casting FARPROC straight to another function
    // type draws a warning from some compilers.
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

void CloseModule(ModuleHandle module) {
    FreeLibrary(module);
}
#else
using ModuleHandle = void*;

ModuleHandle OpenModule(const std::string& path, std::string& error) {
    ModuleHandle module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* text = dlerror();
        error = text ? text : "unknown error";
    }
    return module;
}

void* FindSymbol(ModuleHandle module, const char* name) {
    return dlsym(module, name);
}

void CloseModule(ModuleHandle module) {
    dlclose(module);
}
#endif

template <typename Function>
void Resolve(ModuleHandle module, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(FindSymbol(module, name));
    if (!function)
        missing += (missing.empty() ? "" : ", ") + std::string(name);
}

bool IsBuiltInSetting(const std::string& value) {
    static const char kBuiltIn[] = "builtin";
    if (value.size() != sizeof kBuiltIn - 1)
        return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c =
            value[i] >= 'A' && value[i] <= 'Z' ? static_cast<char>(value[i] - 'A' + 'a') : value[i];
        if (c != kBuiltIn[i])
            return false;
    }
    return true;
}

bool IsBareName(const std::string& path) {
    return path.find_first_of("\\/") == std::string::npos;
}

std::string FallBack(const std::string& what) {
    return "VISA layer: " + what + "; using the built-in VXI-11 and HiSLIP transports";
}

}  // namespace

struct VendorLibrary::Functions {
    ModuleHandle module{};
    OpenDefaultRMFunction openDefaultRM = nullptr;
    OpenFunction open = nullptr;
    CloseFunction close = nullptr;
    SetAttributeFunction setAttribute = nullptr;
    ReadFunction read = nullptr;
    WriteFunction write = nullptr;
};

VendorLibrary::VendorLibrary(std::string path, std::unique_ptr<Functions> functions)
    : m_path(std::move(path)), m_functions(std::move(functions)) {}

VendorLibrary::~VendorLibrary() = default;

std::shared_ptr<VendorLibrary> VendorLibrary::Load(const std::string& path, LoadResult& result,
                                                   std::string& problem) {
    result = LoadResult::NotLoadable;
    problem.clear();
    std::string error;
    ModuleHandle module = OpenModule(path, error);
    if (!module) {
        problem = "cannot be loaded (" + error + ")";
        return nullptr;
    }
    auto functions = std::make_unique<Functions>();
    functions->module = module;
    std::string missing;
    Resolve(module, "viOpenDefaultRM", functions->openDefaultRM, missing);
    Resolve(module, "viOpen", functions->open, missing);
    Resolve(module, "viClose", functions->close, missing);
    Resolve(module, "viSetAttribute", functions->setAttribute, missing);
    Resolve(module, "viRead", functions->read, missing);
    Resolve(module, "viWrite", functions->write, missing);
    if (!missing.empty()) {
        // Nothing of it has been called yet, so it can go again.
        CloseModule(module);
        result = LoadResult::Incomplete;
        problem = "lacks " + missing;
        return nullptr;
    }
    result = LoadResult::Loaded;
    return std::shared_ptr<VendorLibrary>(new VendorLibrary(path, std::move(functions)));
}

ViStatus VendorLibrary::OpenDefaultRM(ViSession& rm) const {
    CUInt32 handle = 0;
    const ViStatus status = m_functions->openDefaultRM(&handle);
    rm = status < VI_SUCCESS ? VI_NULL : handle;
    return status;
}

ViStatus VendorLibrary::Open(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 timeout,
                             ViSession& vi) const {
    CUInt32 handle = 0;
    const ViStatus status = m_functions->open(rm, name, mode, timeout, &handle);
    vi = status < VI_SUCCESS ? VI_NULL : handle;
    return status;
}

ViStatus VendorLibrary::Close(ViObject vi) const {
    return m_functions->close(vi);
}

ViStatus VendorLibrary::SetAttribute(ViObject vi, ViAttr attribute, ViAttrState value) const {
    // A 32-bit library cannot hold a wider value; it would arrive truncated.
    if (value > static_cast<ViAttrState>(static_cast<CAttrState>(-1)))
        return VI_ERROR_NSUP_ATTR_STATE;
    return m_functions->setAttribute(vi, attribute, static_cast<CAttrState>(value));
}

ViStatus VendorLibrary::Read(ViSession vi, ViPBuf buffer, ViUInt32 count,
                             ViUInt32& received) const {
    CUInt32 n = 0;
    const ViStatus status = m_functions->read(vi, buffer, count, &n);
    // Never report more than the buffer holds, whatever the library claims.
    received = n > count ? count : n;
    return status;
}

ViStatus VendorLibrary::Write(ViSession vi, ViConstBuf buffer, ViUInt32 count,
                              ViUInt32& written) const {
    CUInt32 n = 0;
    const ViStatus status = m_functions->write(vi, buffer, count, &n);
    written = n > count ? count : n;
    return status;
}

VendorChoice ChooseVendorLibrary(const char* setting, const std::vector<std::string>& candidates) {
    VendorChoice choice;
    VendorLibrary::LoadResult result{};
    std::string problem;
    if (setting && *setting) {
        const std::string value(setting);
        if (IsBuiltInSetting(value))
            return choice;
        choice.library = VendorLibrary::Load(value, result, problem);
        if (!choice.library) {
            choice.message = FallBack(std::string(kVendorLibrarySetting) + " names " + value +
                                      ", which " + problem);
        }
        return choice;
    }
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        // A bare name goes to the platform's search, which alone knows whether it exists.
        if (!IsBareName(candidate) && !std::filesystem::exists(candidate, ec))
            continue;
        choice.library = VendorLibrary::Load(candidate, result, problem);
        if (choice.library)
            return choice;
        if (result == VendorLibrary::LoadResult::NotLoadable && IsBareName(candidate))
            continue;
        // An installed library that does not work: say so rather than try the next one, which
        // is likely the same installation.
        choice.message = FallBack(candidate + " " + problem + " (set " + kVendorLibrarySetting +
                                  " to a library, or to builtin)");
        return choice;
    }
    return choice;
}

std::vector<std::string> DefaultVendorCandidates() {
#if defined(_WIN32)
#if defined(_WIN64)
    return {"visa64.dll", "visa32.dll"};
#else
    return {"visa32.dll"};
#endif
#elif defined(__APPLE__)
    return {"/Library/Frameworks/VISA.framework/VISA", "libvisa.dylib"};
#else
    // The dynamic linker's own search first (LD_LIBRARY_PATH, its cache), then the directories
    // VISA installations use that are often not in the linker's configuration.
    std::vector<std::string> candidates = {"libvisa.so.0", "libvisa.so"};
    const bool wide = sizeof(void*) > 4;
    for (const char* dir : {wide ? "/usr/local/vxipnp/linux/lib64" : "/usr/local/vxipnp/linux/lib",
                            wide ? "/usr/local/lib64" : "/usr/local/lib", "/usr/local/lib",
                            wide ? "/usr/lib64" : "/usr/lib"}) {
        for (const char* file : {"libvisa.so.0", "libvisa.so"}) {
            std::string path = std::string(dir) + "/" + file;
            bool seen = false;
            for (const auto& c : candidates)
                seen = seen || c == path;
            if (!seen)
                candidates.push_back(std::move(path));
        }
    }
    return candidates;
#endif
}

}  // namespace visa
