// A well-behaved plug-in (built twice, as "good" and "second"): records every command it is
// given in its object and declines the command "not-mine". "lend-self" puts the plug-in into
// its object and then lets go of the object (the plug-in has none from then on).
#include "TestPluginShared.h"

class CRecordingPlugin : public IOrvPlugin {
public:
    ~CRecordingPlugin() override { testPluginLog("destroy", ORV_TEST_PLUGIN_NAME); }
    QString pluginName() const override { return QStringLiteral(ORV_TEST_PLUGIN_NAME); }
    int initPlugin() override
    {
        testPluginLog("init", ORV_TEST_PLUGIN_NAME);
        m_recorder = new CTestRecorder(pluginName());
        return 0;
    }
    int runCommand(const QString& command, const QString& objectName, bool checked) override
    {
        if (command == QLatin1String("not-mine")) return 1;
        if (!m_recorder) return -1;
        if (command == QLatin1String("lend-self")) {
            m_recorder->lent = this;
            m_recorder.reset();
            return 0;
        }
        m_recorder->record(command, objectName, checked);
        if (m_recorder->duringCommand) m_recorder->duringCommand();
        return 0;
    }
    ref_ptr<ZimReferenced> pluginObject() override { return m_recorder; }
    int exitPlugin() override
    {
        testPluginLog("exit", ORV_TEST_PLUGIN_NAME);
        return 0;
    }

private:
    ref_ptr<CTestRecorder> m_recorder;
};

ORV_DECLARE_PLUGIN(CRecordingPlugin)
