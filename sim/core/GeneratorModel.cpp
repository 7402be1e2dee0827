#include "GeneratorModel.h"

#include <cctype>

#include "BenchPhysics.h"
#include "Waveform.h"

namespace sim {

namespace {

constexpr const char* kSource = "[SOURce#2:]";

std::string ModelField(const std::string& identification) {
    const size_t first = identification.find(',');
    if (first == std::string::npos)
        return {};
    const size_t second = identification.find(',', first + 1);
    return identification.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"')
            quoted += c;
    }
    return quoted + '"';
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string OnOff(bool on) {
    return on ? "1" : "0";
}

}  // namespace

GeneratorModel::GeneratorModel(InstrumentId id, std::string identification, std::mutex& benchMutex,
                               SimClock& clock, const BenchOptions& options)
    : ScpiInstrument(benchMutex, clock, options.timing, identification),
      m_id(id),
      m_options(options) {
    const std::string model = ModelField(identification);
    m_vrtFamily = model.rfind("VRT", 0) == 0;
    m_listDirectory = model.find("VRTK") != std::string::npos
                          ? "/var/vrtk/Lists"
                          : "C:\\Program Files\\Maltoven\\VRQFirmware\\Lists";
    m_state.currentDirectory = m_listDirectory;
    AddCommands();
}

void GeneratorModel::Reset() {
    // Mass memory survives a reset; the settings do not.
    GeneratorState fresh;
    fresh.files = std::move(m_state.files);
    fresh.currentDirectory = m_listDirectory;
    m_state = std::move(fresh);
}

bool GeneratorModel::SameDirectory(const std::string& a, const std::string& b) const {
    auto trim = [](std::string s) {
        while (s.size() > 1 && (s.back() == '/' || s.back() == '\\'))
            s.pop_back();
        return s;
    };
    // Drive paths are case-insensitive, Unix paths are not.
    if (m_listDirectory.front() == '/')
        return trim(a) == trim(b);
    return Lower(trim(a)) == Lower(trim(b));
}

bool GeneratorModel::FileInListDirectory(const std::string& name, std::string& file) const {
    const size_t separator = name.find_last_of("/\\");
    if (separator == std::string::npos) {
        file = name;
        return SameDirectory(m_state.currentDirectory, m_listDirectory) && !file.empty();
    }
    file = name.substr(separator + 1);
    return SameDirectory(name.substr(0, separator), m_listDirectory) && !file.empty();
}

void GeneratorModel::SelectWaveform(GeneratorPath& path, const std::string& file) {
    path.waveform = file;
    path.waveformValid = false;
    path.waveformPhaseDeg = 0.0;
    auto it = m_state.files.find(file);
    if (it == m_state.files.end())
        return;
    if (std::optional<WaveformInfo> info = ParseWaveform(it->second)) {
        path.waveformValid = true;
        path.waveformPhaseDeg = info->phaseDeg;
    }
}

void GeneratorModel::AddCommands() {
    AddSynthesizerCommands();
    AddBasebandCommands();
    AddMemoryCommands();
    AddDiagnosticCommands();
}

void GeneratorModel::AddPathNumber(const std::string& pattern, const NumericRule& rule,
                                   double GeneratorPath::*member, double TimingOptions::*settleMs,
                                   ScpiHandler query) {
    if (!query) {
        query = [this, member](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(FormatNumber(Path(call).*member, 3));
        };
    }
    Engine().Add(
        std::string(kSource) + pattern,
        [this, rule, member, settleMs](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto value = call.Number(0, rule)) {
                Path(call).*member = *value;
                Overlapped(Timing().*settleMs / 1000.0);
            }
        },
        std::move(query));
}

void GeneratorModel::AddPathFlag(const std::string& pattern, bool GeneratorPath::*member) {
    Engine().Add(
        std::string(kSource) + pattern,
        [this, member](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto on = call.Boolean(0))
                Path(call).*member = *on;
        },
        [this, member](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(OnOff(Path(call).*member));
        });
}

void GeneratorModel::AddSynthesizerCommands() {
    ScpiEngine& e = Engine();
    const std::string source = kSource;
    AddPathNumber(
        "FREQuency[:CW]", {kMinFrequencyHz, kMaxFrequencyHz, 1e9, Unit::Hertz},
        &GeneratorPath::frequencyHz, &TimingOptions::frequencySettleMs, [this](ScpiCall& call) {
            if (!call.Expect(0, 0))
                return;
            // In coupled mode path B runs on path A's synthesizer.
            const GeneratorPath& a = m_state.paths[0];
            const bool followsA = call.Suffix("SOURCE") == 2 && a.loMode == LoMode::Coupled;
            call.Reply(FormatNumber(followsA ? a.frequencyHz : Path(call).frequencyHz, 3));
        });
    const NumericRule level{kMinLevelDbm, kMaxLevelDbm, -30.0, Unit::Dbm};
    AddPathNumber("POWer[:LEVel][:IMMediate][:AMPLitude]", level, &GeneratorPath::levelDbm,
                  &TimingOptions::levelSettleMs);
    // The firmware also takes POW:POW, which the phase bench software sends.
    AddPathNumber("POWer:POWer", level, &GeneratorPath::levelDbm, &TimingOptions::levelSettleMs);
    AddPathFlag("POWer:ALC[:STATe]", &GeneratorPath::alcOn);

    e.Add(
        source + "ROSCillator:SOURce",
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto choice = call.Choice(0, {"INTernal", "EXTernal"}))
                m_state.externalReference = *choice == 1;
        },
        [this](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(m_state.externalReference ? "EXT" : "INT");
        });

    e.Add(
        source + "FREQuency:LOSCillator:MODE",
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto choice = call.Choice(0, {"INTernal", "COUPled", "EXTernal"})) {
                Path(call).loMode = static_cast<LoMode>(*choice);
                Overlapped(Timing().frequencySettleMs / 1000.0);
            }
        },
        [this](ScpiCall& call) {
            if (!call.Expect(0, 0))
                return;
            static const char* const kNames[] = {"INT", "COUP", "EXT"};
            call.Reply(kNames[static_cast<int>(Path(call).loMode)]);
        });
    AddPathFlag("FREQuency:LOSCillator:OUTPut[:STATe]", &GeneratorPath::loOutputOn);
}

