// The passthrough to an installed VISA library, proven against a fake one that journals its calls:
// what is forwarded and under which handles, what stays with the built-in transports, how the
// library is chosen, and a library that lacks a function.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <unistd.h>

#include "tests/support/ScriptedInstrument.h"
#include "tests/support/TestSupport.h"
#include "visa/InProcess.h"
#include "visa/VendorLibrary.h"
#include "visa/VendorTesting.h"
#include "visa/visa.h"

using namespace visa;
namespace fs = std::filesystem;

namespace {

const fs::path kTemp =
    fs::temp_directory_path() / ("korvel-vendor-test-" + std::to_string(::getpid()));

std::string Slurp(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The vendor handle the journal's last line ends with ("... -> 6001"), as the fake prints it.
std::string LastHandle(const std::string& journal) {
    const auto arrow = journal.rfind("-> ");
    return arrow == std::string::npos
               ? ""
               : journal.substr(arrow + 3, journal.find('\n', arrow) - arrow - 3);
}

class VendorPassthrough : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(kTemp);
        setenv("FAKE_VISA_JOURNAL", journalPath.c_str(), 1);
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        vendorRm = LastHandle(Journal());
        ASSERT_NE(vendorRm, "");
    }
    void TearDown() override {
        if (rm)
            viClose(rm);
        unsetenv("FAKE_VISA_JOURNAL");
        fs::remove_all(kTemp);
    }
    // The calls the fake saw since the last look.
    std::string Journal() {
        std::string text = Slurp(journalPath);
        fs::remove(journalPath);
        return text;
    }

    const std::string journalPath = (kTemp / "journal").string();
    ScopedVendorLibrary vendor{ChooseVendorLibrary(FAKE_VISA_PATH, {}).library};
    ViSession rm = VI_NULL;
    std::string vendorRm;
};

TEST_F(VendorPassthrough, ForwardsAllSixFunctionsUnderHandlesOfOurOwn) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(rm, "GPIB0::28::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    std::string log = Journal();
    const std::string s = LastHandle(log);
    EXPECT_EQ(log, "viOpen " + vendorRm + " GPIB0::28::INSTR 0 0 -> " + s + "\n");
    EXPECT_NE(std::stoul(s, nullptr, 16),
              vi);  // our handle table stands between the program and the library

    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    // The library's answer, not ours: the built-in layer would accept a term char of 10.
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, 10), VI_WARN_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
    EXPECT_EQ(Send(vi, "MEAS?\n"), VI_SUCCESS);
    std::string first, rest, nothing;
    EXPECT_EQ(Read(vi, first, 5), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(Read(vi, rest, 256), VI_SUCCESS);
    EXPECT_EQ(first + rest, "GPIB0::28::INSTR;MEAS?\n");
    EXPECT_EQ(Read(vi, nothing, 256), VI_ERROR_TMO);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    EXPECT_EQ(Journal(), "viSetAttribute " + s + " 3fff001a 5000\nviSetAttribute " + s +
                             " 3fff0018 10\n" + "viSetAttribute " + vendorRm +
                             " 3fff001a 3000\nviWrite " + s + " MEAS?\\n\n" + "viRead " + s +
                             " 5 -> 5\nviRead " + s + " 256 -> 18\nviRead " + s +
                             " 256 -> timeout\nviClose " + s + "\n");

    // A closed handle is ours to refuse: the library may already have given its number to
    // another session.
    EXPECT_EQ(Read(vi, nothing, 256), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Send(vi, "X\n"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 1), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Journal(), "");
}

