#include <QApplication>
#include <clocale>
#include <cstdio>
#include <string>

#include "CMeasurementApp.h"
#include "visa/VendorLibrary.h"

using namespace korvel;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // QApplication adopts the user's locale on Unix, and with it a comma as decimal mark in
    // printf and atof. Numbers and dates in commands, replies and files use the C forms.
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_TIME, "C");
    // The VISA layer's one line about the library it uses (or could not load) goes to standard
    // error.
    visa::SetNoticeSink(
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    CMeasurementApp app;
    app.InitInstance();
    return 0;
}
