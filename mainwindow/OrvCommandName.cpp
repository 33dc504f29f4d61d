#include "OrvCommandName.h"

namespace orvUI {

CommandName parseCommandName(const QString& objectName)
{
    static const QString separator = QStringLiteral("___");
    CommandName parsed;
    const int at = objectName.indexOf(separator);
    if (at < 0) {
        parsed.command = objectName;
        return parsed;
    }
    parsed.hasSeparator = true;
    parsed.command = objectName.left(at);
    bool ok = false;
    const int index = objectName.mid(at + separator.size()).toInt(&ok, 10);
    if (ok) parsed.pluginIndex = index < 0 ? -1 : index;
    return parsed;
}

}  // namespace orvUI
