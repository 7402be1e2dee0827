// Each injected fault as the program's session meets it in-process. What the user sees of every
// fault during each procedure, over the network, is the end-to-end fault matrix.
#include <gtest/gtest.h>

#include <chrono>

#include "BenchRig.h"

using sim::InstrumentId;

namespace {

sim::BenchOptions WithFaults(std::initializer_list<const char*> texts, sim::Wiring wiring = sim::Wiring::RfB) {
    sim::BenchOptions options = FastBench(wiring);
    for (const char* text : texts) options.faults.push_back(*sim::ParseFault(text));
    return options;
}

TEST(Faults, RefuseLeavesOnlyThatSessionUnconnected) {
    BenchRig rig(WithFaults({"gen1:refuse"}));
    EXPECT_FALSE(rig.Open(InstrumentId::Generator1)->IsConnected());
    EXPECT_EQ(rig.messages, std::vector<std::string>{"Cannot open device GPIB0::28::INSTR"});
    EXPECT_TRUE(rig.Open(InstrumentId::Analyzer)->IsConnected());
}

TEST(Faults, DropAfterLosesTheConnectionAndANewLinkCountsAgain) {
    BenchRig rig(WithFaults({"analyzer:drop-after=3"}));
    std::unique_ptr<CVisaDevice> analyzer = rig.Open(InstrumentId::Analyzer);  // the probe is message 1
    EXPECT_EQ(analyzer->Query("*IDN?"), "Maltoven,ZAS26,101077,1.91");
    EXPECT_FALSE(analyzer->Write("*CLS"));
    EXPECT_TRUE(analyzer->Write("FREQ:SPAN 50"));
    EXPECT_EQ(analyzer->Status(), visa::VI_ERROR_CONN_LOST);
    EXPECT_FALSE(analyzer->IsConnected());

    std::unique_ptr<CVisaDevice> again = rig.Open(InstrumentId::Analyzer);
    EXPECT_EQ(again->Query("FREQ:SPAN?"), "26500000000");
    EXPECT_TRUE(again->IsConnected());
}

TEST(Faults, HangAfterTimesTheSessionOut) {
    BenchRig rig(WithFaults({"gen1:hang-after=2"}));
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1);
    EXPECT_EQ(gen->Query("*IDN?"), "Maltoven,VRQ200A,100023,4.70");
    EXPECT_EQ(gen->Query("FREQ?"), "");
    EXPECT_EQ(gen->Status(), visa::VI_ERROR_TMO);
    EXPECT_EQ(rig.messages, std::vector<std::string>{"Cannot read from device GPIB0::28::INSTR"});
}

TEST(Faults, ErrorsAndEndlessErrorsShowInTheErrorListing) {
    BenchRig rig(WithFaults({"gen1:errors", "gen2:endless-errors"}, sim::Wiring::Two));
    std::unique_ptr<CVisaDevice> gen1 = rig.Open(InstrumentId::Generator1);
    std::unique_ptr<CVisaDevice> gen2 = rig.Open(InstrumentId::Generator2);
    gen1->Query("FREQ 10000000;*OPC?");
    gen1->ReadErrorQueue(true);
    EXPECT_EQ(rig.messages, std::vector<std::string>{"Error Queue of GPIB0::28::INSTR:\n\n-200,\"Execution error\""});
    // The setting was made all the same; queries queue nothing.
    EXPECT_EQ(gen1->Query("FREQ?"), "10000000");
    gen1->ReadErrorQueue(true);
    EXPECT_EQ(rig.messages.size(), 1u);

    gen2->ReadErrorQueue(true);
    ASSERT_EQ(rig.messages.size(), 2u);
    EXPECT_NE(rig.messages[1].find("(listing cut after"), std::string::npos);
    EXPECT_NE(rig.messages[1].find("-300,\"Device-specific error\""), std::string::npos);
}

TEST(Faults, SlowAndHugeRepliesStillCarryTheAnswer) {
    BenchRig rig(WithFaults({"gen1:slow=150", "analyzer:huge-reply"}));
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(gen->Query("*OPC?"), "1");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));  // even in fast mode

    // The reply fills CVisaDevice's buffer; the rest is drained, so the next reply is its own.
    std::unique_ptr<CVisaDevice> analyzer = rig.Open(InstrumentId::Analyzer);
    const std::string reply = analyzer->Query("*IDN?");
    EXPECT_EQ(reply.size(), CVisaDevice::kBufferSize - 1);
    EXPECT_EQ(reply.rfind("Maltoven,ZAS26,101077,1.91", 0), 0u);
    EXPECT_EQ(Number(analyzer->Query("FREQ:SPAN?")), 26.5e9);
}

}  // namespace