TEST_F(VendorPassthrough, NamesGoToTheLibraryAsGivenAndItsStatusesComeBack) {
    // Names our own parser refuses or cannot serve are the library's to judge.
    for (const char* name : {"USB0::0x1234::0x5678::SN1::INSTR", "MyScope"}) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(rm, name, VI_NO_LOCK, 1500, &vi), VI_SUCCESS) << name;
        EXPECT_NE(Journal().find(std::string(" ") + name + " 0 1500 -> "), std::string::npos)
            << name;
    }
    ViSession vi = 77;
    EXPECT_EQ(viOpen(rm, "GPIB0::5::NOTHERE", VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, VI_NULL);
    // A success code other than VI_SUCCESS still opens the session.
    EXPECT_EQ(viOpen(rm, "GPIB0::6::SLOW", VI_NO_LOCK, 0, &vi), VI_SUCCESS_DEV_NPRESENT);
    std::string reply;
    ASSERT_EQ(Send(vi, "*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(vi, reply, 256), VI_SUCCESS);
    EXPECT_EQ(reply, "Fake,VISA,GPIB0::6::SLOW,1\n");
    Journal();
    // What our layer refuses before any library sees it.
    EXPECT_EQ(viOpen(rm, "GPIB0::7::INSTR", 8, 0, &vi), VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(viOpen(rm, nullptr, VI_NO_LOCK, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viRead(vi, nullptr, 5, nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(Journal(), "");
}

TEST_F(VendorPassthrough, InProcessAttachmentsStayBuiltInAndClosingTheManagerClosesBoth) {
    auto instrument = std::make_shared<ScriptedInstrument>();
    auto attachment = AttachInProcess("TCPIP0::127.0.0.79::inst0::INSTR", instrument);
    ViSession attached = VI_NULL, forwarded = VI_NULL;
    ASSERT_EQ(viOpen(rm, "TCPIP::127.0.0.79::INSTR", VI_NO_LOCK, 0, &attached), VI_SUCCESS);
    EXPECT_EQ(viSetAttribute(attached, VI_ATTR_TERMCHAR, 10), VI_SUCCESS);  // the built-in answer
    ASSERT_EQ(Send(attached, "*IDN?\n"), VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(Read(attached, reply, 256), VI_SUCCESS);
    EXPECT_EQ(reply, instrument->idn);
    EXPECT_EQ(Journal(), "");

    ASSERT_EQ(viOpen(rm, "GPIB0::28::INSTR", VI_NO_LOCK, 0, &forwarded), VI_SUCCESS);
    const std::string vendorVi = LastHandle(Journal());
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
    rm = VI_NULL;
    // Each vendor session before the vendor's manager, so no handle of ours outlives its session.
    EXPECT_EQ(Journal(), "viClose " + vendorVi + "\nviClose " + vendorRm + "\n");
    EXPECT_EQ(attachment->Events().back().kind, IoEvent::Kind::Close);
    EXPECT_EQ(Send(attached, "X\n"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(Send(forwarded, "X\n"), VI_ERROR_INV_OBJECT);
}

// --- Choosing the library: a named one, or the first installed; a failure is reported, never
// silent ---

TEST(VendorChoice, TheSettingNamesALibraryOrForcesTheBuiltInTransportsAndFailuresAreLoud) {
    fs::create_directories(kTemp);
    const std::string missing = (kTemp / "no-visa-here" / "libvisa.so").string();
    const std::string notALibrary = (kTemp / "libvisa.so").string();
    std::ofstream(notALibrary) << "not a shared object\n";
    const std::string fake = FAKE_VISA_PATH, noRead = FAKE_VISA_NOREAD_PATH,
                      nowhere = "libkorvel-no-such-visa.so.0";
    const struct {
        const char* setting;
        std::vector<std::string> installed;
        bool loaded;
        std::string message;  // a part of it; none at all when empty
    } cases[] = {
        {"builtin", {fake}, false, ""},
        {"BuiltIn", {fake}, false, ""},
        {fake.c_str(), {}, true, ""},
        {missing.c_str(),
         {fake},
         false,
         "KORVEL_VISA_LIBRARY names " + missing + ", which cannot be loaded"},
        {noRead.c_str(),
         {fake},
         false,
         "lacks viRead; using the built-in VXI-11 and HiSLIP transports"},
        {nullptr, {missing, nowhere, fake}, true, ""},
        {"", {missing, nowhere, fake}, true, ""},
        {nullptr, {missing, nowhere}, false, ""},
        {nullptr, {noRead, fake}, false, noRead + " lacks viRead"},  // a broken one ends the search
        {nullptr, {notALibrary, fake}, false, notALibrary + " cannot be loaded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting ? c.setting : "(unset)");
        const VendorChoice choice = ChooseVendorLibrary(c.setting, c.installed);
        EXPECT_EQ(choice.library ? choice.library->Path() : "", c.loaded ? fake : "");
        if (c.message.empty()) {
            EXPECT_EQ(choice.message, "");
        } else {
            EXPECT_NE(choice.message.find(c.message), std::string::npos) << choice.message;
        }
    }
    fs::remove_all(kTemp);
}

// --- The setting as a user gives it, to a program of ours ---
// Through a POSIX shell; scripts/windows-test runs korvel-scpi.exe with the fake beside it.
#ifndef _WIN32

TEST(VendorSetting, KorvelScpiUsesTheNamedLibraryOrReportsOnceThatItLacksAFunction) {
    fs::create_directories(kTemp);
    auto run = [](const std::string& setting, std::string& out, std::string& err) {
        ProgramRun program = RunProgram("env KORVEL_VISA_LIBRARY='" + setting +
                                        "' FAKE_VISA_JOURNAL=" + (kTemp / "journal").string() +
                                        " timeout 20 " + KORVEL_SCPI_PATH + " 28 '*IDN?' 'FREQ?'");
        out = program.out;
        err = program.err;
        return program.exitCode;
    };
    std::string out, err;
    EXPECT_EQ(run(FAKE_VISA_PATH, out, err), 0) << err;
    EXPECT_EQ(out, "Fake,VISA,GPIB0::28::INSTR,1\nGPIB0::28::INSTR;FREQ?\n");
    EXPECT_EQ(err, "");
    const std::string journal = Slurp(kTemp / "journal");
    auto calls = [&](const std::string& call) {
        std::size_t n = 0;
        for (auto at = journal.find(call); at != std::string::npos; at = journal.find(call, at + 1))
            ++n;
        return n;
    };
    // One manager and one session, both closed.
    EXPECT_EQ(calls("viOpenDefaultRM"), 1u) << journal;
    EXPECT_EQ(calls("viOpen "), 1u) << journal;
    EXPECT_EQ(calls("viClose "), 2u) << journal;

    EXPECT_EQ(run(FAKE_VISA_NOREAD_PATH, out, err), 1);
    const auto lacks = err.find("lacks viRead");
    EXPECT_NE(lacks, std::string::npos) << err;
    EXPECT_EQ(err.find("lacks viRead", lacks + 1), std::string::npos) << err;
    EXPECT_NE(err.find("korvel-scpi: Cannot open device GPIB0::28::INSTR"), std::string::npos)
        << err;
    EXPECT_EQ(Slurp(kTemp / "journal"), journal);  // the incomplete library is never called
    fs::remove_all(kTemp);
}

#endif

}  // namespace
