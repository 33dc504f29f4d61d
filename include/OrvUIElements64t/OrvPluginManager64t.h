// Plug-in manager library: loads command plug-ins (shared libraries with the suffix
// "orvplugin"), routes commands to them by plug-in path, and unloads them. A plug-in builds
// against this header alone: it implements IOrvPlugin and declares itself with
// ORV_DECLARE_PLUGIN(ClassName) in one of its source files.
//
// Loading a plug-in: the file is checked to be a complete shared library of this architecture,
// loaded with all its symbols resolved, asked for its interface version (ORV_PLUGIN_VERSION_SYMBOL,
// compared with ORV_PLUGIN_INTERFACE_VERSION before anything else of it runs), created
// (ORV_PLUGIN_CREATE_SYMBOL; the manager holds the plug-in by ref_ptr) and initialised.
//
// Lifetime: the code of a plug-in, of its objects and of every string literal it hands out lives
// in its library. Unloading therefore exits the plug-in, drops the manager's references to the
// plug-in and to its objects, and only then unloads the library. A plug-in object (getPluginObject)
// that the caller still holds at that moment would dangle once the library is gone: callers drop
// such objects before unloading. When one is still held anyway, the manager leaves the library
// mapped for the rest of the process (and warns) instead of unloading it.
//
// Paths are compared after canonicalisation: a plug-in loaded through a symbolic link is the same
// plug-in as the file it points to. The manager belongs to one thread (the GUI thread); plug-ins
// may call back into it from a command, but cannot unload themselves while one of their commands
// runs.
#pragma once

#include <QString>

#include "ZimBase64t.h"

#if defined(ORV_BUILDING_OrvPluginManager64t)
#define ORV_PLUGINMAN_EXPORT __attribute__((visibility("default")))
#else
#define ORV_PLUGINMAN_EXPORT
#endif

// Interface version a plug-in was built against; a library that answers another one is refused.
#define ORV_PLUGIN_INTERFACE_VERSION "orv.plugin/1"

// One command plug-in. Commands arrive by name, with the object name of the action that sent
// them ("command___index") and its checked state. Nothing may throw out of these operations;
// the manager catches what does and reports it as a failed command (or a refused load).
class IOrvPlugin : public ZimReferenced {
public:
    // Short human-readable name, for messages.
    virtual QString pluginName() const = 0;
    // Called once after loading; a non-zero result refuses the load.
    virtual int initPlugin() = 0;
    // Runs a command: 0 when done, -1 when it failed, 1 when the command is not this plug-in's.
    virtual int runCommand(const QString& command, const QString& objectName, bool checked) = 0;
    // The plug-in's shared object for the host (may be null).
    virtual ref_ptr<ZimReferenced> pluginObject() = 0;
    // Called once before unloading.
    virtual int exitPlugin() = 0;

protected:
    ~IOrvPlugin() override = default;
};

// Entry symbols every plug-in exports (with C linkage).
extern "C" {
typedef const char* (*OrvPluginVersionFn)();
typedef IOrvPlugin* (*OrvPluginCreateFn)();
}
#define ORV_PLUGIN_VERSION_SYMBOL "orvPluginInterfaceVersion"
#define ORV_PLUGIN_CREATE_SYMBOL "orvCreatePlugin"

#define ORV_DECLARE_PLUGIN(ClassName)                                                         \
    extern "C" __attribute__((visibility("default"))) const char* orvPluginInterfaceVersion() \
    {                                                                                         \
        return ORV_PLUGIN_INTERFACE_VERSION;                                                  \
    }                                                                                         \
    extern "C" __attribute__((visibility("default"))) IOrvPlugin* orvCreatePlugin() { return new ClassName(); }

class ORV_PLUGINMAN_EXPORT IOrvPluginManager : public ZimReferenced {
public:
    // Loads the plug-in library at path: 0 when loaded (or already loaded: nothing is created or
    // initialised a second time), -1 with *error and lastError() set (naming the file and why)
    // for a missing file, a file that is not a complete library, a library without the entry
    // symbols, another interface version, or a plug-in whose initPlugin refuses or throws; a
    // refused plug-in is destroyed and its library unloaded. *error is cleared on success.
    virtual int loadPlugin(const QString& path, QString* error = nullptr) = 0;
    // exitPlugin, then releases the plug-in and unloads its library (see Lifetime above): 0, or -1
    // for a path that is not loaded or a plug-in that is running a command. A plug-in whose
    // exitPlugin fails or throws is unloaded all the same; lastError() keeps the reason.
    virtual int unloadPlugin(const QString& path) = 0;
    // Hands a command to the plug-in loaded from pluginPath: the plug-in's result, or -1 when no
    // such plug-in is loaded or the command threw (lastError() says which, naming the plug-in,
    // the command and the exception).
    virtual int runPluginCommand(const QString& pluginPath, const QString& command, const QString& objectName,
                                 bool checked) = 0;
    // The plug-in object of a loaded plug-in: 0 and out set (out stays empty for a plug-in without
    // one), or -1 and out emptied. Drop the object before unloading the plug-in.
    virtual int getPluginObject(const QString& path, ref_ptr<ZimReferenced>& out) = 0;

    // ---- beyond the operations the UI library calls ----

    // Loaded plug-ins in load order; pluginPathAt gives the absolute path the plug-in was loaded
    // from (empty for an index out of range).
    virtual int pluginCount() const = 0;
    virtual QString pluginPathAt(int index) const = 0;
    virtual bool isPluginLoaded(const QString& path) const = 0;
    // Unloads every plug-in, the last loaded first: 0, or -1 when one could not be unloaded.
    // The manager's destructor calls it.
    virtual int unloadAll() = 0;
    // Message of the last failure; every operation above that can fail clears it first.
    virtual QString lastError() const = 0;

protected:
    ~IOrvPluginManager() override = default;
};

namespace orvPlugin {
// A new, empty manager on every call.
ORV_PLUGINMAN_EXPORT ref_ptr<IOrvPluginManager> newOrvPluginManager();
}  // namespace orvPlugin
