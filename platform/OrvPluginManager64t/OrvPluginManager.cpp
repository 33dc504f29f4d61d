// Plug-in manager: one QLibrary per plug-in, the plug-ins kept in load order.
#include <elf.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "OrvPluginManager64t.h"

namespace orvPlugin {

namespace {

// A deep copy: a string from a plug-in may point at a literal inside its library, which must
// not outlive the library in a message or a field.
QString ownCopy(const QString& s) { return QString(s.constData(), s.size()); }

QString absolutePathOf(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

struct PluginEntry {
    QString path;           // absolute path as given to loadPlugin
    QString canonicalPath;  // identity of the plug-in
    QString name;           // pluginName(), owned by the manager
    std::unique_ptr<QLibrary> library;
    ref_ptr<IOrvPlugin> plugin;
    int busy = 0;  // commands of this plug-in running (calls may nest)
};

}  // namespace

class CZimPluginManager final : public IOrvPluginManager {
    Q_DECLARE_TR_FUNCTIONS(OrvPluginManager)

public:
    CZimPluginManager() = default;
    CZimPluginManager(const CZimPluginManager&) = delete;
    CZimPluginManager& operator=(const CZimPluginManager&) = delete;

    int loadPlugin(const QString& path, QString* error) override;
    int unloadPlugin(const QString& path) override;
    int runPluginCommand(const QString& pluginPath, const QString& command, const QString& objectName,
                         bool checked) override;
    int getPluginObject(const QString& path, ref_ptr<ZimReferenced>& out) override;
    int pluginCount() const override { return int(m_entries.size()); }
    QString pluginPathAt(int index) const override;
    bool isPluginLoaded(const QString& path) const override { return indexOf(path) >= 0; }
    int unloadAll() override;
    QString lastError() const override { return m_lastError; }

protected:
    ~CZimPluginManager() override { unloadAll(); }

private:
    int indexOf(const QString& path) const;
    int unloadAt(int index);
    static bool checkLibraryFile(const QString& path, QString* why);
    static void release(const QString& path, std::unique_ptr<QLibrary> library, ref_ptr<IOrvPlugin> plugin,
                        ref_ptr<ZimReferenced> object);

    std::vector<std::unique_ptr<PluginEntry>> m_entries;  // load order; entries never move
    QString m_lastError;
};

int CZimPluginManager::indexOf(const QString& path) const
{
    if (path.isEmpty()) return -1;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    // A file removed since it was loaded has no canonical path any more: it is then found by the
    // path it was loaded from.
    const QString key = canonical.isEmpty() ? absolutePathOf(path) : canonical;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const PluginEntry& e = *m_entries[i];
        if (e.canonicalPath == key || (canonical.isEmpty() && e.path == key)) return int(i);
    }
    return -1;
}

QString CZimPluginManager::pluginPathAt(int index) const
{
    if (index < 0 || index >= pluginCount()) return QString();
    return m_entries[std::size_t(index)]->path;
}

// The dynamic loader maps the segments of a library without comparing them with the file size,
// so a truncated file makes dlopen itself die of SIGBUS. The headers are therefore read here
// first, and every segment and the section table must lie inside the file.
bool CZimPluginManager::checkLibraryFile(const QString& path, QString* why)
{
#if UINTPTR_MAX == 0xffffffffu
    using Ehdr = Elf32_Ehdr;
    using Phdr = Elf32_Phdr;
    constexpr unsigned char kClass = ELFCLASS32;
#else
    using Ehdr = Elf64_Ehdr;
    using Phdr = Elf64_Phdr;
    constexpr unsigned char kClass = ELFCLASS64;
#endif
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    constexpr unsigned char kData = ELFDATA2LSB;
#else
    constexpr unsigned char kData = ELFDATA2MSB;
#endif

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = tr("the file cannot be opened (%1)").arg(file.errorString());
        return false;
    }
    const quint64 size = quint64(file.size());
    const auto fits = [size](quint64 offset, quint64 length) { return offset <= size && length <= size - offset; };
    const QString damaged = tr("the library is truncated or damaged");

    Ehdr eh;
    if (file.read(reinterpret_cast<char*>(&eh), qint64(sizeof eh)) != qint64(sizeof eh) ||
        std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) {
        *why = tr("the file is not a shared library");
        return false;
    }
    if (eh.e_ident[EI_CLASS] != kClass || eh.e_ident[EI_DATA] != kData) {
        *why = tr("the library is built for another architecture");
        return false;
    }
    if (eh.e_type != ET_DYN) {
        *why = tr("the file is not a shared library");
        return false;
    }
    if (eh.e_phnum == 0 || eh.e_phentsize != sizeof(Phdr) || !fits(eh.e_phoff, quint64(eh.e_phnum) * sizeof(Phdr))) {
        *why = damaged;
        return false;
    }
    std::vector<Phdr> segments(eh.e_phnum);
    const qint64 bytes = qint64(segments.size() * sizeof(Phdr));
    if (!file.seek(qint64(eh.e_phoff)) || file.read(reinterpret_cast<char*>(segments.data()), bytes) != bytes) {
        *why = damaged;
        return false;
    }
    for (const Phdr& ph : segments) {
        if (!fits(ph.p_offset, ph.p_filesz)) {
            *why = damaged;
            return false;
        }
    }
    if (eh.e_shoff != 0 && !fits(eh.e_shoff, quint64(std::max<unsigned>(eh.e_shnum, 1u)) * eh.e_shentsize)) {
        *why = damaged;
        return false;
    }
    return true;
}

