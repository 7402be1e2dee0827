#include "ScpiEngine.h"

#include <cmath>
#include <stdexcept>

namespace sim {

namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

// "FREQuency" -> short "FREQ", long "FREQUENCY".
std::string ShortForm(std::string_view keyword) {
    std::string shortForm;
    for (char c : keyword) {
        if (c >= 'a' && c <= 'z')
            break;
        shortForm += c;
    }
    return shortForm;
}

bool MatchesKeyword(std::string_view input, std::string_view keyword) {
    const std::string upper = Upper(input);
    return upper == ShortForm(keyword) || upper == Upper(keyword);
}

bool IsHeaderChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '*' || c == '?';
}

struct PatternKeyword {
    std::string keyword;  // as written, without "#N"
    int suffixMax = 0;
    bool optional = false;
};

std::vector<PatternKeyword> ParsePattern(std::string_view pattern) {
    std::vector<PatternKeyword> keywords;
    size_t pos = 0;
    while (pos < pattern.size()) {
        bool optional = false;
        if (pattern[pos] == '[') {
            optional = true;
            ++pos;
        }
        if (pos < pattern.size() && pattern[pos] == ':')
            ++pos;
        std::string text;
        while (pos < pattern.size() && pattern[pos] != ':' && pattern[pos] != '[' &&
               pattern[pos] != ']') {
            text += pattern[pos++];
        }
        if (optional) {
            if (pos < pattern.size() && pattern[pos] == ':')
                ++pos;
            if (pos >= pattern.size() || pattern[pos] != ']')
                throw std::logic_error("bad SCPI pattern");
            ++pos;
        }
        PatternKeyword keyword;
        keyword.optional = optional;
        const size_t hash = text.find('#');
        if (hash != std::string::npos) {
            keyword.suffixMax = std::stoi(text.substr(hash + 1));
            text.erase(hash);
        }
        if (text.empty())
            throw std::logic_error("bad SCPI pattern");
        keyword.keyword = text;
        keywords.push_back(std::move(keyword));
    }
    return keywords;
}

}  // namespace

struct ScpiEngine::Node {
    std::string keyword;  // long form in its documented case
    int suffixMax = 0;
    std::vector<std::unique_ptr<Node>> children;
    const Handlers* handlers = nullptr;

    Node* Child(const PatternKeyword& pattern) {
        for (auto& child : children) {
            if (Upper(child->keyword) == Upper(pattern.keyword))
                return child.get();
        }
        auto node = std::make_unique<Node>();
        node->keyword = pattern.keyword;
        node->suffixMax = pattern.suffixMax;
        children.push_back(std::move(node));
        return children.back().get();
    }
};

ScpiCall::ScpiCall(const std::vector<ScpiParameter>& parameters,
                   const std::map<std::string, int>& suffixes, ErrorQueue& errors)
    : m_parameters(parameters), m_suffixes(suffixes), m_errors(errors) {}

int ScpiCall::Suffix(std::string_view longForm) const {
    auto it = m_suffixes.find(std::string(longForm));
    return it == m_suffixes.end() ? 1 : it->second;
}

bool ScpiCall::Expect(size_t min, size_t max) {
    if (m_parameters.size() < min) {
        Error(-109);
        return false;
    }
    if (m_parameters.size() > max) {
        Error(-108);
        return false;
    }
    return true;
}

const ScpiParameter* ScpiCall::Parameter(size_t index) {
    if (index >= m_parameters.size()) {
        Error(-109);
        return nullptr;
    }
    return &m_parameters[index];
}

std::optional<double> ScpiCall::Number(size_t index, const NumericRule& rule) {
    const ScpiParameter* parameter = Parameter(index);
    if (!parameter)
        return std::nullopt;
    if (parameter->kind != ScpiParameter::Kind::Token) {
        Error(-104);
        return std::nullopt;
    }
    const NumericResult result = ParseNumeric(parameter->text, rule);
    if (result.error != 0) {
        Error(result.error);
        return std::nullopt;
    }
    return result.value;
}

std::optional<bool> ScpiCall::Boolean(size_t index) {
    const ScpiParameter* parameter = Parameter(index);
    if (!parameter)
        return std::nullopt;
    if (parameter->kind != ScpiParameter::Kind::Token) {
        Error(-104);
        return std::nullopt;
    }
    const std::string upper = Upper(parameter->text);
    if (upper == "ON")
        return true;
    if (upper == "OFF")
        return false;
    // Numeric booleans: any value that rounds to a non-zero integer is ON.
    const NumericResult number = ParseNumeric(upper, NumericRule{-1e9, 1e9, 0.0, Unit::None});
    if (number.error == 0)
        return std::lround(number.value) != 0;
    Error(-224);
    return std::nullopt;
}

std::optional<int> ScpiCall::Choice(size_t index, std::initializer_list<std::string_view> choices) {
    const ScpiParameter* parameter = Parameter(index);
    if (!parameter)
        return std::nullopt;
    if (parameter->kind != ScpiParameter::Kind::Token) {
        Error(-104);
        return std::nullopt;
    }
    int i = 0;
    for (std::string_view choice : choices) {
        if (MatchesKeyword(parameter->text, choice))
            return i;
        ++i;
    }
    Error(-224);
    return std::nullopt;
}

std::optional<std::string> ScpiCall::String(size_t index) {
    const ScpiParameter* parameter = Parameter(index);
    if (!parameter)
        return std::nullopt;
    if (parameter->kind != ScpiParameter::Kind::String) {
        Error(-104);
        return std::nullopt;
    }
    return parameter->text;
}

