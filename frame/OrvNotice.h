// Telling the user why something they asked for did not happen, without stopping them.
#pragma once

class QString;
class QWidget;

namespace orvUI {

// How long a notice stays on the status bar.
constexpr int kNoticeTimeoutMs = 15000;

// The application property a host sets to true for runs nobody watches (--backup,
// --screenshot and the like): qApp->setProperty("orvHeadless", true). The core plug-in reads the
// same property.
constexpr const char* kHeadlessProperty = "orvHeadless";

// True when the application says nobody watches this run.
bool isHeadlessRun();

// Shows text on the status bar of the main window that holds origin while that window is on
// screen; otherwise (no window shown, as in the headless modes) writes it as a warning line.
// Never opens a box. Returns true when it went to a status bar.
bool noticeFailure(QWidget* origin, const QString& text);

// A warning the user has to acknowledge: a modal box over origin's window, or in a headless run
// a line on stderr (no box: nobody could close it and the run would hang).
void noticeWarning(QWidget* origin, const QString& text);

}  // namespace orvUI
