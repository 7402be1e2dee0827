// The korvel-scpi program as a user runs it: exit codes and messages. Its sessions with the
// simulator on the standard ports are the interop and package tests'.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.h"

namespace {

ProgramRun Scpi(const std::string& arguments) {
    return RunProgram(std::string("timeout 20 ") + KORVEL_SCPI_PATH + " " + arguments);
}

TEST(ScpiTool, ExitCodesTellSuccessFailureAndUsageApart) {
    ProgramRun run = Scpi("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage: korvel-scpi"), std::string::npos);
    EXPECT_EQ(Scpi("").exitCode, 2);
    EXPECT_EQ(Scpi("28 --timeout soon").exitCode, 2);
    run = Scpi("28 '*IDN?'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "korvel-scpi: Cannot open device GPIB0::28::INSTR\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
