#include "MessageSink.h"

#include <cstdio>
#include <utility>

namespace korvel {

namespace {
MessageSink& Sink() {
    static MessageSink sink;
    return sink;
}
}  // namespace

MessageSink SetMessageSink(MessageSink sink) {
    std::swap(Sink(), sink);
    return sink;
}

void ShowMessage(const std::string& text) {
    if (Sink()) {
        // Copy first: a sink may replace itself while it runs.
        MessageSink sink = Sink();
        sink(text);
    } else {
        std::fprintf(stderr, "Korvel: %s\n", text.c_str());
    }
}

}  // namespace korvel