// Drops the manager's references to a plug-in and to its object, then unloads the library,
// unless the plug-in or its object is still held elsewhere: their destructors are code of the
// library, which then stays mapped for good.
void CZimPluginManager::release(const QString& path, std::unique_ptr<QLibrary> library, ref_ptr<IOrvPlugin> plugin,
                                ref_ptr<ZimReferenced> object)
{
    bool stillHeld = false;
    if (plugin) {
        stillHeld = plugin->referenceCount() > 1;
        plugin.reset();  // the plug-in usually holds its object: release it first
    }
    if (object) {
        if (object->referenceCount() > 1) stillHeld = true;
        object.reset();
    }
    if (stillHeld) {
        // Destroying the QLibrary object without unload() keeps the library loaded.
        qWarning("%s", qUtf8Printable(tr("Plug-in %1 is still referenced after unloading; its library stays "
                                         "loaded.")
                                          .arg(path)));
        return;
    }
    library->unload();
}

int CZimPluginManager::loadPlugin(const QString& path, QString* error)
{
    m_lastError.clear();
    if (error) error->clear();
    const auto fail = [this, error](const QString& message) {
        m_lastError = message;
        if (error) *error = message;
        return -1;
    };
    if (path.isEmpty()) return fail(tr("Cannot load a plug-in: no file given."));

    const QFileInfo info(path);
    const QString absolute = absolutePathOf(path);
    const QString refused = tr("Cannot load plug-in %1: %2");
    if (!info.exists()) return fail(refused.arg(absolute, tr("the file does not exist")));
    if (!info.isFile()) return fail(refused.arg(absolute, tr("it is not a regular file")));
    if (indexOf(path) >= 0) return 0;

    const QString canonical = info.canonicalFilePath();
    QString why;
    if (!checkLibraryFile(canonical, &why)) return fail(refused.arg(absolute, why));

    auto library = std::make_unique<QLibrary>(canonical);
    // Unresolved symbols refuse the load now instead of failing inside a command later.
    library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library->load()) return fail(refused.arg(absolute, library->errorString()));

    const auto versionFn = reinterpret_cast<OrvPluginVersionFn>(library->resolve(ORV_PLUGIN_VERSION_SYMBOL));
    const auto createFn = reinterpret_cast<OrvPluginCreateFn>(library->resolve(ORV_PLUGIN_CREATE_SYMBOL));
    if (!versionFn || !createFn) {
        library->unload();
        return fail(refused.arg(
            absolute, tr("the library does not export the plug-in entry points %1 and %2")
                          .arg(QStringLiteral(ORV_PLUGIN_VERSION_SYMBOL), QStringLiteral(ORV_PLUGIN_CREATE_SYMBOL))));
    }

    const char* version = nullptr;
    try {
        version = versionFn();
    } catch (...) {
        version = nullptr;
    }
    if (!version || std::strcmp(version, ORV_PLUGIN_INTERFACE_VERSION) != 0) {
        // The message is made while the library (and the text of its version) is still loaded.
        const QString found = version ? QString::fromLatin1(version, int(strnlen(version, 64))) : tr("none");
        const QString message =
            refused.arg(absolute, tr("it is built for plug-in interface \"%1\", this host provides \"%2\"")
                                      .arg(found, QStringLiteral(ORV_PLUGIN_INTERFACE_VERSION)));
        library->unload();
        return fail(message);
    }

    ref_ptr<IOrvPlugin> plugin;
    QString reason;
    try {
        plugin = createFn();
        if (!plugin) reason = tr("the library created no plug-in");
    } catch (const std::exception& e) {
        reason = tr("creating the plug-in threw: %1").arg(QString::fromUtf8(e.what()));
    } catch (...) {
        reason = tr("creating the plug-in threw an unknown exception");
    }
    if (reason.isEmpty()) {
        try {
            const int rc = plugin->initPlugin();
            if (rc != 0) reason = tr("its initialisation refused (result %1)").arg(rc);
        } catch (const std::exception& e) {
            reason = tr("its initialisation threw: %1").arg(QString::fromUtf8(e.what()));
        } catch (...) {
            reason = tr("its initialisation threw an unknown exception");
        }
    }
    // Exception objects are gone by now: their code lives in the library too.
    if (!reason.isEmpty()) {
        release(absolute, std::move(library), std::move(plugin), nullptr);
        return fail(refused.arg(absolute, reason));
    }

    auto entry = std::make_unique<PluginEntry>();
    entry->path = absolute;
    entry->canonicalPath = canonical;
    try {
        entry->name = ownCopy(plugin->pluginName());
    } catch (...) {
        entry->name.clear();
    }
    if (entry->name.isEmpty()) entry->name = info.fileName();
    entry->library = std::move(library);
    entry->plugin = std::move(plugin);
    m_entries.push_back(std::move(entry));
    return 0;
}

