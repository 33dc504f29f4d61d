#include "OrvLog.h"

// Info and above by default: the debug lines wait for a rule that asks for them.
Q_LOGGING_CATEGORY(orvUiLog, "orv.ui", QtInfoMsg)
