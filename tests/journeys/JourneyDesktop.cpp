#include "JourneyDesktop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>

namespace journey {

namespace {

const QStringList kPrograms = {QStringLiteral("Xvfb"), QStringLiteral("openbox"), QStringLiteral("xdotool"),
                               QStringLiteral("xprop"), QStringLiteral("import")};

QString point(int v) { return QString::number(v); }

// Reads the display number Xvfb writes to `fd` once it accepts connections.
QString readDisplayNumber(int fd, int timeoutMs)
{
    QByteArray text;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 100);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        char buffer[32];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, int(n));
        if (text.contains('\n')) break;
    }
    const QByteArray number = text.trimmed();
    bool ok = false;
    number.toInt(&ok);
    return ok ? QStringLiteral(":") + QString::fromLatin1(number) : QString();
}

}  // namespace

QStringList Desktop::missingPrograms()
{
    QStringList missing;
    for (const QString& p : kPrograms)
        if (findProgram(p).isEmpty()) missing << p;
    return missing;
}

bool Desktop::start(const QString& outDir, const QSize& size, const QString& openboxRc, QString* error)
{
    m_outDir = outDir;
    QDir().mkpath(outDir);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("no pipe for the display number");
        return false;
    }
    const bool started =
        m_xserver.start(findProgram(QStringLiteral("Xvfb")),
                        {QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")},
                        {}, outDir + QStringLiteral("/xvfb.log"), fds[1]);
    ::close(fds[1]);
    if (started) m_display = readDisplayNumber(fds[0], 20000);
    ::close(fds[0]);
    if (m_display.isEmpty()) {
        *error = QStringLiteral("Xvfb did not start (see %1/xvfb.log)").arg(outDir);
        stop();
        return false;
    }
    m_wm.start(findProgram(QStringLiteral("openbox")), {QStringLiteral("--config-file"), openboxRc},
               {QStringLiteral("DISPLAY=") + m_display}, outDir + QStringLiteral("/openbox.log"));
    // The window manager is up once it announces itself on the root window.
    const bool managed = waitUntil(
        [this]() {
            const CommandResult r =
                runCommand(QStringLiteral("xprop"),
                           {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, m_display, 5000);
            return r.ok() && r.out.contains(QStringLiteral("window id"));
        },
        15000, 100);
    if (!managed) {
        *error = QStringLiteral("openbox did not start (see %1/openbox.log)").arg(outDir);
        stop();
        return false;
    }
    return true;
}

void Desktop::stop()
{
    m_host.stop();
    m_wm.stop();
    m_xserver.stop();
    m_display.clear();
}

bool Desktop::startHost(const QString& program, const QStringList& args, QString* error)
{
    const QString home = m_outDir + QStringLiteral("/home");
    for (const QString& dir : {home, home + QStringLiteral("/.config"), home + QStringLiteral("/runtime")})
        QDir().mkpath(dir);
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QStringList env = {
        QStringLiteral("DISPLAY=") + m_display,
        QStringLiteral("HOME=") + home,
        QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/.config"),
        QStringLiteral("XDG_RUNTIME_DIR=") + home + QStringLiteral("/runtime"),
        // The desktop's own platform, whatever the caller ran under.
        QStringLiteral("QT_QPA_PLATFORM=xcb"),
        // No session bus: nothing on this desktop needs one.
        QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/orv-journeys-no-bus"),
        QStringLiteral("LANG=C.UTF-8"),
    };
    // Started in the journey's folder: file dialogs open there.
    if (!m_host.start(program, args, env, m_outDir + QStringLiteral("/orvhost.log"), -1, m_outDir)) {
        *error = QStringLiteral("%1 could not be started").arg(program);
        return false;
    }
    return true;
}

QString Desktop::waitForMainWindow(const QString& title, int timeoutMs)
{
    QString window;
    const bool found = waitUntil(
        [&]() {
            if (!m_host.running()) return true;  // no point in waiting for a program that ended
            const QStringList ids = visibleWindows(QStringLiteral("^") + title);
            if (ids.isEmpty()) return false;
            const CommandResult state =
                runCommand(QStringLiteral("xprop"),
                           {QStringLiteral("-id"), ids.first(), QStringLiteral("_NET_WM_STATE")}, m_display, 5000);
            if (!state.out.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_VERT")) ||
                !state.out.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_HORZ")))
                return false;
            window = ids.first();
            return true;
        },
        timeoutMs, 200);
    return found ? window : QString();
}

QString Desktop::windowTitle(const QString& window)
{
    const CommandResult r =
        runCommand(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window}, m_display, 5000);
    return r.ok() ? r.out.trimmed() : QString();
}

QStringList Desktop::visibleWindows(const QString& name)
{
    const CommandResult r = runCommand(
        QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), name}, m_display, 5000);
    return r.finished ? r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

