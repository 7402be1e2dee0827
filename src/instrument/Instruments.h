// The connection state: the three sessions and what the connection procedure learnt.
#pragma once

#include <memory>
#include <string>

#include "CVisaDevice.h"

namespace korvel {

struct Instruments {
    std::unique_ptr<CVisaDevice> generator1;
    std::unique_ptr<CVisaDevice> generator2;  // absent whenever RF B of generator 1 is used
    std::unique_ptr<CVisaDevice> analyzer;
    // Model family of each generator: "VRT" found after the first character of its
    // identification. Chooses the temperature query of the result files.
    bool generator1IsVrt = false;
    bool generator2IsVrt = false;
    // Every instrument the measurement needs is connected.
    bool connected = false;
    std::string connectionText;

    // Closes the sessions in the order generator 1, generator 2, analyzer.
    void Release() {
        generator1.reset();
        generator2.reset();
        analyzer.reset();
    }
};

}  // namespace korvel
