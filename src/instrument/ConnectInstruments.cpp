#include "ConnectInstruments.h"

namespace korvel {

bool IsVrtFamily(std::string_view identification) {
    const size_t position = identification.find("VRT");
    return position != std::string_view::npos && position > 0;
}

bool ConnectInstruments(Instruments& instruments, ConnectValues& values, Window& window) {
    instruments.Release();

    ConnectValues edited = values;
    if (window.RunConnectDialog(edited))
        values = edited;
    // A cancelled dialog does not cancel the connection: the previous values are used.

    instruments.generator1 = std::make_unique<CVisaDevice>(values.visaGenerator1);
    if (instruments.generator1->IsConnected()) {
        instruments.connectionText = instruments.generator1->Query("*IDN?");
        instruments.generator1->Write("*CLS");
        instruments.generator1IsVrt = IsVrtFamily(instruments.connectionText);
    } else {
        instruments.connectionText = "No generator found on " + values.visaGenerator1 + "!";
    }

    if (!values.useRfB) {
        instruments.generator2 = std::make_unique<CVisaDevice>(values.visaGenerator2);
        if (instruments.generator2->IsConnected()) {
            const std::string identification = instruments.generator2->Query("*IDN?");
            instruments.connectionText += "\n" + identification;
            instruments.generator2->Write("*CLS");
            instruments.generator2IsVrt = IsVrtFamily(identification);
        } else {
            instruments.connectionText += "\nNo generator found on " + values.visaGenerator2 + "!";
        }
    }

    instruments.analyzer = std::make_unique<CVisaDevice>(values.visaAnalyzer);
    if (instruments.analyzer->IsConnected()) {
        instruments.connectionText += "\n" + instruments.analyzer->Query("*IDN?");
        instruments.analyzer->Write("*CLS");
    } else {
        instruments.connectionText += "\nNo analyzer found on " + values.visaAnalyzer + "!";
    }

    window.Refresh();
    instruments.connected = instruments.generator1->IsConnected() &&
                            instruments.analyzer->IsConnected() &&
                            (values.useRfB || instruments.generator2->IsConnected());
    return instruments.connected;
}

}  // namespace korvel
