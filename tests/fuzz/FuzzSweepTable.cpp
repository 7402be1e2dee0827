// The sweep file loader and its lookup over arbitrary file contents.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "CSweepTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/korvel-fuzz-sweep-" + std::to_string(::getpid()) + ".csv";
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    CSweepTable table(path);
    if (table.IsLoaded()) {
        double result = 0.0;
        const double frequencies[] = {-1e300, table.FirstFrequency(), table.FirstFrequency() + 0.5, 1e300};
        const double levels[] = {-1e300, table.FirstLevel(), table.FirstLevel() + 0.5, 1e300};
        for (double f : frequencies) {
            for (double l : levels) {
                for (int mode = 0; mode < 4; ++mode) table.Interpolate(f, l, result, mode);
            }
        }
    }
    return 0;
}
