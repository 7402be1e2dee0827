// What the program's session meets of a fault in-process and the end-to-end fault matrix does not
// show: a new link after a drop, settings that queue errors while queries do not, a slow reply in
// fast mode, and a huge reply drained so that the next reply is its own.
#include <gtest/gtest.h>

#include <chrono>

#include "BenchRig.h"

using sim::InstrumentId;

namespace {

sim::BenchOptions WithFaults(std::initializer_list<const char*> texts) {
    sim::BenchOptions options = FastBench();
    for (const char* text : texts)
        options.faults.push_back(*sim::ParseFault(text));
    return options;
}

TEST(Faults, ANewLinkAfterADropCountsAgainAndOnlySettingsQueueErrors) {
    BenchRig rig(WithFaults({"analyzer:drop-after=3", "gen1:errors"}));
    std::unique_ptr<CVisaDevice> analyzer =
        rig.Open(InstrumentId::Analyzer);  // the probe is message 1
    EXPECT_EQ(analyzer->Query("*IDN?"), "Maltoven,ZAS26,101077,1.91");
    EXPECT_FALSE(analyzer->Write("*CLS"));
    EXPECT_TRUE(analyzer->Write("FREQ:SPAN 50"));  // true: it failed
    EXPECT_EQ(analyzer->Status(), visa::VI_ERROR_CONN_LOST);
    EXPECT_EQ(rig.Open(InstrumentId::Analyzer)->Query("FREQ:SPAN?"), "26500000000");

    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1);
    gen->Query("FREQ 10000000;*OPC?");
    gen->ReadErrorQueue(true);
    EXPECT_EQ(rig.messages, std::vector<std::string>{
                                "Error Queue of GPIB0::28::INSTR:\n\n-200,\"Execution error\""});
    EXPECT_EQ(gen->Query("FREQ?"), "10000000");  // the setting was made all the same
    gen->ReadErrorQueue(true);
    EXPECT_EQ(rig.messages.size(), 1u);
}

TEST(Faults, SlowAndHugeRepliesStillCarryTheAnswer) {
    BenchRig rig(WithFaults({"gen1:slow=150", "analyzer:huge-reply"}));
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(gen->Query("*OPC?"), "1");
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(150));  // even in fast mode

    // The reply fills CVisaDevice's buffer; the rest is drained, so the next reply is its own.
    std::unique_ptr<CVisaDevice> analyzer = rig.Open(InstrumentId::Analyzer);
    const std::string reply = analyzer->Query("*IDN?");
    EXPECT_EQ(reply.size(), CVisaDevice::kBufferSize - 1);
    EXPECT_EQ(reply.rfind("Maltoven,ZAS26,101077,1.91", 0), 0u);
    EXPECT_EQ(Number(analyzer->Query("FREQ:SPAN?")), 26.5e9);
}

}  // namespace
