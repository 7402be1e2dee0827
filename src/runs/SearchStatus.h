// What the run texts add when the fast search is chosen, so that a log of status lines tells
// which search produced it and how often it had to fall back.
#pragma once

#include <cstdint>
#include <string>

#include "measure/MeasurePhase.h"

namespace korvel {

// Empty for the standard search; " (fast search)", or " (fast search, 2 passes fell back)"
// once passes fell back.
inline std::string SearchSuffix(Search search, int fellBack) {
    if (search != Search::Fast)
        return {};
    if (fellBack <= 0)
        return " (fast search)";
    return " (fast search, " + std::to_string(fellBack) +
           (fellBack == 1 ? " pass fell back)" : " passes fell back)");
}

// The single measurement's text when passes fell back, naming the first one's reason; empty
// when none did.
inline std::string FallBackText(const MeasureReport& report, std::uint32_t passes) {
    if (report.fellBack <= 0)
        return {};
    return "Fast search: " + std::to_string(report.fellBack) + " of " + std::to_string(passes) +
           (passes == 1 ? " pass" : " passes") + " fell back to the standard search" +
           (report.fallBackReason.empty() ? std::string() : " (" + report.fallBackReason + ")") +
           ".";
}

}  // namespace korvel
