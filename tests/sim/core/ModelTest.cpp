// The generator and analyzer models answering the program's own command sequences.
#include <gtest/gtest.h>

#include "GeneratorModel.h"
#include "ProgramSequences.h"
#include "Waveform.h"

using sim::InstrumentId;

namespace {

std::string ErrorList(CVisaDevice& device) {
    std::string list;
    for (int i = 0; i < 12; ++i) {
        const std::string reply = device.Query("SYST:ERR?");
        if (reply.rfind("0,", 0) == 0) break;
        list += reply + "\n";
    }
    return list;
}

// Where the program's model-family test finds "VRT".
bool VrtFamily(const std::string& identification) {
    const size_t at = identification.find("VRT");
    return at != std::string::npos && at > 0;
}

TEST(GeneratorModel, SetupOfOneGeneratorLeavesBothPathsPlayingWithCoupledOscillators) {
    WorkingDirectory directory;
    BenchRig rig;
    BenchSessions s(rig);
    EXPECT_EQ(s.gen1->Query("*IDN?"), "Maltoven,VRQ200A,100023,4.70");
    EXPECT_FALSE(VrtFamily(s.gen1->Query("*IDN?")));
    SetupGenerators(s);
    EXPECT_EQ(ErrorList(*s.gen1), "");
    const sim::GeneratorState state = rig.bench.Generator(InstrumentId::Generator1);
    for (const sim::GeneratorPath& path : state.paths) {
        EXPECT_TRUE(path.Modulated());
        EXPECT_TRUE(path.outputOn);
        EXPECT_EQ(path.levelDbm, 0.0);
        EXPECT_EQ(path.waveform, "dc.wv");
    }
    EXPECT_EQ(state.paths[0].loMode, sim::LoMode::Coupled);
    // Path B runs on path A's synthesizer: it reports path A's frequency.
    TuneGenerators(s, 10e6, -40.0);
    EXPECT_EQ(s.gen1->Query("SOURCE2:FREQ?"), "10000000");
    EXPECT_EQ(s.gen1->Query("SOUR:POW:LEV?;:SOURCE2:POW:POW?"), "-40;-40");
}

TEST(GeneratorModel, EachModelHasOnlyItsOwnListDirectory) {
    WorkingDirectory directory;
    sim::BenchOptions options = FastBench(sim::Wiring::Two);
    options.idnGenerator1 = "Maltoven,VRTK200,100031,2.10";
    BenchRig rig(options);
    BenchSessions s(rig);
    EXPECT_TRUE(VrtFamily(s.gen1->Query("*IDN?")));
    EXPECT_TRUE(VrtFamily(s.gen2->Query("*IDN?")));
    SetupGenerators(s);
    EXPECT_EQ(ErrorList(*s.gen1), "");
    EXPECT_EQ(ErrorList(*s.gen2), "");
    EXPECT_EQ(s.gen1->Query("MMEM:CDIR?"), "\"/var/vrtk/Lists\"");
    EXPECT_TRUE(rig.bench.Generator(InstrumentId::Generator1).paths[0].Modulated());
    EXPECT_TRUE(rig.bench.Generator(InstrumentId::Generator2).paths[0].Modulated());

    // The other model's directory does not exist here, and stays unchanged.
    s.gen1->Write("MMEM:CDIR 'C:\\Program Files\\Maltoven\\VRQFirmware\\Lists'");
    EXPECT_EQ(ErrorList(*s.gen1), "-256,\"File name not found;no such directory\"\n");
    EXPECT_EQ(s.gen1->Query("MMEM:CDIR?"), "\"/var/vrtk/Lists\"");
    s.gen2->Write("SOURCE1:BB:ARB:WAV:SEL 'other.wv'");
    EXPECT_EQ(ErrorList(*s.gen2), "-256,\"File name not found\"\n");
    EXPECT_EQ(s.gen2->Query("SOURCE1:BB:ARB:WAV:SEL?"), "\"dc.wv\"");
}

TEST(GeneratorModel, OnlyAValidWaveformFilePlays) {
    const std::string valid = sim::MakeDcWaveform(0.0, 0.5);
    ASSERT_TRUE(sim::ParseWaveform(valid));
    EXPECT_NEAR(sim::ParseWaveform(valid)->phaseDeg, 90.0, 1e-9);
    std::string flipped = valid, truncated = valid.substr(0, valid.size() - 3), bent = sim::MakeDcWaveform(0.5, 0.0, 2);
    flipped[flipped.size() - 20] ^= 0x01;  // a sample byte: the checksum no longer matches
    bent[bent.find("data 8\n") + 7] ^= 0x10;  // the first sample differs from the second
    for (const std::string& bad : {std::string("not a waveform"), flipped, truncated, bent, valid + "x",
                                   sim::MakeDcWaveform(0.0, 0.0)}) {
        EXPECT_FALSE(sim::ParseWaveform(bad));
    }

    WorkingDirectory directory;
    BenchRig rig;
    BenchSessions s(rig);
    SetupGenerators(s);
    TuneGenerators(s, 500e6, 0.0);
    SetupAnalyzer(s);
    ASSERT_EQ(BenchRig::WriteRaw(InstrumentId::Generator1, "MMEM:DATA 'bad.wv',#" +
                                 std::to_string(std::to_string(flipped.size()).size()) +
                                 std::to_string(flipped.size()) + flipped),
              visa::VI_SUCCESS);
    s.gen1->Write("SOURCE1:BB:ARB:WAV:SEL 'bad.wv'");
    EXPECT_EQ(ErrorList(*s.gen1), "-200,\"Execution error;not a waveform file\"\n");
    EXPECT_FALSE(rig.bench.Generator(InstrumentId::Generator1).paths[0].Modulated());
    // Without a playing waveform the offset no longer turns the carrier.
    s.analyzer->Write("INIT:CONT OFF");
    double readings[2];
    for (int i = 0; i < 2; ++i) {
        s.gen1->Query(std::string("SOURCE1:BB:POFF ") + (i ? "180" : "0") + ";*OPC?");
        readings[i] = ReadMarkerDbm(*s.analyzer);
    }
    EXPECT_NEAR(readings[0], readings[1], 0.2);
}

TEST(GeneratorModel, TemperaturePointsFollowTheFamilyAndWarmUp) {
    BenchRig rig(FastBench(sim::Wiring::Two));
    BenchSessions s(rig);
    const std::string vrq = "DIAG1:MEAS:POIN? 'DIAG_DACIF_TEMP_SENSOR';*OPC?";
    const std::string vrt = "DIAG1:MEAS:POIN? 'DIAG_VECBRD_TEMP2';*OPC?";
    EXPECT_EQ(s.gen1->Query(vrq), "0.28000;1");  // degrees / 100
    EXPECT_EQ(s.gen2->Query(vrt), "28.000;1");
    // Each family knows only its own point.
    EXPECT_EQ(s.gen1->Query(vrt), "1");
    EXPECT_EQ(ErrorList(*s.gen1), "-224,\"Illegal parameter value;unknown measurement point\"\n");

    rig.bench.Idle(900.0);  // one time constant
    EXPECT_NEAR(Number(s.gen1->Query(vrq)) * 100.0, 38.5 - 10.5 / std::exp(1.0), 0.01);
    EXPECT_NEAR(Number(s.gen2->Query(vrt)), 39.4 - 11.4 / std::exp(1.0), 0.01);
    rig.bench.Idle(36000.0);
    EXPECT_NEAR(Number(s.gen2->Query(vrt)), 39.4, 0.001);
}

TEST(AnalyzerModel, SetupLeavesTheAnalyzerOnTheCarrierAndReadsItsLevel) {
    WorkingDirectory directory;
    BenchRig rig(FastBench(sim::Wiring::Two));
    BenchSessions s(rig);
    SetupGenerators(s);
    for (const double levelDbm : {-10.0, -60.0, -80.0}) {
        SCOPED_TRACE(levelDbm);
        TuneGenerators(s, 1234567890.0, levelDbm);
        SetupAnalyzer(s);
        EXPECT_EQ(ErrorList(*s.analyzer), "");
        EXPECT_EQ(ErrorList(*s.gen1), "");
        const sim::AnalyzerState a = rig.bench.Analyzer();
        EXPECT_EQ(a.centerHz, 1234567890.0);
        EXPECT_EQ(a.spanHz, 50.0);
        EXPECT_EQ(a.markers[0].frequencyHz, 1234567890.0);
        EXPECT_TRUE(a.markers[0].on);
        EXPECT_EQ(a.referenceLevelDbm, levelDbm);
        EXPECT_EQ(a.rbwHz, levelDbm > -50 ? 1000.0 : levelDbm > -70 ? 100.0 : 10.0);
        EXPECT_TRUE(a.continuous);  // as the reset leaves it

        // Generator 2 alone: its level, plus the level mismatch of the second path.
        s.gen1->Write("OUTP1 OFF");
        s.analyzer->Write("INIT:CONT OFF");
        EXPECT_NEAR(Number(s.analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?")), levelDbm + 0.05, 0.1);
        s.gen1->Write("OUTP1 ON");
    }
}

TEST(AnalyzerModel, MarkerReadsTheLastCompletedSweepAndWaitHoldsTheNextCommand) {
    WorkingDirectory directory;
    BenchRig rig;
    BenchSessions s(rig);
    SetupGenerators(s);
    TuneGenerators(s, 100e6, -75.0);  // RBW 10 Hz: a sweep of more than a second
    SetupAnalyzer(s);
    s.gen1->Write("OUTP2 OFF");
    s.analyzer->Write("INIT:CONT OFF");
    const double carrierDbm = ReadMarkerDbm(*s.analyzer);
    EXPECT_NEAR(carrierDbm, -75.0, 0.1);

    s.gen1->Write("OUTP1 OFF");
    const double startS = rig.bench.NowS();
    s.analyzer->Write("INIT");
    EXPECT_NEAR(Number(s.analyzer->Query("CALC1:MARK1:Y?")), carrierDbm, 0.1);  // sweep still running
    EXPECT_LT(rig.bench.NowS() - startS, 0.1);
    s.analyzer->Write("*WAI");
    EXPECT_GT(rig.bench.NowS() - startS, 1.0);
    EXPECT_NEAR(Number(s.analyzer->Query("CALC1:MARK1:Y?")), -174.0 + 24.0 + 10.0, 0.1);  // noise floor

    // A marker off the carrier by more than the RBW sees only noise.
    s.gen1->Write("OUTP1 ON");
    s.analyzer->Write("BAND:RES 1000;:CALC1:MARK1:X 100002000");
    EXPECT_NEAR(ReadMarkerDbm(*s.analyzer), -120.0, 0.1);
}

}  // namespace

namespace {

TEST(Bench, AnInstrumentKeepsItsBenchAlive) {
    std::shared_ptr<visa::MessageInstrument> analyzer;
    {
        sim::BenchOptions options = FastBench();
        options.faults.push_back(*sim::ParseFault("analyzer:slow=1"));
        sim::Bench bench(options);
        analyzer = bench.Instrument(InstrumentId::Analyzer);
    }
    // A transport still serving a link after the bench object is gone.
    analyzer->Receive("FREQ:SPAN 50Hz;SPAN?\n");
    EXPECT_EQ(analyzer->Respond(), "50\n");
}

}  // namespace
