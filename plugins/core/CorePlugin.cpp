// The core plug-in: the host's commands (project files, photos and meshes, views, about),
// reached through the main frame's menu routing by the names in CoreCommands.h.
#include <OrvPluginManager64t.h>

#include <QDebug>
#include <QThread>
#include <exception>

#include "CoreCommands.h"
#include "CoreUi.h"

namespace orvCore {

class COrvCorePlugin : public IOrvPlugin {
public:
    QString pluginName() const override { return QStringLiteral("core"); }

    int initPlugin() override { return 0; }

    int runCommand(const QString& command, const QString& objectName, bool checked) override
    {
        if (!isCoreCommand(command)) return 1;
        // Dialogs and views live on the GUI thread only.
        if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
            qWarning() << "core plug-in: command" << command << "refused outside the GUI thread";
            return -1;
        }
        try {
            return runCoreCommand(command, objectName, checked);
        } catch (const std::exception& e) {
            report(CoreText::tr("The command %1 failed: %2").arg(command, QString::fromLocal8Bit(e.what())));
        } catch (...) {
            report(CoreText::tr("The command %1 failed.").arg(command));
        }
        return -1;
    }

    ref_ptr<ZimReferenced> pluginObject() override { return {}; }

    int exitPlugin() override { return 0; }

private:
    static void report(const QString& message)
    {
        try {
            warningBoxes()(message);
        } catch (...) {
            qWarning().noquote() << message;
        }
    }
};

}  // namespace orvCore

ORV_DECLARE_PLUGIN(orvCore::COrvCorePlugin)
