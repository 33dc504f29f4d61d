// Answers another interface version; creating it must never be attempted.
#include "TestPluginShared.h"

extern "C" __attribute__((visibility("default"))) const char* orvPluginInterfaceVersion() { return "orv.plugin/0"; }

extern "C" __attribute__((visibility("default"))) IOrvPlugin* orvCreatePlugin()
{
    testPluginLog("create", "badversion");
    return nullptr;
}
