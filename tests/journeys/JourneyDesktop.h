// A desktop of its own for one journey: an X server (Xvfb), a window manager (openbox with the
// test rc file), the host application on it, real X input through xdotool and pictures of the
// screen through ImageMagick's import. Every picture is kept in the journey's folder.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include "JourneyProcess.h"

namespace journey {

class Desktop {
public:
    Desktop() = default;
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;
    ~Desktop() { stop(); }

    // The programs the desktop needs, missing from PATH (empty when all are there).
    static QStringList missingPrograms();

    // Starts the X server (`size` pixels, 24 bits) and the window manager; pictures and logs go
    // to `outDir`. False with `error` set when either does not come up.
    bool start(const QString& outDir, const QSize& size, const QString& openboxRc, QString* error);
    // Ends the host, the window manager and the X server, in that order.
    void stop();

    QString display() const { return m_display; }
    QString outDir() const { return m_outDir; }

    // Starts orvhost with `args`; its home, configuration and runtime folders are fresh ones
    // under the journey's folder, so nothing a user or another journey remembered leaks in.
    bool startHost(const QString& program, const QStringList& args, QString* error);
    Child& host() { return m_host; }
    // Waits for the host's main window (its title starts with `title`) to be mapped and
    // maximised; returns its X window id, or 0.
    QString waitForMainWindow(const QString& title, int timeoutMs);
    // The title of the X window `window`.
    QString windowTitle(const QString& window);
    // The X window ids of visible windows whose title matches the regular expression `name`.
    QStringList visibleWindows(const QString& name);

    // A picture of the whole screen, saved as NN-<name>.png in the journey's folder.
    QImage screenshot(const QString& name);
    // Takes pictures until `region` stays the same in two pictures in a row (at most
    // `timeoutMs`); returns the last picture. `settled`, when given, tells whether it did.
    QImage settledScreenshot(const QString& name, const QRect& region, int timeoutMs = 8000, bool* settled = nullptr);

    // Real X input.
    bool moveMouse(QPoint p);
    bool click(QPoint p, int button = 1, int repeat = 1);
    bool doubleClick(QPoint p);
    bool mouseDown(int button);
    bool mouseUp(int button);
    // Presses `button` at `from`, moves to `to` in `steps` steps, releases it there.
    bool drag(QPoint from, QPoint to, int button, int steps = 10);
    // Wheel notches at the pointer: up (button 4) when `notches` > 0, else down (button 5),
    // with `modifier` ("alt", "ctrl", ...) held around them when not empty.
    bool wheel(QPoint p, int notches, const QString& modifier = QString());
    // Key names as xdotool takes them: "ctrl+s", "alt+f", "Escape", "Return".
    bool key(const QString& keys);
    bool typeText(const QString& text);

private:
    bool xdotool(const QStringList& args);
    QImage grab(const QString& path);
    QString nextShotPath(const QString& name);

    QString m_outDir;
    QString m_display;
    int m_shots = 0;
    Child m_xserver;
    Child m_wm;
    Child m_host;
};

}  // namespace journey
