// The passthrough to an installed VISA library, proven against a fake one that journals its calls:
// what is forwarded and under which handles, what stays with the built-in transports, how the
// library is chosen, and a library that lacks a function.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ScriptedInstrument.h"
#include "visa/InProcess.h"
#include "visa/VendorLibrary.h"
#include "visa/VendorTesting.h"
#include "visa/visa.h"

using namespace visa;

namespace {

std::shared_ptr<VendorLibrary> LoadFake(const char* path = FAKE_VISA_PATH) {
    VendorLibrary::LoadResult result{};
    std::string problem;
    auto library = VendorLibrary::Load(path, result, problem);
    EXPECT_TRUE(library) << problem;
    return library;
}

// The fake's journal, reached through the library the passthrough loaded (the loader hands out
// the same instance again).
class FakeJournal {
public:
    FakeJournal() {
        m_module = dlopen(FAKE_VISA_PATH, RTLD_NOW | RTLD_LOCAL);
        m_journal = reinterpret_cast<const char* (*)()>(dlsym(m_module, "FakeVisaJournal"));
        m_reset = reinterpret_cast<void (*)()>(dlsym(m_module, "FakeVisaReset"));
        m_reset();
    }
    ~FakeJournal() { dlclose(m_module); }
    std::string Take() {
        std::string text = m_journal();
        m_reset();
        return text;
    }

private:
    void* m_module = nullptr;
    const char* (*m_journal)() = nullptr;
    void (*m_reset)() = nullptr;
};

std::string Hex(ViSession handle) {
    std::ostringstream s;
    s << std::hex << handle;
    return s.str();
}

// The vendor handle the journal's last line ends with ("... -> 6001").
ViSession LastHandle(const std::string& journal) {
    const auto arrow = journal.rfind("-> ");
    return arrow == std::string::npos ? 0 : static_cast<ViSession>(std::stoul(journal.substr(arrow + 3), nullptr, 16));
}

ViStatus Send(ViSession vi, const std::string& text, ViUInt32* written = nullptr) {
    ViUInt32 n = 0;
    const ViStatus status = viWrite(vi, reinterpret_cast<ViConstBuf>(text.data()), static_cast<ViUInt32>(text.size()), &n);
    if (written) *written = n;
    return status;
}

ViStatus Receive(ViSession vi, std::string& text, ViUInt32 count = 256) {
    ViByte buffer[256];
    ViUInt32 n = 0;
    const ViStatus status = viRead(vi, buffer, count, &n);
    text.assign(reinterpret_cast<char*>(buffer), n);
    return status;
}

class VendorPassthrough : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        vendorRm = LastHandle(journal.Take());
        ASSERT_NE(vendorRm, 0u);
    }
    void TearDown() override {
        if (rm) viClose(rm);
    }

    FakeJournal journal;
    ScopedVendorLibrary vendor{LoadFake()};
    ViSession rm = VI_NULL;
    ViSession vendorRm = VI_NULL;
};

