// A VISA shared library installed on the machine, loaded at run time, whose six C functions the
// VISA layer forwards to so that every instrument the user's own VISA reaches (GPIB, USB, aliases)
// is reached through it. Nothing here links against such a library.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "visa.h"

namespace visa {

class VendorLibrary {
public:
    enum class LoadResult { Loaded, NotLoadable, Incomplete };

    // Loads the library (a bare file name is looked up the platform's way) and resolves the six
    // functions. Null unless Loaded; `problem` then says why in one line.
    static std::shared_ptr<VendorLibrary> Load(const std::string& path, LoadResult& result,
                                               std::string& problem);

    // The library stays loaded for the life of the process: these libraries start threads and
    // install handlers that do not survive being unloaded.
    ~VendorLibrary();
    VendorLibrary(const VendorLibrary&) = delete;
    VendorLibrary& operator=(const VendorLibrary&) = delete;

    const std::string& Path() const { return m_path; }

    ViStatus OpenDefaultRM(ViSession& rm) const;
    ViStatus Open(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 timeout,
                  ViSession& vi) const;
    ViStatus Close(ViObject vi) const;
    ViStatus SetAttribute(ViObject vi, ViAttr attribute, ViAttrState value) const;
    ViStatus Read(ViSession vi, ViPBuf buffer, ViUInt32 count, ViUInt32& received) const;
    ViStatus Write(ViSession vi, ViConstBuf buffer, ViUInt32 count, ViUInt32& written) const;

private:
    struct Functions;
    VendorLibrary(std::string path, std::unique_ptr<Functions> functions);
    std::string m_path;
    std::unique_ptr<Functions> m_functions;
};

// The outcome of choosing between a vendor library and the built-in transports.
struct VendorChoice {
    std::shared_ptr<VendorLibrary> library;  // null: the built-in transports
    std::string message;                     // one line for the user; empty when all is as asked
};

// Receives VendorChoice::message when the first resource manager makes the choice. The layer
// never prints: the program decides where the line goes (without a sink it is dropped).
using NoticeSink = std::function<void(const std::string& line)>;
// Returns the previous sink.
NoticeSink SetNoticeSink(NoticeSink sink);

// The name of the setting, an environment variable of the VISA layer.
constexpr const char* kVendorLibrarySetting = "KORVEL_VISA_LIBRARY";

// setting: the setting's value (null or empty when unset). "builtin" forces the built-in
// transports; anything else names the library to load. Unset: the first of candidates that
// loads is used. A library that cannot be used yields the built-in transports and a message.
VendorChoice ChooseVendorLibrary(const char* setting, const std::vector<std::string>& candidates);

// Where VISA libraries are usually installed on this platform, most specific first.
std::vector<std::string> DefaultVendorCandidates();

}  // namespace visa
