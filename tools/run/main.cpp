// korvel-run COMMAND: the window's job from a terminal (see --help).
#include <cstdio>
#include <cstdlib>

#include "HeadlessJob.h"
#include "RunCommandLine.h"
#include "app/settings/QtSettingsStore.h"
#include "visa/Trace.h"
#include "visa/VendorLibrary.h"

#include "ConsoleWindow.h"

using namespace korvel;

int main(int argc, char** argv) {
    RunOptions options;
    if (const auto code = ParseRunCommandLine(argc, argv, options))
        return *code;
    // Sessions read the trace setting when they open, so the flag only has to come first.
    if (!options.trace.empty())
        visa::SetTraceSetting(options.trace);
    visa::SetNoticeSink(
        [](const std::string& line) { std::fprintf(stderr, "korvel-run: %s\n", line.c_str()); });
    StopSignals::Install();
    QtSettingsStore store;
    const int code = RunHeadlessJob(options, store, store.Location());
    store.Sync();
    return code;
}