int CZimPluginManager::unloadAt(int index)
{
    PluginEntry& e = *m_entries[std::size_t(index)];
    if (e.busy > 0) {
        m_lastError = tr("Cannot unload plug-in %1 while one of its commands runs.").arg(e.path);
        return -1;
    }
    // Out of the list first, so that nothing the plug-in does while it exits can reach it.
    std::unique_ptr<PluginEntry> entry = std::move(m_entries[std::size_t(index)]);
    m_entries.erase(m_entries.begin() + index);

    // The object is asked for before exitPlugin, which may let go of it while the host still
    // holds it.
    ref_ptr<ZimReferenced> object;
    try {
        object = entry->plugin->pluginObject();
    } catch (...) {
        object.reset();  // one it cannot report, getPluginObject never handed out either
    }
    QString reason;
    try {
        const int rc = entry->plugin->exitPlugin();
        if (rc != 0) reason = tr("result %1").arg(rc);
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
    } catch (...) {
        reason = tr("unknown exception");
    }
    if (!reason.isEmpty())
        m_lastError = tr("Plug-in %1 (%2) failed to exit (%3); it is unloaded all the same.")
                          .arg(entry->name, entry->path, reason);

    release(entry->path, std::move(entry->library), std::move(entry->plugin), std::move(object));
    return 0;
}

int CZimPluginManager::unloadPlugin(const QString& path)
{
    m_lastError.clear();
    const int index = indexOf(path);
    if (index < 0) {
        m_lastError = tr("Cannot unload plug-in %1: it is not loaded.").arg(path);
        return -1;
    }
    return unloadAt(index);
}

int CZimPluginManager::unloadAll()
{
    m_lastError.clear();
    QString firstError;
    int result = 0;
    for (int i = pluginCount() - 1; i >= 0; --i) {
        if (i >= pluginCount()) continue;  // an exiting plug-in may have unloaded others
        if (unloadAt(i) != 0) result = -1;
        if (firstError.isEmpty()) firstError = m_lastError;
    }
    m_lastError = firstError;
    return result;
}

int CZimPluginManager::runPluginCommand(const QString& pluginPath, const QString& command, const QString& objectName,
                                        bool checked)
{
    // A command may drop the host's last reference to the manager (closing the frame); the
    // manager lives until the command has returned.
    const ref_ptr<const ZimReferenced> keepAlive(this);
    m_lastError.clear();
    const int index = indexOf(pluginPath);
    if (index < 0) {
        m_lastError = tr("Cannot run command \"%1\": no plug-in is loaded from %2.").arg(command, pluginPath);
        return -1;
    }
    PluginEntry* entry = m_entries[std::size_t(index)].get();  // stays put while busy
    const ref_ptr<IOrvPlugin> plugin = entry->plugin;
    ++entry->busy;
    int result = -1;
    QString failure;
    try {
        result = plugin->runCommand(command, objectName, checked);
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = tr("unknown exception");
    }
    --entry->busy;
    if (!failure.isEmpty()) {
        m_lastError = tr("Plug-in %1 (%2) threw an exception on command \"%3\": %4")
                          .arg(entry->name, entry->path, command, failure);
        return -1;
    }
    return result;
}

int CZimPluginManager::getPluginObject(const QString& path, ref_ptr<ZimReferenced>& out)
{
    m_lastError.clear();
    out.reset();
    const int index = indexOf(path);
    if (index < 0) {
        m_lastError = tr("Cannot get the object of plug-in %1: it is not loaded.").arg(path);
        return -1;
    }
    const PluginEntry& entry = *m_entries[std::size_t(index)];
    try {
        out = entry.plugin->pluginObject();
    } catch (const std::exception& e) {
        out.reset();
        m_lastError = tr("Plug-in %1 (%2) threw an exception reporting its object: %3")
                          .arg(entry.name, entry.path, QString::fromUtf8(e.what()));
        return -1;
    } catch (...) {
        out.reset();
        m_lastError = tr("Plug-in %1 (%2) threw an exception reporting its object: %3")
                          .arg(entry.name, entry.path, tr("unknown exception"));
        return -1;
    }
    return 0;
}

ref_ptr<IOrvPluginManager> newOrvPluginManager() { return ref_ptr<IOrvPluginManager>(new CZimPluginManager()); }

}  // namespace orvPlugin
