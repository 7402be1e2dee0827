// The generator and analyzer models: what each model accepts, and what the marker reads when.
#include <gtest/gtest.h>

#include "BenchRig.h"
#include "sim/core/Waveform.h"

using sim::InstrumentId;

namespace {

TEST(GeneratorModel, EachModelHasOnlyItsOwnListDirectory) {
    WorkingDirectory directory;
    sim::BenchOptions options = FastBench(sim::Wiring::Two);
    options.idnGenerator1 = "Maltoven,VRTK200,100031,2.10";
    BenchRig rig(options);
    std::unique_ptr<CVisaDevice> vrt = rig.Open(InstrumentId::Generator1),
                                 other = rig.Open(InstrumentId::Generator2);
    EXPECT_EQ(vrt->Query("MMEM:CDIR?"), "\"/var/vrtk/Lists\"");
    // The other model's directory does not exist here, and the current one stays.
    vrt->Write(std::string("MMEM:CDIR '") + kVrqLists + "'");
    EXPECT_EQ(ErrorList(*vrt), "-256,\"File name not found;no such directory\"\n");
    EXPECT_EQ(vrt->Query("MMEM:CDIR?"), "\"/var/vrtk/Lists\"");
    // A waveform that was never transferred is not found; the selection stays.
    other->CopyFile("dc.wv", kVrqLists);
    other->Write("SOURCE1:BB:ARB:WAV:SEL 'dc.wv';:SOURCE1:BB:ARB:WAV:SEL 'other.wv'");
    EXPECT_EQ(ErrorList(*other), "-256,\"File name not found\"\n");
    EXPECT_EQ(other->Query("SOURCE1:BB:ARB:WAV:SEL?"), "\"dc.wv\"");
}

TEST(GeneratorModel, OnlyAValidWaveformFilePlays) {
    const std::string valid = sim::MakeDcWaveform(0.0, 0.5);
    ASSERT_TRUE(sim::ParseWaveform(valid));
    EXPECT_NEAR(sim::ParseWaveform(valid)->phaseDeg, 90.0, 1e-9);
    std::string flipped = valid, truncated = valid.substr(0, valid.size() - 3),
                bent = sim::MakeDcWaveform(0.5, 0.0, 2);
    flipped[flipped.size() - 20] ^= 0x01;     // a sample byte: the checksum no longer matches
    bent[bent.find("data 8\n") + 7] ^= 0x10;  // the first sample differs from the second
    for (const std::string& bad : {std::string("not a waveform"), flipped, truncated, bent,
                                   valid + "x", sim::MakeDcWaveform(0.0, 0.0)}) {
        EXPECT_FALSE(sim::ParseWaveform(bad));
    }

    WorkingDirectory directory;
    BenchRig rig;
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1);
    PlayBothPaths(*gen, 500e6, 0.0);
    ASSERT_TRUE(rig.bench.Generator(InstrumentId::Generator1).paths[0].Modulated());
    const std::string size = std::to_string(flipped.size());
    ASSERT_EQ(
        BenchRig::WriteRaw(InstrumentId::Generator1,
                           "MMEM:DATA 'bad.wv',#" + std::to_string(size.size()) + size + flipped),
        visa::VI_SUCCESS);
    gen->Write("SOURCE1:BB:ARB:WAV:SEL 'bad.wv'");
    EXPECT_EQ(ErrorList(*gen), "-200,\"Execution error;not a waveform file\"\n");
    EXPECT_FALSE(rig.bench.Generator(InstrumentId::Generator1).paths[0].Modulated());
}

TEST(GeneratorModel, TemperaturePointsFollowTheFamilyAndWarmUp) {
    BenchRig rig(FastBench(sim::Wiring::Two));
    std::unique_ptr<CVisaDevice> vrq = rig.Open(InstrumentId::Generator1),
                                 vrt = rig.Open(InstrumentId::Generator2);
    const std::string vrqPoint = "DIAG1:MEAS:POIN? 'DIAG_DACIF_TEMP_SENSOR';*OPC?";
    const std::string vrtPoint = "DIAG1:MEAS:POIN? 'DIAG_VECBRD_TEMP2';*OPC?";
    EXPECT_EQ(vrq->Query(vrqPoint), "0.28000;1");  // degrees / 100
    EXPECT_EQ(vrt->Query(vrtPoint), "28.000;1");
    // Each family knows only its own point.
    EXPECT_EQ(vrq->Query(vrtPoint), "1");
    EXPECT_EQ(ErrorList(*vrq), "-224,\"Illegal parameter value;unknown measurement point\"\n");

    rig.bench.Idle(900.0);  // one time constant
    EXPECT_NEAR(Number(vrq->Query(vrqPoint)) * 100.0, 38.5 - 10.5 / std::exp(1.0), 0.01);
    EXPECT_NEAR(Number(vrt->Query(vrtPoint)), 39.4 - 11.4 / std::exp(1.0), 0.01);
    rig.bench.Idle(36000.0);
    EXPECT_NEAR(Number(vrt->Query(vrtPoint)), 39.4, 0.001);
}

TEST(AnalyzerModel, MarkerReadsTheLastCompletedSweepAndWaitHoldsTheNextCommand) {
    BenchRig rig;
    std::unique_ptr<CVisaDevice> gen = rig.Open(InstrumentId::Generator1),
                                 analyzer = rig.Open(InstrumentId::Analyzer);
    gen->Query("FREQ 100000000;:SOURCE1:POW -75;:OUTP1 ON;*OPC?");
    // RBW 10 Hz: a sweep of more than a second.
    analyzer->Write(
        "FREQ:CENT 100000000;SPAN 50Hz;:BAND:RES 10;:CALC1:MARK1:X 100000000;:INIT:CONT OFF");
    const double carrierDbm = Number(analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?"));
    EXPECT_NEAR(carrierDbm, -75.0, 0.1);

    gen->Write("OUTP1 OFF");
    const double startS = rig.bench.NowS();
    analyzer->Write("INIT");
    EXPECT_NEAR(Number(analyzer->Query("CALC1:MARK1:Y?")), carrierDbm, 0.1);  // sweep still running
    EXPECT_LT(rig.bench.NowS() - startS, 0.1);
    analyzer->Write("*WAI");
    EXPECT_GT(rig.bench.NowS() - startS, 1.0);
    EXPECT_NEAR(Number(analyzer->Query("CALC1:MARK1:Y?")), -174.0 + 24.0 + 10.0,
                0.1);  // noise floor

    // A marker off the carrier by more than the RBW sees only noise.
    gen->Write("OUTP1 ON");
    analyzer->Write("BAND:RES 1000;:CALC1:MARK1:X 100002000");
    EXPECT_NEAR(Number(analyzer->Query("INIT;*WAI;CALC1:MARK1:Y?")), -120.0, 0.1);
}

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
