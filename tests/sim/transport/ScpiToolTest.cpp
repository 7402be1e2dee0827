// The korvel-scpi program as a user runs it: exit codes and messages. Its sessions with the
// simulator on the standard ports are the interop and package tests'.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs korvel-scpi with a shell-quoted argument string and no input.
ToolRun Scpi(const std::string& arguments) {
    const auto dir = std::filesystem::temp_directory_path() / ("korvel-scpi-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string command = std::string("timeout 20 ") + KORVEL_SCPI_PATH + " " + arguments + " </dev/null >" +
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
    std::filesystem::remove_all(dir);
    return run;
}

TEST(ScpiTool, ExitCodesTellSuccessFailureAndUsageApart) {
    ToolRun run = Scpi("--help");
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
