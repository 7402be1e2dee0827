#include "ScpiInstrument.h"

#include <algorithm>

#include "visa/protocol/Ieee488.h"

namespace sim {

using namespace visa::protocol::ieee488;

ScpiInstrument::ScpiInstrument(std::mutex& benchMutex, SimClock& clock, const TimingOptions& timing,
                               std::string identification)
    : m_mutex(benchMutex),
      m_clock(clock),
      m_timing(timing),
      m_identification(std::move(identification)) {
    m_errors.SetListener([this](int code) {
        // Event status bits of IEEE 488.2: query, device-dependent, execution, command error.
        if (code <= -400 && code > -500)
            m_eventStatus |= kEsrQye;
        else if (code <= -300 && code > -400)
            m_eventStatus |= kEsrDde;
        else if (code <= -200 && code > -300)
            m_eventStatus |= kEsrExe;
        else if (code <= -100 && code > -200)
            m_eventStatus |= kEsrCme;
        else if (code > 0)
            m_eventStatus |= kEsrDde;
    });
    m_engine.SetAfterSetting([this](ErrorQueue& errors) {
        if (m_errorOnEverySetting)
            errors.Push(-200);
    });
    AddCommonCommands();
}

void ScpiInstrument::Overlapped(double seconds) {
    m_pendingUntil = std::max(m_pendingUntil, m_time + seconds);
}

void ScpiInstrument::AddCommonCommands() {
    ScpiEngine& e = m_engine;
    auto waitPending = [this] { m_time = std::max(m_time, m_pendingUntil); };
    auto updateOpc = [this] {
        if (m_opcAt >= 0.0 && m_time >= m_opcAt) {
            m_eventStatus |= kEsrOpc;
            m_opcAt = -1.0;
        }
    };

    e.AddCommon("*IDN", {}, [this](ScpiCall& call) {
        if (call.Expect(0, 0))
            call.Reply(m_identification);
    });
    e.AddCommon("*RST", [this](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        Reset();
        Overlapped(m_timing.resetMs / 1000.0);
    });
    e.AddCommon("*CLS", [this](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        m_errors.Clear();
        m_eventStatus = 0;
        m_opcAt = -1.0;
    });
    e.AddCommon(
        "*OPC",
        [this](ScpiCall& call) {
            if (call.Expect(0, 0))
                m_opcAt = m_pendingUntil;
        },
        [waitPending](ScpiCall& call) {
            if (!call.Expect(0, 0))
                return;
            waitPending();
            call.Reply("1");
        });
    e.AddCommon("*WAI", [waitPending](ScpiCall& call) {
        if (call.Expect(0, 0))
            waitPending();
    });
    e.AddCommon("*ESR", {}, [this, updateOpc](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        updateOpc();
        call.Reply(std::to_string(m_eventStatus));
        m_eventStatus = 0;
    });
    auto registerValue = [](int& value) {
        return [&value](ScpiCall& call) {
            if (!call.Expect(1, 1))
                return;
            if (auto number = call.Number(0, NumericRule{0, 255, 0, Unit::None}))
                value = static_cast<int>(*number);
        };
    };
    auto registerQuery = [](int& value) {
        return [&value](ScpiCall& call) {
            if (call.Expect(0, 0))
                call.Reply(std::to_string(value));
        };
    };
    e.AddCommon("*ESE", registerValue(m_eventEnable), registerQuery(m_eventEnable));
    e.AddCommon("*SRE", registerValue(m_serviceEnable), registerQuery(m_serviceEnable));
    e.AddCommon("*STB", {}, [this, updateOpc](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        updateOpc();
        int status = 0;
        if (!m_errors.Empty())
            status |= kStbErrorQueue;
        if (!m_output.empty())
            status |= kStbMav;
        if (m_eventStatus & m_eventEnable)
            status |= kStbEsb;
        if (status & m_serviceEnable)
            status |= kStbRqs;
        call.Reply(std::to_string(status));
    });
    e.AddCommon("*TST", {}, [](ScpiCall& call) {
        if (call.Expect(0, 0))
            call.Reply("0");
    });
    e.Add("SYSTem:ERRor[:NEXT]", {}, [this](ScpiCall& call) {
        if (!call.Expect(0, 0))
            return;
        if (m_endlessErrors && m_errors.Empty()) {
            call.Reply("-300,\"Device-specific error\"");
            return;
        }
        call.Reply(m_errors.Pop());
    });
    e.Add("SYSTem:ERRor:COUNt", {}, [this](ScpiCall& call) {
        if (call.Expect(0, 0))
            call.Reply(std::to_string(m_errors.Size()));
    });
}

void ScpiInstrument::Receive(std::string_view message) {
    std::lock_guard lock(m_mutex);
    m_unterminatedLogged = false;
    for (std::string_view programMessage : SplitProgramMessages(message))
        Execute(programMessage);
}

void ScpiInstrument::Execute(std::string_view message) {
    if (!m_output.empty()) {
        // The client gave up on the previous response.
        m_output.clear();
        m_errors.Push(-410);
    }
    m_time = std::max(m_clock.NowS(), m_busyUntil) + m_timing.messageMs / 1000.0;
    if (message.size() > kMaxProgramMessageBytes) {
        m_errors.Push(-363);
    } else if (std::optional<std::string> reply = m_engine.Execute(message, m_errors)) {
        m_output.push_back(Response{*reply + '\n', m_time});
    }
    m_busyUntil = m_time;
    m_clock.AdvanceTo(m_time);
}

std::optional<std::string> ScpiInstrument::Respond() {
    Response response;
    {
        std::lock_guard lock(m_mutex);
        if (!PopResponse(response))
            return std::nullopt;
    }
    m_clock.WaitUntil(response.readyAt);
    return std::move(response.text);
}

std::optional<std::optional<std::string>> ScpiInstrument::TryRespond() {
    Response response;
    {
        std::lock_guard lock(m_mutex);
        // Fast mode never waits: bench time simply moves on to the response.
        if (!m_clock.Fast() && !m_output.empty() && m_output.front().readyAt > m_clock.NowS()) {
            return std::nullopt;
        }
        if (!PopResponse(response))
            return std::optional<std::string>();
    }
    m_clock.AdvanceTo(response.readyAt);
    return std::optional(std::move(response.text));
}

bool ScpiInstrument::PopResponse(Response& response) {
    if (m_output.empty()) {
        // Logged once per read attempt, however often a transport polls.
        if (!m_unterminatedLogged)
            m_errors.Push(-420);
        m_unterminatedLogged = true;
        return false;
    }
    response = std::move(m_output.front());
    m_output.pop_front();
    return true;
}

void ScpiInstrument::Clear() {
    std::lock_guard lock(m_mutex);
    m_output.clear();
    m_unterminatedLogged = false;
}

}  // namespace sim
