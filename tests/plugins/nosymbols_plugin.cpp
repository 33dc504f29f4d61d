// A plain shared library without the plug-in entry points.
extern "C" __attribute__((visibility("default"))) int orvTestNotAPlugin() { return 7; }