QImage Desktop::grab(const QString& path)
{
    const CommandResult r = runCommand(
        QStringLiteral("import"),
        {QStringLiteral("-silent"), QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:") + path},
        m_display, 20000);
    QImage image;
    if (r.ok()) image.load(path, "PNG");
    return image.isNull() ? image : image.convertToFormat(QImage::Format_RGB32);
}

QString Desktop::nextShotPath(const QString& name)
{
    return QStringLiteral("%1/%2-%3.png").arg(m_outDir).arg(++m_shots, 2, 10, QLatin1Char('0')).arg(name);
}

QImage Desktop::screenshot(const QString& name) { return grab(nextShotPath(name)); }

QImage Desktop::settledScreenshot(const QString& name, const QRect& region, int timeoutMs, bool* settled)
{
    // The pictures taken on the way are not kept: only the last one is.
    const QString scratch = m_outDir + QStringLiteral("/settling.png");
    QElapsedTimer clock;
    clock.start();
    QImage last = grab(scratch);
    bool same = false;
    while (!last.isNull() && clock.elapsed() < timeoutMs) {
        sleepMs(150);
        const QImage next = grab(scratch);
        if (next.isNull()) break;
        same = last.copy(region) == next.copy(region);
        last = next;
        if (same) break;
    }
    QFile::remove(scratch);
    if (!last.isNull()) last.save(nextShotPath(name), "PNG");
    if (settled) *settled = same;
    return last;
}

bool Desktop::xdotool(const QStringList& args)
{
    return runCommand(QStringLiteral("xdotool"), args, m_display, 10000).ok();
}

bool Desktop::moveMouse(QPoint p) { return xdotool({QStringLiteral("mousemove"), point(p.x()), point(p.y())}); }

bool Desktop::click(QPoint p, int button, int repeat)
{
    return moveMouse(p) && xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(repeat),
                                    QStringLiteral("--delay"), QStringLiteral("80"), QString::number(button)});
}

bool Desktop::doubleClick(QPoint p) { return click(p, 1, 2); }

bool Desktop::mouseDown(int button) { return xdotool({QStringLiteral("mousedown"), QString::number(button)}); }
bool Desktop::mouseUp(int button) { return xdotool({QStringLiteral("mouseup"), QString::number(button)}); }

bool Desktop::drag(QPoint from, QPoint to, int button, int steps)
{
    if (!moveMouse(from) || !mouseDown(button)) return false;
    sleepMs(60);
    bool ok = true;
    for (int i = 1; i <= steps && ok; ++i) {
        const QPoint at = from + (to - from) * i / steps;
        ok = moveMouse(at);
        sleepMs(30);
    }
    return mouseUp(button) && ok;
}

bool Desktop::wheel(QPoint p, int notches, const QString& modifier)
{
    if (!moveMouse(p)) return false;
    QStringList args;
    if (!modifier.isEmpty()) args << QStringLiteral("keydown") << modifier;
    args << QStringLiteral("click") << QStringLiteral("--repeat") << QString::number(std::abs(notches))
         << QStringLiteral("--delay") << QStringLiteral("60")
         << (notches > 0 ? QStringLiteral("4") : QStringLiteral("5"));
    if (!modifier.isEmpty()) args << QStringLiteral("keyup") << modifier;
    return xdotool(args);
}

bool Desktop::key(const QString& keys)
{
    return xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), keys});
}

bool Desktop::typeText(const QString& text)
{
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
}

}  // namespace journey