std::optional<std::string> ScpiCall::Block(size_t index) {
    const ScpiParameter* parameter = Parameter(index);
    if (!parameter)
        return std::nullopt;
    if (parameter->kind != ScpiParameter::Kind::Block) {
        Error(-104);
        return std::nullopt;
    }
    return parameter->text;
}

ScpiEngine::ScpiEngine() : m_root(std::make_unique<Node>()) {}
ScpiEngine::~ScpiEngine() = default;

void ScpiEngine::Add(std::string_view pattern, ScpiHandler set, ScpiHandler query) {
    const std::vector<PatternKeyword> keywords = ParsePattern(pattern);
    m_handlers.push_back(std::make_unique<Handlers>(Handlers{std::move(set), std::move(query)}));
    const Handlers* handlers = m_handlers.back().get();
    // Every combination of the optional keywords becomes a path of its own to the same handlers.
    size_t optionalCount = 0;
    for (const auto& keyword : keywords)
        optionalCount += keyword.optional ? 1 : 0;
    for (size_t mask = 0; mask < (size_t{1} << optionalCount); ++mask) {
        Node* node = m_root.get();
        size_t bit = 0;
        for (const auto& keyword : keywords) {
            if (keyword.optional && !(mask & (size_t{1} << bit++)))
                continue;
            node = node->Child(keyword);
        }
        if (node->handlers && node->handlers != handlers)
            throw std::logic_error("SCPI pattern registered twice");
        node->handlers = handlers;
    }
}

void ScpiEngine::AddCommon(std::string_view header, ScpiHandler set, ScpiHandler query) {
    m_common[Upper(header)] = Handlers{std::move(set), std::move(query)};
}

bool ScpiEngine::ResolveFrom(const Node& node, const std::vector<std::string_view>& keywords,
                             size_t index, Match& match) const {
    if (index == keywords.size()) {
        if (!node.handlers)
            return false;
        match.handlers = node.handlers;
        return true;
    }
    // Split "MARK1" into "MARK" and its suffix.
    std::string_view keyword = keywords[index];
    size_t digits = keyword.size();
    while (digits > 0 && keyword[digits - 1] >= '0' && keyword[digits - 1] <= '9')
        --digits;
    const std::string_view alpha = keyword.substr(0, digits);
    const std::string_view suffixText = keyword.substr(digits);
    for (const auto& child : node.children) {
        if (!MatchesKeyword(alpha, child->keyword))
            continue;
        int suffix = 1;
        if (!suffixText.empty()) {
            // Suffixes are small; more than 4 digits is out of range anyway.
            suffix = suffixText.size() > 4 ? 0 : std::stoi(std::string(suffixText));
            if (child->suffixMax == 0 || suffix < 1 || suffix > child->suffixMax) {
                match.error = -114;
                continue;
            }
        }
        const std::string key = Upper(child->keyword);
        const bool had = match.suffixes.count(key) > 0;
        const int previous = had ? match.suffixes[key] : 0;
        match.suffixes[key] = suffix;
        if (ResolveFrom(*child, keywords, index + 1, match))
            return true;
        if (had)
            match.suffixes[key] = previous;
        else
            match.suffixes.erase(key);
    }
    return false;
}

ScpiEngine::Match ScpiEngine::Resolve(std::string_view header) const {
    Match match;
    std::vector<std::string_view> keywords;
    size_t begin = 0;
    while (begin <= header.size()) {
        size_t end = header.find(':', begin);
        if (end == std::string_view::npos)
            end = header.size();
        keywords.push_back(header.substr(begin, end - begin));
        begin = end + 1;
    }
    for (std::string_view keyword : keywords) {
        if (keyword.empty()) {
            match.error = -110;  // "FREQ::CENT", a trailing ':'
            return match;
        }
    }
    ResolveFrom(*m_root, keywords, 0, match);
    return match;
}

std::optional<std::string> ScpiEngine::Execute(std::string_view message, ErrorQueue& errors) {
    std::vector<std::string> replies;
    std::string prefix;  // the header path: everything up to the last ':' of the last header
    for (const ScpiUnit& unit : LexProgramMessage(message)) {
        std::string header = unit.header;
        bool valid = !header.empty();
        for (char c : header)
            valid = valid && IsHeaderChar(c);
        if (!valid) {
            errors.Push(header.empty() ? -102 : -101);
            continue;
        }
        if (unit.error != 0) {
            errors.Push(unit.error);
            continue;
        }
        const bool query = header.back() == '?';
        if (query)
            header.pop_back();

        const Handlers* handlers = nullptr;
        Match match;
        if (header[0] == '*') {
            // Common commands are the same whatever the path, and leave it alone.
            auto it = m_common.find(Upper(header));
            if (it != m_common.end())
                handlers = &it->second;
        } else {
            std::string effective = header[0] == ':' ? header.substr(1) : prefix + header;
            const size_t colon = effective.rfind(':');
            prefix = colon == std::string::npos ? std::string() : effective.substr(0, colon + 1);
            match = Resolve(effective);
            handlers = match.handlers;
            if (!handlers) {
                errors.Push(match.error);
                continue;
            }
        }
        const ScpiHandler* handler = nullptr;
        if (handlers)
            handler = query ? &handlers->query : &handlers->set;
        if (!handler || !*handler) {
            errors.Push(-113);
            continue;
        }
        ScpiCall call(unit.parameters, match.suffixes, errors);
        (*handler)(call);
        for (auto& reply : call.Replies())
            replies.push_back(reply);
        if (!query && header[0] != '*' && m_afterSetting)
            m_afterSetting(errors);
    }
    if (replies.empty())
        return std::nullopt;
    std::string joined;
    for (size_t i = 0; i < replies.size(); ++i) {
        if (i > 0)
            joined += ';';
        joined += replies[i];
    }
    return joined;
}

}  // namespace sim
