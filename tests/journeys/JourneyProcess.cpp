#include "JourneyProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

namespace journey {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Child::start(const QString& program, const QStringList& args, const QStringList& env, const QString& logFile,
                  int keepFd, const QString& workDir)
{
    stop();
    m_reaped = false;
    m_exitCode = -1;
    // Everything the child needs is prepared before the fork: after it only async-signal-safe
    // calls are made.
    std::vector<QByteArray> argBytes{program.toLocal8Bit()};
    for (const QString& a : args) argBytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes) argv.push_back(a.data());
    argv.push_back(nullptr);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : env) {
        const int eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) environment.insert(entry.left(eq), entry.mid(eq + 1));
    }
    std::vector<QByteArray> envBytes;
    for (const QString& e : environment.toStringList()) envBytes.push_back(e.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& e : envBytes) envp.push_back(e.data());
    envp.push_back(nullptr);

    const QByteArray logPath = logFile.toLocal8Bit();
    const QByteArray dir = workDir.toLocal8Bit();
    const int log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid < 0) {
        if (log >= 0) ::close(log);
        return false;
    }
    if (pid == 0) {
        ::setsid();
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, 0);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
        if (!dir.isEmpty() && ::chdir(dir.constData()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (log >= 0) ::close(log);
    m_pid = pid;
    return true;
}

bool Child::reap(bool block)
{
    if (m_pid <= 0 || m_reaped) return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    m_reaped = true;
    if (r == m_pid) m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

bool Child::running() { return m_pid > 0 && !reap(false); }

bool Child::waitExit(int timeoutMs)
{
    if (m_pid <= 0) return true;
    return waitUntil([this]() { return reap(false); }, timeoutMs, 50);
}

void Child::stop()
{
    if (m_pid <= 0) return;
    // The group goes in every case: a program that ended may have left children behind.
    ::kill(-m_pid, SIGTERM);
    if (!waitExit(3000)) {
        ::kill(-m_pid, SIGKILL);
        reap(true);
    }
    ::kill(-m_pid, SIGKILL);
    m_pid = -1;
}

CommandResult runCommand(const QString& program, const QStringList& args, const QString& display, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!display.isEmpty()) env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(program, args);
    CommandResult result;
    if (!process.waitForStarted(10000)) return result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QString findProgram(const QString& program)
{
    const QStringList dirs = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& dir : dirs) {
        const QFileInfo candidate(QDir(dir).filePath(program));
        if (candidate.isFile() && candidate.isExecutable()) return candidate.absoluteFilePath();
    }
    return QString();
}

}  // namespace journey
