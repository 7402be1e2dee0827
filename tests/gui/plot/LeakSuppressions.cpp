// fontconfig keeps the configuration it loads for the whole process, and LeakSanitizer reports
// it at exit from any test that laid out text. Not ours to free; everything else stays checked.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
