#include "ScpiConsole.h"

#include <istream>
#include <ostream>

#include "instrument/CVisaDevice.h"
#include "instrument/MessageSink.h"

namespace korvel {

namespace {

// CVisaDevice shows its failures through the message sink; here each one goes to the error
// stream and makes the run fail.
class SinkToStream {
public:
    SinkToStream(std::ostream& err, bool& failed)
        : m_previous(SetMessageSink([&err, &failed](const std::string& text) {
              err << "korvel-scpi: " << text << '\n';
              failed = true;
          })) {}
    ~SinkToStream() { SetMessageSink(m_previous); }
    SinkToStream(const SinkToStream&) = delete;
    SinkToStream& operator=(const SinkToStream&) = delete;

private:
    MessageSink m_previous;
};

std::string Trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

int RunScpiConsole(const ScpiConsoleOptions& options, std::istream& in, bool interactive,
                   std::ostream& out, std::ostream& err) {
    bool failed = false;
    SinkToStream sink(err, failed);
    CVisaDevice device(options.resource);
    if (failed || !device.IsConnected())
        return kConsoleFailed;
    if (options.timeoutMs && device.SetTimeout(*options.timeoutMs) < visa::VI_SUCCESS) {
        err << "korvel-scpi: Cannot set the timeout of " << device.Resource() << '\n';
        return kConsoleFailed;
    }

    // Sends one command, printing the reply of a query. False once the session has failed.
    auto run = [&](const std::string& command) {
        if (command.find('?') != std::string::npos) {
            // The whole reply: the console is where traces and long lists are looked at.
            const std::string reply = device.Write(command) ? std::string() : device.ReadWhole();
            if (!failed && device.IsConnected()) {
                out << reply << '\n' << std::flush;
                return true;
            }
        } else if (!device.Write(command)) {
            return true;
        }
        // A failed write says nothing by itself; a failed read has already spoken.
        if (!failed)
            err << "korvel-scpi: Cannot write to device " << device.Resource() << '\n';
        return false;
    };

    for (const std::string& command : options.commands) {
        if (command != "-") {
            if (!run(command))
                return kConsoleFailed;
            continue;
        }
        std::string line;
        for (;;) {
            if (interactive)
                out << device.Resource() << "> " << std::flush;
            if (!std::getline(in, line))
                break;
            const std::string text = Trimmed(line);
            if (text.empty())
                continue;
            if (!run(text))
                return kConsoleFailed;
        }
        if (interactive)
            out << '\n';
    }
    return kConsoleOk;
}

}  // namespace korvel
