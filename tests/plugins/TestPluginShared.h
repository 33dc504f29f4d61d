// Shared by the plug-in manager test and its test plug-ins: the object the recording plug-in
// hands out, and the event log every test plug-in appends to.
#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "OrvPluginManager64t.h"

// Environment variable naming the file the test plug-ins append their events to.
#define ORV_TEST_PLUGIN_LOG_ENV "ORV_TEST_PLUGIN_LOG"

struct TestCommand {
    QString command;
    QString objectName;
    bool checked = false;
};

// The recording plug-in's object: the commands it was given, in order. duringCommand, when set,
// is called by the plug-in in the middle of each command it records (to call back into the
// manager from inside a command).
class CTestRecorder : public ZimReferenced {
public:
    explicit CTestRecorder(const QString& owner) : m_owner(owner) {}
    const QString& owner() const { return m_owner; }
    const std::vector<TestCommand>& commands() const { return m_commands; }
    void record(const QString& command, const QString& objectName, bool checked)
    {
        m_commands.push_back({command, objectName, checked});
    }
    std::function<void()> duringCommand;
    // Set by the command "lend-self": the plug-in itself, as a host holds a plug-in that has
    // registered itself somewhere (an interactive tool, say).
    ref_ptr<ZimReferenced> lent;

private:
    QString m_owner;
    std::vector<TestCommand> m_commands;
};

// Appends the line "<event> <name>" to the log file, when the test has named one.
inline void testPluginLog(const char* event, const char* name)
{
    const char* file = std::getenv(ORV_TEST_PLUGIN_LOG_ENV);
    if (!file || !*file) return;
    if (std::FILE* f = std::fopen(file, "a")) {
        std::fprintf(f, "%s %s\n", event, name);
        std::fclose(f);
    }
}
