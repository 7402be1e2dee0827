#include "Bench.h"

#include <stdexcept>

#include "AnalyzerModel.h"
#include "BenchPhysics.h"
#include "FaultyInstrument.h"
#include "GeneratorModel.h"
#include "SimClock.h"
#include "TrafficLog.h"

namespace sim {

namespace {

size_t Index(InstrumentId id) { return static_cast<size_t>(id); }

}  // namespace

Bench::Bench(const BenchOptions& options) : m_options(options) {
    m_clock = std::make_unique<SimClock>(m_options.speed);
    m_generator1 = std::make_shared<GeneratorModel>(InstrumentId::Generator1, m_options.idnGenerator1, m_mutex,
                                                    *m_clock, m_options);
    m_generator2 = std::make_shared<GeneratorModel>(InstrumentId::Generator2, m_options.idnGenerator2, m_mutex,
                                                    *m_clock, m_options);
    m_physics = std::make_unique<BenchPhysics>(m_options, m_generator1->State(), m_generator2->State());
    m_analyzer = std::make_shared<AnalyzerModel>(m_options.idnAnalyzer, m_mutex, *m_clock, m_options, *m_physics);
    if (!m_options.logPath.empty()) m_log = std::make_shared<TrafficLog>(m_options.logPath, *m_clock);

    const InstrumentId ids[] = {InstrumentId::Generator1, InstrumentId::Generator2, InstrumentId::Analyzer};
    ScpiInstrument* models[] = {m_generator1.get(), m_generator2.get(), m_analyzer.get()};
    std::shared_ptr<visa::MessageInstrument> served[] = {m_generator1, m_generator2, m_analyzer};
    for (size_t i = 0; i < 3; ++i) {
        std::vector<Fault> faults;
        for (const Fault& fault : m_options.faults) {
            if (fault.instrument != ids[i]) continue;
            faults.push_back(fault);
            if (fault.kind == FaultKind::Errors) models[i]->SetErrorOnEverySetting(true);
            if (fault.kind == FaultKind::EndlessErrors) models[i]->SetEndlessErrors(true);
        }
        if (!faults.empty()) {
            // Each instrument's garbage comes from its own stream, derived from the seed.
            served[i] = std::make_shared<FaultyInstrument>(served[i], faults, m_options.seed * 3 + i + 1);
        }
        if (m_log) served[i] = std::make_shared<LoggedInstrument>(served[i], m_log, ids[i]);
        m_served[i] = served[i];
    }
}

Bench::~Bench() = default;

std::shared_ptr<visa::MessageInstrument> Bench::Instrument(InstrumentId id) { return m_served[Index(id)]; }

double Bench::TruthPhaseDeg() {
    std::lock_guard lock(m_mutex);
    return m_physics->TruthPhaseDeg(m_clock->NowS());
}

double Bench::TemperatureC(InstrumentId generator) {
    std::lock_guard lock(m_mutex);
    return m_physics->TemperatureC(generator, m_clock->NowS());
}

double Bench::NowS() const { return m_clock->NowS(); }

void Bench::Idle(double seconds) {
    if (m_clock->Fast()) m_clock->AdvanceTo(m_clock->NowS() + seconds);
}

GeneratorState Bench::Generator(InstrumentId generator) const {
    std::lock_guard lock(m_mutex);
    return generator == InstrumentId::Generator2 ? m_generator2->State() : m_generator1->State();
}

AnalyzerState Bench::Analyzer() const {
    std::lock_guard lock(m_mutex);
    return m_analyzer->State();
}

GeneratorModel& Bench::GeneratorModelOf(InstrumentId generator) {
    if (generator == InstrumentId::Analyzer) throw std::invalid_argument("the analyzer is not a generator");
    return generator == InstrumentId::Generator2 ? *m_generator2 : *m_generator1;
}

AnalyzerModel& Bench::AnalyzerModelOf() { return *m_analyzer; }

}  // namespace sim
