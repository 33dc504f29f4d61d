// A plug-in that records every command it receives in its object (built under several names).
#include "MwTestPlugin.h"

class CMwRecordingPlugin : public IOrvPlugin {
public:
    QString pluginName() const override { return QStringLiteral(MW_PLUGIN_NAME); }
    int initPlugin() override
    {
        m_log = new CMwCommandLog(pluginName());
        return 0;
    }
    int runCommand(const QString& command, const QString& objectName, bool checked) override
    {
        m_log->record(command, objectName, checked);
        if (m_log->duringCommand) m_log->duringCommand();
        return 0;
    }
    ref_ptr<ZimReferenced> pluginObject() override { return m_log; }
    int exitPlugin() override
    {
        m_log.reset();
        return 0;
    }

private:
    ref_ptr<CMwCommandLog> m_log;
};

ORV_DECLARE_PLUGIN(CMwRecordingPlugin)
