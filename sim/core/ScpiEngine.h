// A table-driven SCPI command tree. Commands are registered by pattern, e.g.
// "[SOURce#2:]FREQuency[:CW]": upper case marks the short form, [ ] an optional keyword, "#N" a
// numeric suffix from 1 to N (an omitted suffix means 1). Execute() resolves each unit of a
// program message by the header path rule and calls the command's or the query's handler.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ErrorQueue.h"
#include "ScpiLexer.h"
#include "ScpiNumber.h"

namespace sim {

// One resolved unit as its handler sees it. The accessors queue the SCPI error themselves and
// return nothing when the parameter is unusable, so a handler changes nothing in that case.
class ScpiCall {
public:
    ScpiCall(const std::vector<ScpiParameter>& parameters,
             const std::map<std::string, int>& suffixes, ErrorQueue& errors);

    size_t Count() const { return m_parameters.size(); }
    // The numeric suffix given to the keyword with this long form (upper case); 1 when omitted.
    int Suffix(std::string_view longForm) const;
    // False (after -109 or -108) unless the unit has min to max parameters.
    bool Expect(size_t min, size_t max);

    std::optional<double> Number(size_t index, const NumericRule& rule);
    std::optional<bool> Boolean(size_t index);
    // Index of the matching choice; choices are written like keywords ("COUPled").
    std::optional<int> Choice(size_t index, std::initializer_list<std::string_view> choices);
    std::optional<std::string> String(size_t index);
    std::optional<std::string> Block(size_t index);

    void Reply(std::string text) { m_replies.push_back(std::move(text)); }
    void Error(int code, std::string_view detail = {}) { m_errors.Push(code, detail); }
    ErrorQueue& Errors() { return m_errors; }
    const std::vector<std::string>& Replies() const { return m_replies; }

private:
    const ScpiParameter* Parameter(size_t index);

    const std::vector<ScpiParameter>& m_parameters;
    const std::map<std::string, int>& m_suffixes;
    ErrorQueue& m_errors;
    std::vector<std::string> m_replies;
};

using ScpiHandler = std::function<void(ScpiCall&)>;

class ScpiEngine {
public:
    ScpiEngine();
    ~ScpiEngine();

    // Registers a command (set) and/or a query; either handler may be empty.
    void Add(std::string_view pattern, ScpiHandler set, ScpiHandler query = {});
    // Registers a common command by its header without '?' ("*IDN").
    void AddCommon(std::string_view header, ScpiHandler set, ScpiHandler query = {});
    // Called after each setting that executed (fault injection hooks in here).
    void SetAfterSetting(std::function<void(ErrorQueue&)> hook) {
        m_afterSetting = std::move(hook);
    }

    // Executes one program message (no terminator). Returns the replies of its queries joined
    // with ';', or nothing when no query answered.
    std::optional<std::string> Execute(std::string_view message, ErrorQueue& errors);

private:
    struct Node;
    struct Handlers {
        ScpiHandler set;
        ScpiHandler query;
    };
    struct Match {
        const Handlers* handlers = nullptr;
        std::map<std::string, int> suffixes;
        int error = -113;
    };

    Match Resolve(std::string_view header) const;
    bool ResolveFrom(const Node& node, const std::vector<std::string_view>& keywords, size_t index,
                     Match& match) const;

    std::unique_ptr<Node> m_root;
    std::vector<std::unique_ptr<Handlers>> m_handlers;
    std::map<std::string, Handlers> m_common;
    std::function<void(ErrorQueue&)> m_afterSetting;
};

}  // namespace sim
