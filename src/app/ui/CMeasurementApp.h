// The application: names the settings store, runs the main dialog modally, ends the program.
#pragma once

namespace korvel {

class CMeasurementApp {
public:
    // Always false: the program ends when the main dialog has been closed.
    bool InitInstance();
};

}  // namespace korvel
