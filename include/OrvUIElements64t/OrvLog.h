// The library's diagnostics: one logging category, "orv.ui", whose debug lines are off unless
// the logging rules turn them on, for example
//     QT_LOGGING_RULES="orv.ui.debug=true" orvhost project.orvproj
// Write them as qCDebug(orvUiLog) << ...; Qt prints them with the category in front.
#pragma once

#include <QLoggingCategory>

#include "OrvUIGlobal.h"

// Exported, so that the host and the plug-ins can write into the same category.
ORVUI_EXPORT const QLoggingCategory& orvUiLog();
