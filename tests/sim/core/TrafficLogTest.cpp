// The traffic log as tests and users read it.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <thread>

#include "BenchRig.h"

using sim::InstrumentId;

namespace {

struct LogLine {
    double seconds;
    std::string instrument, direction, text;
};

std::vector<LogLine> ReadLog(const std::filesystem::path& path) {
    std::vector<LogLine> lines;
    std::ifstream file(path);
    const std::regex form(R"(^(\d+\.\d{6}) (gen1|gen2|analyzer) ([<>]) (.*)$)");
    std::string line;
    while (std::getline(file, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, form)) {
            ADD_FAILURE() << "malformed log line: " << line;
            continue;
        }
        lines.push_back(LogLine{std::stod(m[1]), m[2], m[3], m[4]});
    }
    return lines;
}

TEST(TrafficLog, OneFlushedLinePerMessageWithBlocksShortened) {
    WorkingDirectory directory;
    sim::BenchOptions options = FastBench();
    options.logPath = (directory.Path() / "traffic.log").string();
    BenchRig rig(options);
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1);
    gen->CopyFile("dc.wv", kVrqLists);
    gen->Query("FREQ 1000000000;*OPC?");
    rig.Open(InstrumentId::Analyzer)->Query("FREQ:SPAN 50Hz;SPAN?");

    // Read while the bench still runs: each line is on disk as soon as it is written.
    const std::vector<LogLine> lines = ReadLog(options.logPath);
    const std::string size = std::to_string(std::filesystem::file_size("dc.wv"));
    const std::vector<std::string> expected = {
        "gen1 < *IDN?",
        "gen1 > Maltoven,VRQ200A,100023,4.70",
        "gen1 < MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'",
        "gen1 < MMEM:DATA 'dc.wv',#" + std::to_string(size.size()) + size + "[" + size + " bytes]",
        "gen1 < FREQ 1000000000;*OPC?",
        "gen1 > 1",
        "analyzer < *IDN?",
        "analyzer > Maltoven,ZAS26,101077,1.91",
        "analyzer < FREQ:SPAN 50Hz;SPAN?",
        "analyzer > 50",
    };
    std::vector<std::string> seen;
    for (const LogLine& line : lines)
        seen.push_back(line.instrument + ' ' + line.direction + ' ' + line.text);
    EXPECT_EQ(seen, expected);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_LE(lines[i - 1].seconds, lines[i].seconds);
    // The frequency change settles behind *OPC?: its reply comes later in bench time.
    EXPECT_GE(lines[5].seconds - lines[4].seconds, 0.005);
}

TEST(TrafficLog, InstrumentsOnSeveralThreadsShareTheBenchAndTheLog) {
    WorkingDirectory directory;
    sim::BenchOptions options = FastBench(sim::Wiring::Two);
    options.logPath = (directory.Path() / "traffic.log").string();
    BenchRig rig(options);
    constexpr int kQueries = 200;
    struct Worker {
        const char* resource;
        std::string (*command)(int);
        std::string (*expected)(int);
    } workers[] = {
        {"GPIB0::28::INSTR",
         [](int i) { return "SOURCE1:BB:POFF " + std::to_string(i) + ";POFF?"; },
         [](int i) { return std::to_string(i); }},
        {"GPIB0::27::INSTR", [](int i) { return "FREQ " + std::to_string(1000000 + i) + ";FREQ?"; },
         [](int i) { return std::to_string(1000000 + i); }},
        {"GPIB0::20::INSTR",
         [](int i) {
             return "CALC1:MARK1:X " + std::to_string(1000000 + i) +
                    ";:INIT;*WAI;:CALC1:MARK1:Y?;*OPC?";
         },
         [](int) { return std::string(); }},
    };
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (const Worker& worker : workers) {
        // A bare VISA session per thread: CVisaDevice shares its last reply between sessions.
        threads.emplace_back([&worker, &wrong] {
            visa::ViSession manager = visa::VI_NULL, session = visa::VI_NULL;
            visa::viOpenDefaultRM(&manager);
            visa::viOpen(manager, worker.resource, visa::VI_NO_LOCK, 0, &session);
            for (int i = 0; i < kQueries; ++i) {
                const std::string line = worker.command(i) + '\n', expected = worker.expected(i);
                char reply[256];
                visa::ViUInt32 count = 0;
                visa::viWrite(session, reinterpret_cast<visa::ViConstBuf>(line.data()),
                              static_cast<visa::ViUInt32>(line.size()), &count);
                if (visa::viRead(session, reinterpret_cast<visa::ViPBuf>(reply), sizeof reply,
                                 &count) != visa::VI_SUCCESS)
                    count = 0;
                const std::string text(reply, count > 0 ? count - 1 : 0);
                const bool ok = expected.empty()
                                    ? text.size() > 2 && text.substr(text.size() - 2) == ";1"
                                    : text == expected;
                if (!ok)
                    ++wrong;
            }
            visa::viClose(session);
            visa::viClose(manager);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    // Every message and every reply on a line of its own, none torn.
    EXPECT_EQ(ReadLog(options.logPath).size(), 3u * kQueries * 2);
}

}  // namespace
