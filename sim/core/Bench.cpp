#include "Bench.h"

#include <stdexcept>

#include "AnalyzerModel.h"
#include "BenchPhysics.h"
#include "FaultyInstrument.h"
#include "GeneratorModel.h"
#include "SimClock.h"
#include "TrafficLog.h"

namespace sim {

// Everything the models refer to, in one block that the served instruments share.
struct Bench::Core {
    explicit Core(const BenchOptions& benchOptions)
        : options(benchOptions),
          clock(options.speed),
          generator1(InstrumentId::Generator1, options.idnGenerator1, mutex, clock, options),
          generator2(InstrumentId::Generator2, options.idnGenerator2, mutex, clock, options),
          physics(options, generator1.State(), generator2.State()),
          analyzer(options.idnAnalyzer, mutex, clock, options, physics) {}

    const BenchOptions options;
    std::mutex mutex;
    SimClock clock;
    GeneratorModel generator1;
    GeneratorModel generator2;
    BenchPhysics physics;
    AnalyzerModel analyzer;
    std::shared_ptr<TrafficLog> log;
    std::shared_ptr<visa::MessageInstrument> served[3];
};

Bench::Bench(const BenchOptions& options) : m_core(std::make_shared<Core>(options)) {
    Core& core = *m_core;
    if (!core.options.logPath.empty())
        core.log = std::make_shared<TrafficLog>(core.options.logPath, core.clock);

    const InstrumentId ids[] = {InstrumentId::Generator1, InstrumentId::Generator2,
                                InstrumentId::Analyzer};
    ScpiInstrument* models[] = {&core.generator1, &core.generator2, &core.analyzer};
    for (size_t i = 0; i < 3; ++i) {
        // Shares ownership of the whole core: the instrument keeps its bench alive.
        std::shared_ptr<visa::MessageInstrument> served(m_core, models[i]);
        std::vector<Fault> faults;
        for (const Fault& fault : core.options.faults) {
            if (fault.instrument != ids[i])
                continue;
            faults.push_back(fault);
            if (fault.kind == FaultKind::Errors)
                models[i]->SetErrorOnEverySetting(true);
            if (fault.kind == FaultKind::EndlessErrors)
                models[i]->SetEndlessErrors(true);
        }
        if (!faults.empty()) {
            // Each instrument's garbage comes from its own stream, derived from the seed.
            served =
                std::make_shared<FaultyInstrument>(served, faults, core.options.seed * 3 + i + 1);
        }
        if (core.log)
            served = std::make_shared<LoggedInstrument>(served, core.log, ids[i]);
        core.served[i] = served;
    }
}

Bench::~Bench() {
    // The served chains own the core; let go of them so that the last holder frees it.
    for (auto& served : m_core->served)
        served.reset();
}

std::shared_ptr<visa::MessageInstrument> Bench::Instrument(InstrumentId id) {
    return m_core->served[static_cast<size_t>(id)];
}

double Bench::TruthPhaseDeg() {
    std::lock_guard lock(m_core->mutex);
    return m_core->physics.TruthPhaseDeg(m_core->clock.NowS());
}

double Bench::TemperatureC(InstrumentId generator) {
    std::lock_guard lock(m_core->mutex);
    return m_core->physics.TemperatureC(generator, m_core->clock.NowS());
}

double Bench::NowS() const {
    return m_core->clock.NowS();
}

void Bench::Idle(double seconds) {
    if (m_core->clock.Fast())
        m_core->clock.AdvanceTo(m_core->clock.NowS() + seconds);
}

GeneratorState Bench::Generator(InstrumentId generator) const {
    std::lock_guard lock(m_core->mutex);
    return generator == InstrumentId::Generator2 ? m_core->generator2.State()
                                                 : m_core->generator1.State();
}

AnalyzerState Bench::Analyzer() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->analyzer.State();
}

std::mutex& Bench::Mutex() const {
    return m_core->mutex;
}

GeneratorModel& Bench::GeneratorModelOf(InstrumentId generator) {
    if (generator == InstrumentId::Analyzer)
        throw std::invalid_argument("the analyzer is not a generator");
    return generator == InstrumentId::Generator2 ? m_core->generator2 : m_core->generator1;
}

AnalyzerModel& Bench::AnalyzerModelOf() {
    return m_core->analyzer;
}
SimClock& Bench::Clock() {
    return m_core->clock;
}
BenchPhysics& Bench::Physics() {
    return m_core->physics;
}
const BenchOptions& Bench::Options() const {
    return m_core->options;
}

}  // namespace sim