TEST_F(VendorPassthrough, ForwardsAllSixFunctionsUnderTheLibrarysOwnHandles) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(rm, "GPIB0::28::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    std::string log = journal.Take();
    const ViSession vendorVi = LastHandle(log);
    EXPECT_EQ(log, "viOpen " + Hex(vendorRm) + " GPIB0::28::INSTR 0 0 -> " + Hex(vendorVi) + "\n");
    EXPECT_NE(vi, vendorVi);  // our handle table stands between the program and the library
    EXPECT_NE(vi, rm);

    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    // The library's answer, not ours: the built-in layer would accept a term char of 10.
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, 10), VI_WARN_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
    ViUInt32 written = 0;
    EXPECT_EQ(Send(vi, "MEAS?\n", &written), VI_SUCCESS);
    EXPECT_EQ(written, 6u);
    std::string first, rest, nothing;
    EXPECT_EQ(Receive(vi, first, 5), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(Receive(vi, rest), VI_SUCCESS);
    EXPECT_EQ(first + rest, "GPIB0::28::INSTR;MEAS?\n");
    EXPECT_EQ(Receive(vi, nothing), VI_ERROR_TMO);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    const std::string s = Hex(vendorVi);
    EXPECT_EQ(journal.Take(), "viSetAttribute " + s + " 3fff001a 5000\n" +
                                  "viSetAttribute " + s + " 3fff0018 10\n" +
                                  "viSetAttribute " + Hex(vendorRm) + " 3fff001a 3000\n" +
                                  "viWrite " + s + " MEAS?\\n\n" +
                                  "viRead " + s + " 5 -> 5\n" +
                                  "viRead " + s + " 256 -> 18\n" +
                                  "viRead " + s + " 256 -> timeout\n" +
                                  "viClose " + s + "\n");

    // A closed handle is ours to refuse: the library may already have given its number to
    // another session.
    EXPECT_EQ(Receive(vi, nothing), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Send(vi, "X\n"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 1), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
    rm = VI_NULL;
    EXPECT_EQ(journal.Take(), "viClose " + Hex(vendorRm) + "\n");
}

TEST_F(VendorPassthrough, NamesGoToTheLibraryAsGivenAndItsStatusesComeBack) {
    // Names our own parser refuses or cannot serve are the library's to judge.
    for (const char* name : {"USB0::0x1234::0x5678::SN1::INSTR", "MyScope", "GPIB0::28::INSTR"}) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(rm, name, VI_NO_LOCK, 1500, &vi), VI_SUCCESS) << name;
        EXPECT_NE(vi, VI_NULL);
        EXPECT_NE(journal.Take().find(std::string(" ") + name + " 0 1500 -> "), std::string::npos) << name;
    }
    ViSession vi = 77;
    EXPECT_EQ(viOpen(rm, "GPIB0::5::NOTHERE", VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, VI_NULL);
    // A success code other than VI_SUCCESS still opens the session.
    EXPECT_EQ(viOpen(rm, "GPIB0::6::SLOW", VI_NO_LOCK, 0, &vi), VI_SUCCESS_DEV_NPRESENT);
    std::string reply;
    ASSERT_EQ(Send(vi, "*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(Receive(vi, reply), VI_SUCCESS);
    EXPECT_EQ(reply, "Fake,VISA,GPIB0::6::SLOW,1\n");
    journal.Take();
    // What our layer refuses before any library sees it.
    EXPECT_EQ(viOpen(rm, "GPIB0::7::INSTR", 8, 0, &vi), VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(viOpen(rm, nullptr, VI_NO_LOCK, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viRead(vi, nullptr, 5, nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(journal.Take(), "");
}

TEST_F(VendorPassthrough, InProcessAttachmentsStayBuiltInAndClosingTheManagerClosesBoth) {
    auto instrument = std::make_shared<ScriptedInstrument>();
    auto attachment = AttachInProcess("TCPIP0::127.0.0.79::inst0::INSTR", instrument);
    ASSERT_TRUE(attachment);
    ViSession attached = VI_NULL, forwarded = VI_NULL;
    ASSERT_EQ(viOpen(rm, "TCPIP::127.0.0.79::INSTR", VI_NO_LOCK, 0, &attached), VI_SUCCESS);
    EXPECT_EQ(viSetAttribute(attached, VI_ATTR_TERMCHAR, 10), VI_SUCCESS);  // the built-in answer
    ASSERT_EQ(Send(attached, "*IDN?\n"), VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(Receive(attached, reply), VI_SUCCESS);
    EXPECT_EQ(reply, instrument->idn);
    EXPECT_EQ(journal.Take(), "");

    ASSERT_EQ(viOpen(rm, "GPIB0::28::INSTR", VI_NO_LOCK, 0, &forwarded), VI_SUCCESS);
    const ViSession vendorVi = LastHandle(journal.Take());
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
    rm = VI_NULL;
    // Each vendor session before the vendor's manager, so no handle of ours outlives its session.
    EXPECT_EQ(journal.Take(), "viClose " + Hex(vendorVi) + "\nviClose " + Hex(vendorRm) + "\n");
    EXPECT_EQ(attachment->Events().back().kind, IoEvent::Kind::Close);
    EXPECT_EQ(Send(attached, "X\n"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Send(forwarded, "X\n"), VI_ERROR_INV_OBJECT);
}

TEST_F(VendorPassthrough, AManagerKeepsTheLibraryItWasOpenedWith) {
    ViSession builtInRm = VI_NULL, vi = VI_NULL;
    {
        ScopedVendorLibrary builtIn(nullptr);
        ASSERT_EQ(viOpenDefaultRM(&builtInRm), VI_SUCCESS);
        // Opened before the change: still the library's.
        EXPECT_EQ(viOpen(rm, "GPIB0::28::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
        EXPECT_NE(journal.Take().find("viOpen " + Hex(vendorRm) + " GPIB0::28::INSTR"), std::string::npos);
    }
    // Opened while the built-in transports were chosen: there is no GPIB of our own.
    EXPECT_EQ(viOpen(builtInRm, "GPIB0::28::INSTR", VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viSetAttribute(builtInRm, VI_ATTR_TMO_VALUE, 10), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viClose(builtInRm), VI_SUCCESS);
    EXPECT_EQ(journal.Take(), "");
}

// --- Choosing the library ---

std::string MissingPath() { return (std::filesystem::temp_directory_path() / "korvel-no-visa-here" / "libvisa.so").string(); }

TEST(VendorChoice, TheSettingNamesALibraryOrForcesTheBuiltInTransports) {
    const std::vector<std::string> installed = {FAKE_VISA_PATH};
    for (const char* builtIn : {"builtin", "BuiltIn"}) {
        VendorChoice choice = ChooseVendorLibrary(builtIn, installed);
        EXPECT_FALSE(choice.library) << builtIn;
        EXPECT_EQ(choice.message, "") << builtIn;
    }
    VendorChoice named = ChooseVendorLibrary(FAKE_VISA_PATH, {});
    ASSERT_TRUE(named.library);
    EXPECT_EQ(named.library->Path(), FAKE_VISA_PATH);
    EXPECT_EQ(named.message, "");

    // A named library that cannot be had falls back loudly, never silently.
    VendorChoice missing = ChooseVendorLibrary(MissingPath().c_str(), installed);
    EXPECT_FALSE(missing.library);
    EXPECT_NE(missing.message.find("KORVEL_VISA_LIBRARY names " + MissingPath() + ", which cannot be loaded"),
              std::string::npos)
        << missing.message;
    VendorChoice incomplete = ChooseVendorLibrary(FAKE_VISA_NOREAD_PATH, installed);
    EXPECT_FALSE(incomplete.library);
    EXPECT_NE(incomplete.message.find("lacks viRead; using the built-in VXI-11 and HiSLIP transports"),
              std::string::npos)
        << incomplete.message;
}

TEST(VendorChoice, UnsetTheFirstInstalledLibraryIsUsedAndNothingFoundIsSilent) {
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        VendorChoice found = ChooseVendorLibrary(unset, {MissingPath(), "libkorvel-no-such-visa.so.0", FAKE_VISA_PATH});
        ASSERT_TRUE(found.library);
        EXPECT_EQ(found.library->Path(), FAKE_VISA_PATH);
        EXPECT_EQ(found.message, "");
        VendorChoice none = ChooseVendorLibrary(unset, {MissingPath(), "libkorvel-no-such-visa.so.0"});
        EXPECT_FALSE(none.library);
        EXPECT_EQ(none.message, "");
    }
    // An installed library that cannot serve is reported and ends the search.
    VendorChoice broken = ChooseVendorLibrary(nullptr, {FAKE_VISA_NOREAD_PATH, FAKE_VISA_PATH});
    EXPECT_FALSE(broken.library);
    EXPECT_NE(broken.message.find(std::string(FAKE_VISA_NOREAD_PATH) + " lacks viRead"), std::string::npos)
        << broken.message;
    const auto notALibrary = std::filesystem::temp_directory_path() / ("korvel-libvisa-" + std::to_string(getpid()) + ".so");
    std::ofstream(notALibrary) << "not a shared object\n";
    VendorChoice unloadable = ChooseVendorLibrary(nullptr, {notALibrary.string(), FAKE_VISA_PATH});
    std::filesystem::remove(notALibrary);
    EXPECT_FALSE(unloadable.library);
    EXPECT_NE(unloadable.message.find(notALibrary.string() + " cannot be loaded"), std::string::npos)
        << unloadable.message;
}

// --- The setting as a user gives it, to a program of ours ---

struct ToolRun {
    int exitCode = -1;
    std::string out, err, journal;
};

ToolRun ScpiWithSetting(const std::string& setting, const std::string& arguments) {
    const auto dir = std::filesystem::temp_directory_path() / ("korvel-vendor-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string command = "env KORVEL_VISA_LIBRARY='" + setting + "' FAKE_VISA_JOURNAL=" + (dir / "journal").string() +
                                " timeout 20 " + KORVEL_SCPI_PATH + " " + arguments + " </dev/null >" +
                                (dir / "out").string() + " 2>" + (dir / "err").string();
    ToolRun run;
    const int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const std::filesystem::path& p) {
        std::ostringstream s;
        s << std::ifstream(p).rdbuf();
        return s.str();
    };
    run.out = slurp(dir / "out");
    run.err = slurp(dir / "err");
    run.journal = slurp(dir / "journal");
    std::filesystem::remove_all(dir);
    return run;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(VendorSetting, KorvelScpiReachesAGpibInstrumentThroughTheNamedLibrary) {
    ToolRun run = ScpiWithSetting(FAKE_VISA_PATH, "28 '*IDN?' 'FREQ?'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Fake,VISA,GPIB0::28::INSTR,1\nGPIB0::28::INSTR;FREQ?\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Count(run.journal, "viOpenDefaultRM"), 1u) << run.journal;
    EXPECT_EQ(Count(run.journal, "viOpen "), 1u) << run.journal;
    EXPECT_EQ(Count(run.journal, "viClose "), 2u) << run.journal;  // the session, then the manager
}

TEST(VendorSetting, ALibraryWithoutViReadIsReportedOnceAndTheBuiltInTransportsServe) {
    ToolRun run = ScpiWithSetting(FAKE_VISA_NOREAD_PATH, "28 '*IDN?'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Count(run.err, "lacks viRead"), 1u) << run.err;
    EXPECT_NE(run.err.find("korvel-scpi: Cannot open device GPIB0::28::INSTR"), std::string::npos) << run.err;
    EXPECT_EQ(run.journal, "");

    run = ScpiWithSetting("builtin", "28 '*IDN?'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "korvel-scpi: Cannot open device GPIB0::28::INSTR\n");
    EXPECT_EQ(run.journal, "");
}

}  // namespace
