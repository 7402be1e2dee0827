// The simulated instruments fed arbitrary program messages: lexer, header path resolution,
// numbers with units, blocks, common commands and the models' command trees, with responses
// taken as a client would. A fresh bench per input, in fast mode, so no input waits and none
// inherits another's state.
//
// Input: the instrument (first byte: 0 generator 1, 1 generator 2, 2 analyzer; bit 2 reads a
// response after each message), then messages separated by 0xFF bytes.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "sim/core/Bench.h"
#include "sim/core/ScpiLexer.h"
#include "sim/core/ScpiNumber.h"
#include "visa/InProcess.h"

namespace {

void CheckNumbers(std::string_view message) {
    for (const sim::ScpiUnit& unit : sim::LexProgramMessage(message)) {
        for (const sim::ScpiParameter& parameter : unit.parameters) {
            if (parameter.kind != sim::ScpiParameter::Kind::Token)
                continue;
            const sim::NumericRule rule{-1e12, 1e12, 0.0, sim::Unit::Hertz};
            const sim::NumericResult number = sim::ParseNumeric(parameter.text, rule);
            if (number.error != 0)
                continue;
            FUZZ_CHECK(number.value >= rule.min && number.value <= rule.max);
            sim::FormatNumber(number.value, 6);
            sim::FormatFixed(number.value, 3);
        }
    }
    sim::DescribeForLog(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    static const sim::InstrumentId kIds[3] = {
        sim::InstrumentId::Generator1, sim::InstrumentId::Generator2, sim::InstrumentId::Analyzer};
    sim::BenchOptions options;
    options.speed.fast = true;
    options.wiring = (settings & 8) ? sim::Wiring::Two : sim::Wiring::RfB;
    sim::Bench bench(options);
    const std::shared_ptr<visa::MessageInstrument> instrument =
        bench.Instrument(kIds[(settings & 3) % 3]);
    const bool readEach = (settings & 4) != 0;

    std::string_view rest = input.Rest();
    int responses = 0;
    while (!rest.empty()) {
        const std::size_t separator = rest.find('\xff');
        const std::string_view message = rest.substr(0, separator);
        rest.remove_prefix(separator == std::string_view::npos ? rest.size() : separator + 1);
        CheckNumbers(message);
        instrument->Receive(message);
        if (readEach && instrument->Respond())
            ++responses;
    }
    // Whatever is still queued; a well-behaved instrument holds a bounded number of responses.
    while (instrument->Respond())
        FUZZ_CHECK(++responses < 100000);
    std::optional<std::string> errors;
    instrument->Receive("SYST:ERR:COUN?\n");
    errors = instrument->Respond();
    FUZZ_CHECK(errors.has_value());
    return 0;
}
