// Telling the user why something they asked for did not happen, without stopping them.
#pragma once

class QString;
class QWidget;

namespace orvUI {

// How long a notice stays on the status bar.
constexpr int kNoticeTimeoutMs = 15000;

// Shows text on the status bar of the main window that holds origin while that window is on
// screen; otherwise (no window shown, as in the headless modes) writes it as a warning line.
// Never opens a box. Returns true when it went to a status bar.
bool noticeFailure(QWidget* origin, const QString& text);

}  // namespace orvUI
