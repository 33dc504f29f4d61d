// A real shared library that declares no plug-in entry symbols.
extern "C" __attribute__((visibility("default"))) int mwNotAPlugin() { return 42; }
