// Plug-in manager: refused files, command routing, idempotent loads, unloading and the lifetime
// of plug-in code, against the test plug-ins of tests/plugins.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <cstddef>
#include <cstring>

#include "OrvPluginManager64t.h"
#include "TestPluginShared.h"
#include "TestSupport.h"

namespace {

QString pluginFile(const QString& name) { return QStringLiteral(ORV_TEST_PLUGIN_DIR "/") + name + ".orvplugin"; }

// True while the dynamic loader has the library mapped (the probe adds no lasting reference).
bool isMapped(const QString& path)
{
    void* handle = dlopen(QFile::encodeName(QFileInfo(path).canonicalFilePath()).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

class PluginManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        logPath = tmp.filePath("events.log");
        qputenv(ORV_TEST_PLUGIN_LOG_ENV, QFile::encodeName(logPath));
        man = orvPlugin::newOrvPluginManager();
        ASSERT_TRUE(man);
    }
    void TearDown() override
    {
        man.reset();
        qunsetenv(ORV_TEST_PLUGIN_LOG_ENV);
    }
    QStringList events() const { return QString::fromUtf8(orvtest::readFile(logPath)).split('\n', Qt::SkipEmptyParts); }
    // A copy of a test plug-in under another path: a library of its own for the loader.
    QString copyOf(const QString& name, const QString& as)
    {
        const QString path = tmp.filePath(as);
        EXPECT_TRUE(QFile::copy(pluginFile(name), path));
        return path;
    }
    CTestRecorder* recorderOf(const QString& path, ref_ptr<ZimReferenced>& holder)
    {
        EXPECT_EQ(man->getPluginObject(path, holder), 0) << qPrintable(man->lastError());
        return dynamic_cast<CTestRecorder*>(holder.get());
    }

    QTemporaryDir tmp;
    QString logPath;
    ref_ptr<IOrvPluginManager> man;
};

TEST_F(PluginManagerTest, RefusedFilesFailWithAMessageNamingTheFile)
{
    const QByteArray good = orvtest::readFile(pluginFile("good"));
    ASSERT_GT(good.size(), 4096);
    const QString text = tmp.filePath("notes.orvplugin");
    const QString cutSegments = tmp.filePath("cut-segments.orvplugin");
    const QString cutTail = tmp.filePath("cut-tail.orvplugin");
    const QString cutNoSections = tmp.filePath("cut-no-sections.orvplugin");
    const QString folder = tmp.filePath("folder.orvplugin");
    ASSERT_TRUE(orvtest::writeFile(text, "this is not a library\n"));
    ASSERT_TRUE(orvtest::writeFile(cutSegments, good.left(2000)));
    ASSERT_TRUE(orvtest::writeFile(cutTail, good.left(good.size() - 64)));
    // Cut segments in a library without a section table (a legal layout): only the segments
    // tell that it is incomplete.
    QByteArray noSections = good.left(2000);
    std::memset(noSections.data() + offsetof(Elf64_Ehdr, e_shoff), 0, sizeof(Elf64_Off));
    ASSERT_TRUE(orvtest::writeFile(cutNoSections, noSections));
    ASSERT_TRUE(QDir().mkpath(folder));

    const QStringList refused = {tmp.filePath("missing.orvplugin"),
                                 text,
                                 cutSegments,
                                 cutTail,
                                 cutNoSections,
                                 folder,
                                 pluginFile("nosymbols"),
                                 pluginFile("badversion"),
                                 pluginFile("initfail"),
                                 pluginFile("initthrow")};
    for (const QString& path : refused) {
        SCOPED_TRACE(path.toStdString());
        QString error = "stale";
        EXPECT_EQ(man->loadPlugin(path, &error), -1);
        EXPECT_TRUE(error.contains(QFileInfo(path).fileName())) << qPrintable(error);
        EXPECT_EQ(man->lastError(), error);
        EXPECT_FALSE(man->isPluginLoaded(path));
        if (QFileInfo(path).isFile()) {
            EXPECT_FALSE(isMapped(path)) << "a refused library stays loaded";
        }
    }
    EXPECT_EQ(man->pluginCount(), 0);

    QString error;
    man->loadPlugin(tmp.filePath("missing.orvplugin"), &error);
    EXPECT_TRUE(error.contains("does not exist")) << qPrintable(error);
    man->loadPlugin(pluginFile("badversion"), &error);
    EXPECT_TRUE(error.contains("orv.plugin/0") && error.contains(ORV_PLUGIN_INTERFACE_VERSION)) << qPrintable(error);
    man->loadPlugin(pluginFile("initthrow"), &error);
    EXPECT_TRUE(error.contains("init exploded")) << qPrintable(error);
    // The version is checked before anything is created; refused plug-ins are destroyed unexited.
    EXPECT_FALSE(events().contains("create badversion"));
    EXPECT_EQ(events().count("destroy initfail"), events().count("init initfail"));
    EXPECT_EQ(events().count("destroy initthrow"), events().count("init initthrow"));
    EXPECT_FALSE(events().contains("exit initfail") || events().contains("exit initthrow"));
    EXPECT_GT(events().count("init initfail"), 0);
}

TEST_F(PluginManagerTest, GoodPluginRoutesCommandsAndReportsItsObject)
{
    const QString path = pluginFile("good");
    QString error = "stale";
    ASSERT_EQ(man->loadPlugin(path, &error), 0) << qPrintable(error);
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(man->pluginCount(), 1);
    EXPECT_EQ(man->pluginPathAt(0), QFileInfo(path).absoluteFilePath());
    EXPECT_TRUE(man->pluginPathAt(1).isEmpty());
    EXPECT_TRUE(man->pluginPathAt(-1).isEmpty());

    EXPECT_EQ(man->runPluginCommand(path, "paint", "paint___0", true), 0);
    EXPECT_EQ(man->runPluginCommand(path, "erase", "erase___0", false), 0);
    EXPECT_EQ(man->runPluginCommand(path, "not-mine", "not-mine___0", false), 1);  // the plug-in's answer

    {
        ref_ptr<ZimReferenced> object;
        CTestRecorder* recorder = recorderOf(path, object);
        ASSERT_NE(recorder, nullptr);
        EXPECT_EQ(recorder->owner(), "good");
        ASSERT_EQ(recorder->commands().size(), 2u);
        EXPECT_EQ(recorder->commands()[0].command, "paint");
        EXPECT_EQ(recorder->commands()[0].objectName, "paint___0");
        EXPECT_TRUE(recorder->commands()[0].checked);
        EXPECT_EQ(recorder->commands()[1].command, "erase");
        EXPECT_EQ(recorder->commands()[1].objectName, "erase___0");
        EXPECT_FALSE(recorder->commands()[1].checked);
    }
    EXPECT_TRUE(isMapped(path));
    EXPECT_EQ(man->unloadPlugin(path), 0);
    EXPECT_EQ(man->pluginCount(), 0);
    EXPECT_EQ(events(), QStringList({"init good", "exit good", "destroy good"}));
    EXPECT_FALSE(isMapped(path));
}

TEST_F(PluginManagerTest, LoadingTheSamePluginTwiceIsIdempotentWhateverThePathSpelling)
{
    const QString path = pluginFile("good");
    const QString link = tmp.filePath("link.orvplugin");
    ASSERT_TRUE(QFile::link(path, link));
    const QString dotted = QFileInfo(path).absolutePath() + "/./" + QFileInfo(path).fileName();

    ASSERT_EQ(man->loadPlugin(path), 0);
    for (const QString& again : {path, link, dotted}) {
        QString error = "stale";
        EXPECT_EQ(man->loadPlugin(again, &error), 0) << qPrintable(again);
        EXPECT_TRUE(error.isEmpty());
        EXPECT_TRUE(man->isPluginLoaded(again));
    }
    EXPECT_EQ(man->pluginCount(), 1);
    EXPECT_EQ(events().count("init good"), 1);

    EXPECT_EQ(man->runPluginCommand(link, "via-link", "via-link___0", false), 0);
    ref_ptr<ZimReferenced> object;
    CTestRecorder* recorder = recorderOf(path, object);
    ASSERT_NE(recorder, nullptr);
    ASSERT_EQ(recorder->commands().size(), 1u);
    EXPECT_EQ(recorder->commands()[0].command, "via-link");
    object.reset();
    EXPECT_EQ(man->unloadPlugin(dotted), 0);
    EXPECT_FALSE(man->isPluginLoaded(path));
}

TEST_F(PluginManagerTest, UnknownAndUnloadedPathsFailCleanly)
{
    const QString unknown = tmp.filePath("never-loaded.orvplugin");
    ref_ptr<ZimReferenced> object;
    for (int round = 0; round < 2; ++round) {
        const QString path = round == 0 ? unknown : pluginFile("good");
        if (round == 1) {
            ASSERT_EQ(man->loadPlugin(path), 0);
            ASSERT_EQ(man->unloadPlugin(path), 0);
        }
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(man->unloadPlugin(path), -1);
        EXPECT_TRUE(man->lastError().contains(QFileInfo(path).fileName())) << qPrintable(man->lastError());
        EXPECT_EQ(man->runPluginCommand(path, "paint", "paint___0", false), -1);
        EXPECT_TRUE(man->lastError().contains("paint")) << qPrintable(man->lastError());
        object = new CTestRecorder("stale");
        EXPECT_EQ(man->getPluginObject(path, object), -1);
        EXPECT_FALSE(object);
        EXPECT_FALSE(man->lastError().isEmpty());
    }
    EXPECT_EQ(man->runPluginCommand(QString(), "paint", "paint___0", false), -1);
}

TEST_F(PluginManagerTest, ThrowingPluginsAreReportedAndTheManagerStaysUsable)
{
    const QString thrower = pluginFile("cmdthrow");
    const QString good = pluginFile("good");
    ASSERT_EQ(man->loadPlugin(thrower), 0);
    ASSERT_EQ(man->loadPlugin(good), 0);

    EXPECT_EQ(man->runPluginCommand(thrower, "boom", "boom___0", false), -1);
    for (const char* part : {"cmdthrow", "boom", "command exploded"})
        EXPECT_TRUE(man->lastError().contains(part)) << part << ": " << qPrintable(man->lastError());
    EXPECT_EQ(man->runPluginCommand(thrower, "boom-int", "boom-int___0", true), -1);
    EXPECT_TRUE(man->lastError().contains("boom-int")) << qPrintable(man->lastError());

    EXPECT_EQ(man->runPluginCommand(thrower, "calm", "calm___0", false), 0);
    EXPECT_EQ(man->runPluginCommand(good, "paint", "paint___1", false), 0);
    EXPECT_TRUE(man->lastError().isEmpty());
    EXPECT_EQ(man->unloadPlugin(thrower), 0) << qPrintable(man->lastError());

    // An exitPlugin that throws does not stop the unload.
    const QString exitThrow = pluginFile("exitthrow");
    ASSERT_EQ(man->loadPlugin(exitThrow), 0);
    EXPECT_EQ(man->unloadPlugin(exitThrow), 0);
    EXPECT_TRUE(man->lastError().contains("exit exploded")) << qPrintable(man->lastError());
    EXPECT_FALSE(man->isPluginLoaded(exitThrow));
    EXPECT_FALSE(isMapped(exitThrow));
    EXPECT_TRUE(events().contains("destroy exitthrow"));
    EXPECT_EQ(man->pluginCount(), 1);
}

TEST_F(PluginManagerTest, UnloadAllAndTheDestructorExitInReverseLoadOrder)
{
    for (const char* name : {"good", "second", "cmdthrow"}) ASSERT_EQ(man->loadPlugin(pluginFile(name)), 0);
    EXPECT_EQ(man->pluginPathAt(1), pluginFile("second"));
    EXPECT_EQ(man->unloadAll(), 0);
    EXPECT_EQ(man->pluginCount(), 0);
    EXPECT_EQ(events().filter("exit "), QStringList({"exit cmdthrow", "exit second", "exit good"}));
    for (const char* name : {"good", "second", "cmdthrow"}) EXPECT_FALSE(isMapped(pluginFile(name))) << name;

    QFile::remove(logPath);
    ASSERT_EQ(man->loadPlugin(pluginFile("second")), 0);
    ASSERT_EQ(man->loadPlugin(pluginFile("good")), 0);
    man.reset();
    EXPECT_EQ(events().filter("exit "), QStringList({"exit good", "exit second"}));
    EXPECT_EQ(events().filter("destroy ").size(), 2);
}

TEST_F(PluginManagerTest, AHeldPluginObjectKeepsTheLibraryMapped)
{
    const QString path = copyOf("good", "held.orvplugin");
    ASSERT_EQ(man->loadPlugin(path), 0);
    ASSERT_EQ(man->runPluginCommand(path, "paint", "paint___0", false), 0);
    ref_ptr<ZimReferenced> object;
    CTestRecorder* recorder = recorderOf(path, object);
    ASSERT_NE(recorder, nullptr);

    EXPECT_EQ(man->unloadPlugin(path), 0);
    EXPECT_FALSE(man->isPluginLoaded(path));
    EXPECT_TRUE(events().contains("destroy good"));
    ASSERT_TRUE(isMapped(path));
    // Its text and its destructor are the library's: both still work.
    EXPECT_EQ(recorder->owner(), "good");
    EXPECT_EQ(recorder->commands().size(), 1u);
    object.reset();

    // The same for a plug-in held by the host itself, with no object of its own left.
    const QString lender = copyOf("good", "lender.orvplugin");
    ASSERT_EQ(man->loadPlugin(lender), 0);
    recorder = recorderOf(lender, object);
    ASSERT_NE(recorder, nullptr);
    ASSERT_EQ(man->runPluginCommand(lender, "lend-self", "lend-self___0", false), 0);
    ref_ptr<ZimReferenced> plugin = recorder->lent;
    ASSERT_TRUE(plugin);
    recorder->lent.reset();
    object.reset();
    EXPECT_EQ(man->unloadPlugin(lender), 0);
    EXPECT_EQ(events().count("destroy good"), 1);  // only the first copy's plug-in is gone
    ASSERT_TRUE(isMapped(lender));
    plugin.reset();
    EXPECT_EQ(events().count("destroy good"), 2);
}

TEST_F(PluginManagerTest, CallsBackIntoTheManagerFromInsideACommand)
{
    const QString path = copyOf("good", "reentrant.orvplugin");
    ASSERT_EQ(man->loadPlugin(path), 0);
    ref_ptr<ZimReferenced> object;
    CTestRecorder* recorder = recorderOf(path, object);
    ASSERT_NE(recorder, nullptr);

    // A plug-in cannot be unloaded from inside one of its own commands.
    int innerUnload = 0;
    bool loadedInside = false;
    recorder->duringCommand = [&] {
        innerUnload = man->unloadPlugin(path);
        loadedInside = man->isPluginLoaded(path);
    };
    EXPECT_EQ(man->runPluginCommand(path, "paint", "paint___0", false), 0);
    EXPECT_EQ(innerUnload, -1);
    EXPECT_TRUE(loadedInside);
    EXPECT_TRUE(man->isPluginLoaded(path));

    // A command that drops the last reference to the manager: it lives until the command returns,
    // then unloads everything (the library too, since nobody holds the object any more).
    IOrvPluginManager* raw = man.get();
    recorder->duringCommand = [&] {
        object.reset();
        man.reset();
    };
    EXPECT_EQ(raw->runPluginCommand(path, "close", "close___0", false), 0);
    EXPECT_FALSE(man);
    EXPECT_TRUE(events().contains("exit good"));
    EXPECT_TRUE(events().contains("destroy good"));
    EXPECT_FALSE(isMapped(path));
}

TEST(PluginManagerFactory, EveryCallMakesAnIndependentManager)
{
    ref_ptr<IOrvPluginManager> a = orvPlugin::newOrvPluginManager();
    ref_ptr<IOrvPluginManager> b = orvPlugin::newOrvPluginManager();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    ASSERT_EQ(a->loadPlugin(pluginFile("good")), 0);
    EXPECT_EQ(b->pluginCount(), 0);
    EXPECT_EQ(b->runPluginCommand(pluginFile("good"), "paint", "paint___0", false), -1);
}

}  // namespace
