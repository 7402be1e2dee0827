// One application object for a widget test program, made on first use and kept to the process
// end (Qt allows one per process, and some tests leave windows behind).
#pragma once

#include <QApplication>
#include <cerrno>

inline QApplication& TestApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *app;
    static int argc = 1;
    static char* argv[] = {program_invocation_name, nullptr};  // the program's own name
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}
