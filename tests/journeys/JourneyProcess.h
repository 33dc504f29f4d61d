// Programs the journeys start and own: a child in its own process group (so that everything it
// starts goes with it), and short helper commands run to their end with a time limit.
#pragma once

#include <sys/types.h>

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

namespace journey {

// Polls `done` every `pollMs` until it holds or `timeoutMs` passed; true when it held.
void sleepMs(int ms);

template <typename Condition>
bool waitUntil(Condition done, int timeoutMs, int pollMs = 100)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done()) return true;
        if (clock.elapsed() >= timeoutMs) return false;
        sleepMs(pollMs);
    }
}

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    // Starts `program` with `args` in a new session (its own process group), with the extra
    // environment entries `env` ("NAME=value") added to this process's, stdout and stderr
    // appended to `logFile`, in the folder `workDir` (when not empty). `keepFd` stays open in
    // the child (for Xvfb's -displayfd).
    bool start(const QString& program, const QStringList& args, const QStringList& env, const QString& logFile,
               int keepFd = -1, const QString& workDir = QString());
    bool running();
    // Waits up to `timeoutMs` for the program to end; true when it did. exitCode() is its exit
    // status, or -1 when a signal ended it.
    bool waitExit(int timeoutMs);
    int exitCode() const { return m_exitCode; }
    bool exited() const { return m_reaped; }
    // Ends the whole process group: SIGTERM, then SIGKILL when it is still there after a while.
    void stop();
    pid_t pid() const { return m_pid; }

private:
    bool reap(bool block);

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_exitCode = -1;
};

struct CommandResult {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
    bool ok() const { return finished && exitCode == 0; }
};

// Runs a short command to its end (at most `timeoutMs`), with DISPLAY set to `display` when
// it is not empty.
CommandResult runCommand(const QString& program, const QStringList& args, const QString& display = QString(),
                         int timeoutMs = 20000);

// The full path of `program` on PATH, empty when there is none.
QString findProgram(const QString& program);

}  // namespace journey
