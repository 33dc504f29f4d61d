// Object names of plug-in commands: "<command>___<plug-in index>", the index being the plug-in's
// position in the main frame's load order.
#pragma once

#include <QString>

namespace orvUI {

struct CommandName {
    QString command;       // the part before the first "___" (the whole name when there is none)
    int pluginIndex = -1;  // the decimal number after it; -1 when there is none or it is no number
    bool hasSeparator = false;

    // True when the name addresses one of loadedCount plug-ins.
    bool routesTo(int loadedCount) const { return pluginIndex >= 0 && pluginIndex < loadedCount; }
};

// Splits at the first "___" (case-sensitive). Only a decimal number (optionally signed, as
// QString::toInt reads it) after the separator gives an index; anything else leaves -1, so a
// malformed name is never routed.
CommandName parseCommandName(const QString& objectName);

}  // namespace orvUI
