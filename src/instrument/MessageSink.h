// Where the instrument layer's user messages go. The application installs a modal warning box
// titled "Korvel"; tests install a recorder. Without a sink, messages go to standard error.
#pragma once

#include <functional>
#include <string>

namespace korvel {

using MessageSink = std::function<void(const std::string& text)>;

// Installs sink and returns the previous one (an empty function restores the default).
MessageSink SetMessageSink(MessageSink sink);
// Shows text through the installed sink; returns after the user has dismissed it.
void ShowMessage(const std::string& text);

}  // namespace korvel
