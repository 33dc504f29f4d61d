// The dark theme of the main window: one style sheet made of fixed rules, applied once when the
// frame is built.
#pragma once

#include <QString>

namespace orvUI {

// Number of rules of the theme.
int themeRuleCount();
// Rule i (0-based) exactly as it is used; empty outside 0..themeRuleCount()-1.
QString themeRule(int index);
// Every rule in order, with nothing between them.
QString themeStyleSheet();

}  // namespace orvUI
