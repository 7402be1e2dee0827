#include "WindowProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <memory>

#include "tests/support/ChildProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

std::string Title(Display* display, Window window) {
    for (const char* property : {"_NET_WM_NAME", "WM_NAME"}) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom atom = XInternAtom(display, property, False);
        if (XGetWindowProperty(display, window, atom, 0, 1024, False, AnyPropertyType, &type,
                               &format, &items, &after, &data) == Success &&
            data) {
            std::string title(reinterpret_cast<char*>(data), items);
            XFree(data);
            if (!title.empty())
                return title;
        }
    }
    return {};
}

// The next window mapped whose title is title, or None when the deadline passed or the
// program ended.
Window WaitForMapped(Display* display, const std::string& title, Clock::time_point deadline,
                     ChildProcess& program) {
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && Title(display, event.xmap.window) == title)
                return event.xmap.window;
        }
        if (Clock::now() > deadline || program.Wait(std::chrono::milliseconds(0)) != -2)
            return None;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        ::poll(&p, 1, 2);
    }
}

// What a window manager sends when the user closes a window.
void RequestClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

bool WindowProbeAvailable(std::string& reason) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display)
        reason = "no X display (scripts/bench starts Xvfb)";
    return display != nullptr;
}

WindowTiming MeasureStartToWindow(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  const std::string& dialogTitle, const std::string& windowTitle) {
    WindowTiming timing;
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        timing.error = "no X display";
        return timing;
    }
    XSelectInput(display.get(), DefaultRootWindow(display.get()), SubstructureNotifyMask);
    XSync(display.get(), False);

    ChildProcess korvel;
    const Clock::time_point started = Clock::now();
    if (!korvel.Start({program}, environment)) {
        timing.error = "cannot start " + program;
        return timing;
    }
    const Clock::time_point deadline = started + std::chrono::seconds(30);
    const Window dialog = WaitForMapped(display.get(), dialogTitle, deadline, korvel);
    const Clock::time_point dialogShown = Clock::now();
    if (dialog == None) {
        timing.error = "no window titled \"" + dialogTitle + "\" within 30 s";
        korvel.Stop();
        return timing;
    }
    RequestClose(display.get(), dialog);
    const Clock::time_point closed = Clock::now();
    const Window main = WaitForMapped(display.get(), windowTitle, deadline, korvel);
    const Clock::time_point mainShown = Clock::now();
    if (main == None) {
        timing.error = "no window titled \"" + windowTitle + "\" after the connect dialog";
        korvel.Stop();
        return timing;
    }
    timing.startToDialogUs = Microseconds(dialogShown - started);
    timing.closeToWindowUs = Microseconds(mainShown - closed);
    RequestClose(display.get(), main);
    if (korvel.Wait(std::chrono::seconds(10)) == -2)
        korvel.Stop();
    timing.peakMiB = static_cast<double>(korvel.Usage().ru_maxrss) / 1024.0;
    return timing;
}
