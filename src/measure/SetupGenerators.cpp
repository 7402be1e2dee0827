#include "SetupGenerators.h"

#include "instrument/MessageSink.h"

namespace korvel {

const char* ListDirectory(std::string_view identification) {
    const size_t position = identification.find("VRTK");
    return position != std::string_view::npos && position > 0 ? kVrtkListDirectory
                                                              : kDefaultListDirectory;
}

namespace {

// A file refused for its size would leave the generator playing whatever it held before, and
// the set-up would look complete: say so. A failed send needs no word here; the session's next
// read reports it.
void LoadWaveform(CVisaDevice& generator, const char* directory) {
    if (generator.CopyFile(kWaveformFile, directory) && generator.IsConnected()) {
        ShowMessage(std::string(kWaveformFile) + " was not loaded into " + generator.Resource() +
                    ": it is larger than " + std::to_string(CVisaDevice::kMaxFileSize) + " bytes.");
    }
}

void PlayWaveform(CVisaDevice& generator, int source) {
    const std::string prefix = "SOURCE" + std::to_string(source) + ":BB:ARB:";
    generator.Write(prefix + "WAV:SEL '" + kWaveformFile + "'");
    generator.Write(prefix + "STAT ON");
}

}  // namespace

void SetupGenerators(Instruments& instruments, bool useRfB) {
    if (!instruments.connected || (!useRfB && !instruments.generator2))
        return;
    CVisaDevice& generator1 = *instruments.generator1;
    // A refused or failed transfer does not stop the set-up; only an unreadable file does.

    if (useRfB) {
        generator1.Write("*RST");
        generator1.Query("*OPC?");
        generator1.Write("SOURCE1:FREQ:LOSC:MODE COUPLED");
        LoadWaveform(generator1, kDefaultListDirectory);
        PlayWaveform(generator1, 1);
        PlayWaveform(generator1, 2);
        generator1.Write("SOURCE1:IQ:STAT ON");
        generator1.Write("SOURCE2:IQ:STAT ON");
        generator1.Write("SOURCE1:POW 0");
        generator1.Write("SOURCE2:POW 0");
        generator1.Write("OUTP1 ON");
        generator1.Write("OUTP2 ON");
        return;
    }

    CVisaDevice& generator2 = *instruments.generator2;
    generator1.Write("*RST");
    generator2.Write("*RST");
    generator1.Query("*OPC?");
    generator2.Query("*OPC?");
    generator1.Write("SOUR:POW:ALC ON");
    generator2.Write("SOUR:POW:ALC ON");
    generator1.Write("SOURCE1:FREQ:LOSC:OUTP:STATE ON");
    generator2.Write("SOURCE1:FREQ:LOSC:MODE EXT");
    LoadWaveform(generator1, ListDirectory(generator1.Query("*IDN?")));
    PlayWaveform(generator1, 1);
    LoadWaveform(generator2, ListDirectory(generator2.Query("*IDN?")));
    PlayWaveform(generator2, 1);
    generator1.Write("SOURCE1:IQ:STAT ON");
    generator2.Write("SOURCE1:IQ:STAT ON");
    generator1.Write("SOURCE1:POW 0");
    generator2.Write("SOURCE1:POW 0");
    generator1.Write("OUTP1 ON");
    generator2.Write("OUTP1 ON");
}

}  // namespace korvel
