#include <QApplication>
#include <clocale>

#include "CMeasurementApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // QApplication adopts the user's locale on Unix, and with it a comma as decimal mark in
    // printf and atof. Numbers and dates in commands, replies and files use the C forms.
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_TIME, "C");
    CMeasurementApp app;
    app.InitInstance();
    return 0;
}
