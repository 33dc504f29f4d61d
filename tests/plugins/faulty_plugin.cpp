// A plug-in with one fault, chosen by ORV_TEST_FAULT: 1 refuses initPlugin, 2 throws from it,
// 3 throws from the commands "boom" (std::runtime_error) and "boom-int" (an int), 4 throws from
// exitPlugin.
#include <stdexcept>

#include "TestPluginShared.h"

class CFaultyPlugin : public IOrvPlugin {
public:
    ~CFaultyPlugin() override { testPluginLog("destroy", ORV_TEST_PLUGIN_NAME); }
    QString pluginName() const override { return QStringLiteral(ORV_TEST_PLUGIN_NAME); }
    int initPlugin() override
    {
        testPluginLog("init", ORV_TEST_PLUGIN_NAME);
        if (ORV_TEST_FAULT == 1) return -1;
        if (ORV_TEST_FAULT == 2) throw std::runtime_error("init exploded");
        return 0;
    }
    int runCommand(const QString& command, const QString&, bool) override
    {
        if (command == QLatin1String("boom")) throw std::runtime_error("command exploded");
        if (command == QLatin1String("boom-int")) throw 42;
        return 0;
    }
    ref_ptr<ZimReferenced> pluginObject() override { return nullptr; }
    int exitPlugin() override
    {
        testPluginLog("exit", ORV_TEST_PLUGIN_NAME);
        if (ORV_TEST_FAULT == 4) throw std::runtime_error("exit exploded");
        return 0;
    }
};

ORV_DECLARE_PLUGIN(CFaultyPlugin)