void GeneratorModel::AddBasebandCommands() {
    ScpiEngine& e = Engine();
    const std::string source = kSource;
    AddPathNumber("BB:POFFset", {-kMaxPhaseOffsetDeg, kMaxPhaseOffsetDeg, 0.0, Unit::Degree},
                  &GeneratorPath::phaseOffsetDeg, &TimingOptions::phaseSettleMs);
    e.Add(
        source + "BB:ARBitrary:WAVeform:SELect",
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            auto name = call.String(0);
            if (!name)
                return;
            std::string file;
            if (!FileInListDirectory(*name, file) || !m_state.files.count(file)) {
                call.Error(-256);
                return;
            }
            GeneratorPath& path = Path(call);
            SelectWaveform(path, file);
            if (!path.waveformValid)
                call.Error(-200, "not a waveform file");
        },
        [this](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(Quoted(Path(call).waveform));
        });
    AddPathFlag("BB:ARBitrary[:STATe]", &GeneratorPath::arbOn);
    AddPathFlag("IQ[:STATe]", &GeneratorPath::iqOn);

    e.Add(
        "OUTPut#2[:STATe]",
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto on = call.Boolean(0))
                m_state.paths[static_cast<size_t>(call.Suffix("OUTPUT") - 1)].outputOn = *on;
        },
        [this](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(
                    OnOff(m_state.paths[static_cast<size_t>(call.Suffix("OUTPUT") - 1)].outputOn));
        });
}

void GeneratorModel::AddMemoryCommands() {
    ScpiEngine& e = Engine();
    e.Add(
        "MMEMory:CDIRectory",
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            auto directory = call.String(0);
            if (!directory)
                return;
            if (!SameDirectory(*directory, m_listDirectory)) {
                call.Error(-256, "no such directory");
                return;
            }
            m_state.currentDirectory = m_listDirectory;
        },
        [this](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(Quoted(m_state.currentDirectory));
        });

    e.Add(
        "MMEMory:DATA",
        [this](ScpiCall& call) {
            if (!call.Expect(2, 2))
                return;
            auto name = call.String(0);
            if (!name)
                return;
            auto data = call.Block(1);
            if (!data)
                return;
            std::string file;
            if (!FileInListDirectory(*name, file)) {
                call.Error(-257);
                return;
            }
            if (data->size() > kMaxFileBytes) {
                call.Error(-200, "file too large");
                return;
            }
            m_state.files[file] = std::move(*data);
            Busy(static_cast<double>(m_state.files[file].size()) * 1e-6);  // about 1 MB/s to flash
            // A path playing this file plays the new content.
            for (GeneratorPath& path : m_state.paths) {
                if (path.waveform == file)
                    SelectWaveform(path, file);
            }
        },
        [this](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            auto name = call.String(0);
            if (!name)
                return;
            std::string file;
            auto it =
                FileInListDirectory(*name, file) ? m_state.files.find(file) : m_state.files.end();
            if (it == m_state.files.end()) {
                call.Error(-256);
                return;
            }
            const std::string length = std::to_string(it->second.size());
            call.Reply('#' + std::to_string(length.size()) + length + it->second);
        });
}

void GeneratorModel::AddDiagnosticCommands() {
    ScpiEngine& e = Engine();
    e.Add("DIAGnostic#1:MEASure:POINt", {}, [this](ScpiCall& call) {
        if (!call.Expect(1, 1))
            return;
        auto point = call.String(0);
        if (!point)
            return;
        const double temperatureC = GeneratorTemperatureC(m_options.physics, m_id, Now());
        if (m_vrtFamily && *point == "DIAG_VECBRD_TEMP2") {
            call.Reply(FormatFixed(temperatureC, 3));
        } else if (!m_vrtFamily && *point == "DIAG_DACIF_TEMP_SENSOR") {
            // This board reports hundredths of the temperature.
            call.Reply(FormatFixed(temperatureC / 100.0, 5));
        } else {
            call.Error(-224, "unknown measurement point");
        }
    });
}

}  // namespace sim
