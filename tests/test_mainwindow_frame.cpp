// The main frame: menus and toolbars from items, command routing into real plug-ins, plug-in
// loading, views through the makers, docks, status panes and the event handlers.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QResizeEvent>
#include <QSet>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <memory>
#include <utility>
#include <vector>

#include "COrvMainFrame.h"
#include "COrvViewerMan.h"
#include "IOrvDockWidget.h"
#include "IOrvMeshPanelViewer.h"
#include "MwTestPlugin.h"
#include "OrvFrameLink.h"
#include "OrvProgress.h"
#include "OrvTheme.h"
#include "OrvUIElements64t.h"
#include "TestSupport.h"

using namespace orvUI;

namespace {

// ---- helpers ---------------------------------------------------------------------------------

struct ItemRecord {
    ItemRecord(QString t, QString n, std::uint32_t f = ActionItemInMenu | ActionItemInToolBar, bool able = false,
               bool on = false)
        : text(std::move(t)), name(std::move(n)), flags(f), checkable(able), checked(on)
    {
    }
    QString text;
    QString name;
    std::uint32_t flags;
    bool checkable;
    bool checked;
    QString icon;
    quint64 userData = 0;
};

ref_ptr<IOrvActionItem> item(const ItemRecord& record)
{
    _ActionItemInfo_ info;
    info.text = record.text;
    info.name = record.name;
    info.icon = record.icon;
    info.flags = record.flags;
    info.checkable = record.checkable;
    info.checked = record.checked;
    info.userData = record.userData;
    return newActionItem(info, 0);
}

ref_ptr<IOrvActionItem> separator(std::uint32_t where)
{
    return item({QString(), QString(), ActionItemSeparator | where});
}

// An item with sub-items (built from records, as a host does).
ref_ptr<IOrvActionItem> subMenuItem(const QString& text, const QStringList& childNames)
{
    std::vector<_ActionItemInfo_> records(childNames.size());
    for (int i = 0; i < childNames.size(); ++i) {
        records[i].text = childNames[i];
        records[i].name = childNames[i];
        records[i].flags = ActionItemInMenu;
    }
    records.back().flags |= ActionItemLast;
    _ActionItemInfo_ info;
    info.text = text;
    info.name = text;
    info.subItems = records.data();
    info.flags = ActionItemInMenu;
    return newActionItem(info, 0);
}

ref_ptr<IOrvCommonItem> group(int position, const QString& name, const QVector<ref_ptr<IOrvActionItem>>& items)
{
    _CommonItemInfo_ info;
    info.position = position;
    info.name = name;
    return newCommonItem(info, items);
}

class RecordingReceiver : public IOrvActionReceiver {
public:
    void actionCreated(const QString& name, quint64 userData) override { told.emplace_back(name, userData); }
    std::vector<std::pair<QString, quint64>> told;
};

QStringList actionTexts(const QWidget* widget)
{
    QStringList texts;
    for (const QAction* action : widget->actions())
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

QAction* actionNamed(const QWidget* widget, const QString& name)
{
    for (QAction* action : widget->actions())
        if (action->objectName() == name) return action;
    return nullptr;
}

// Logging rules in force while it lives, as QT_LOGGING_RULES would set them.
class LoggingRules {
public:
    explicit LoggingRules(const char* rules) { QLoggingCategory::setFilterRules(QString::fromLatin1(rules)); }
    ~LoggingRules() { QLoggingCategory::setFilterRules(QString()); }
};

// Collects the messages written while it lives.
class MessageCapture {
public:
    MessageCapture() { s_current = this, m_previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList debug;
    QStringList warnings;
    QStringList debugCategories;  // of every debug line, in order

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (!s_current) return;
        if (type == QtDebugMsg) {
            s_current->debug << message;
            s_current->debugCategories << QString::fromLatin1(context.category ? context.category : "");
        }
        if (type == QtWarningMsg) s_current->warnings << message;
    }
    static MessageCapture* s_current;
    QtMessageHandler m_previous = nullptr;
};
MessageCapture* MessageCapture::s_current = nullptr;

// A mesh panel double: counts its refreshes.
class FakeMeshPanel : public QWidget, public IOrvMeshPanelViewer {
public:
    explicit FakeMeshPanel(QWidget* parent) : QWidget(parent) {}
    CMeshTabWD* addMeshList(QString, int) override { return nullptr; }
    int refreshMeshList(QString) override { return 0; }
    int clearMeshLists() override { return 0; }
    int addMeshRow(ref_ptr<IZimMesh>, QString) override { return -1; }
    int removeMeshRow(ref_ptr<IZimMesh>, QString) override { return -1; }
    int setMeshRowState(ref_ptr<IZimMesh>, int, QString) override { return -1; }
    int clearMeshRows() override { return 0; }
    int layoutMeshLists() override { return ++layouts; }
    int rebuildMeshList(QString) override { return 0; }
    int layouts = 0;
};

std::vector<QPointer<QWidget>> g_made;
QWidget* makePlainWidget(QWidget* parent)
{
    auto* widget = new QWidget(parent);
    g_made.emplace_back(widget);
    return widget;
}
QWidget* makeMeshPanel(QWidget* parent) { return new FakeMeshPanel(parent); }

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedMakers = frameMakers();
        frame = std::make_unique<COrvMainFrame>();
        LoggingRules debugOn("orv.ui.debug=true");
        MessageCapture capture;
        ASSERT_TRUE(frame->initFrame());
        loadMessages = capture;
    }
    void TearDown() override
    {
        frame.reset();
        frameMakers() = m_savedMakers;
        g_made.clear();
    }

    QString pluginPath(const QString& file) const { return QStringLiteral(ORV_MW_PLUGIN_DIR "/") + file; }

    CMwCommandLog* logOf(int index, ref_ptr<ZimReferenced>& holder)
    {
        holder = frame->getPluginObject(index);
        return dynamic_cast<CMwCommandLog*>(holder.get());
    }

    std::unique_ptr<COrvMainFrame> frame;
    struct {
        QStringList debug, warnings;
        void operator=(const MessageCapture& c) { debug = c.debug, warnings = c.warnings; }
    } loadMessages;

private:
    FrameMakers m_savedMakers;
};

// ---- plug-ins --------------------------------------------------------------------------------

TEST_F(MainFrameTest, LoadsThePluginFilesInNameOrderAndSkipsTheBrokenOnes)
{
    EXPECT_EQ(frame->getLoadedPlugins(), (QStringList{pluginPath("alpha.orvplugin"), pluginPath("Beta.ORVPLUGIN"),
                                                      pluginPath("gamma.orvplugin")}));
    // Each refused file is named, with the plug-in manager's reason.
    for (const char* file : {"broken.orvplugin", "nosym.orvplugin"}) {
        ref_ptr<IOrvPluginManager> probe = orvPlugin::newOrvPluginManager();
        ASSERT_NE(probe->loadPlugin(pluginPath(file)), 0);
        const QString reason = probe->lastError();
        ASSERT_FALSE(reason.isEmpty());
        EXPECT_EQ(loadMessages.warnings.filter(pluginPath(file)).filter(reason).size(), 1) << file;
    }
    EXPECT_EQ(loadMessages.warnings.size(), 2);
    // One line per file of the folder, matching or not.
    const qint64 brokenSize = QFileInfo(pluginPath("broken.orvplugin")).size();
    EXPECT_TRUE(
        loadMessages.debug.contains(QStringLiteral("%1 broken.orvplugin " ORV_MW_PLUGIN_DIR).arg(brokenSize, 10)));
    EXPECT_EQ(loadMessages.debug.filter(QStringLiteral(" " ORV_MW_PLUGIN_DIR)).size(),
              QDir(ORV_MW_PLUGIN_DIR).entryList(QDir::Files).size());

    // A second load gives no plug-in a second index.
    EXPECT_TRUE(frame->loadPlugins());
    EXPECT_EQ(frame->getLoadedPlugins().size(), 3);

    ref_ptr<ZimReferenced> holder;
    CMwCommandLog* log = logOf(1, holder);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->owner(), QStringLiteral("Beta"));
    holder.reset();
    EXPECT_FALSE(frame->getPluginObject(3));
    EXPECT_FALSE(frame->getPluginObject(-1));

    frame->unloadAllPlugins();
    EXPECT_TRUE(frame->getLoadedPlugins().isEmpty());
    EXPECT_FALSE(frame->getPluginObject(0));
}

TEST_F(MainFrameTest, TriggeredActionsReachTheirPlugin)
{
    auto receiver = ref_ptr<RecordingReceiver>(new RecordingReceiver());
    ItemRecord stamp{"Stamp", "stamp___1", ActionItemInMenu, true, false};
    stamp.userData = 5;
    frame->setCommonItems(receiver, {group(0, "Tools",
                                           {item(stamp), item({"Far", "stamp___3"}), item({"Bare", "stamp"}),
                                            item({"Junk", "stamp___x"}), item({"First", "first___0"})})});
    QMenu* menu = frame->positionMenus().value(0);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(receiver->told.size(), 5u);
    EXPECT_EQ(receiver->told[0], std::make_pair(QStringLiteral("stamp___1"), quint64(5)));

    ref_ptr<ZimReferenced> alphaHolder, betaHolder, gammaHolder;
    CMwCommandLog* alpha = logOf(0, alphaHolder);
    CMwCommandLog* beta = logOf(1, betaHolder);
    CMwCommandLog* gamma = logOf(2, gammaHolder);
    ASSERT_TRUE(alpha && beta && gamma);

    actionNamed(menu, "stamp___1")->trigger();  // checkable: triggers checked
    ASSERT_EQ(beta->commands().size(), 1u);
    EXPECT_EQ(beta->commands()[0].command, QStringLiteral("stamp"));
    EXPECT_EQ(beta->commands()[0].objectName, QStringLiteral("stamp___1"));
    EXPECT_TRUE(beta->commands()[0].checked);
    EXPECT_EQ(frame->getLastActionName(), QStringLiteral("stamp___1"));

    // Out of range, without separator, without number: remembered, never routed.
    LoggingRules debugOn("orv.ui.debug=true");
    MessageCapture capture;
    for (const char* name : {"stamp___3", "stamp", "stamp___x"}) {
        actionNamed(menu, name)->trigger();
        EXPECT_EQ(frame->getLastActionName(), QString::fromLatin1(name));
    }
    EXPECT_TRUE(alpha->commands().empty());
    EXPECT_EQ(beta->commands().size(), 1u);
    EXPECT_TRUE(gamma->commands().empty());
    EXPECT_EQ(capture.debug.filter("\"stamp\"").size(), 1);

    actionNamed(menu, "first___0")->trigger();
    ASSERT_EQ(alpha->commands().size(), 1u);
    EXPECT_EQ(alpha->commands()[0].command, QStringLiteral("first"));
    EXPECT_FALSE(alpha->commands()[0].checked);
}

// The plug-in lines and command names stay off the console until the logging rules ask for the
// "orv.ui" category; then they come with the same texts. Warnings are never silenced.
TEST_F(MainFrameTest, DiagnosticsAreSilentUntilTheRulesAskForThem)
{
    frame->setCommonItems({}, {group(0, "Tools", {item({"Bare", "bare"})})});
    QAction* bare = actionNamed(frame->positionMenus().value(0), "bare");
    ASSERT_NE(bare, nullptr);
    auto run = [&](MessageCapture& capture) {
        COrvMainFrame other;
        other.initFrame();
        other.unloadAllPlugins();
        bare->trigger();
        return capture.debug;
    };
    QStringList silent;
    QStringList warnings;
    {
        MessageCapture capture;
        silent = run(capture);
        warnings = capture.warnings;
    }
    EXPECT_TRUE(silent.isEmpty()) << silent.join('\n').toStdString();
    EXPECT_EQ(warnings.size(), 2);  // the two refused plug-in files

    QStringList lines;
    QStringList categories;
    {
        LoggingRules debugOn("orv.ui.debug=true");
        MessageCapture capture;
        lines = run(capture);
        categories = capture.debugCategories;
    }
    const int files = QDir(ORV_MW_PLUGIN_DIR).entryList(QDir::Files).size();
    ASSERT_EQ(lines.size(), 2 * files + 2);
    EXPECT_EQ(lines.mid(0, files), loadMessages.debug);  // loading, then unloading, one line a file
    EXPECT_EQ(lines.mid(files, files), loadMessages.debug);
    EXPECT_EQ(lines[2 * files], QStringLiteral("bare"));
    EXPECT_EQ(lines[2 * files + 1], QStringLiteral("Action \"bare\" names no plug-in; nothing is run."));
    EXPECT_EQ(QSet<QString>(categories.begin(), categories.end()), QSet<QString>{QStringLiteral("orv.ui")});
}

TEST_F(MainFrameTest, UnloadingShiftsTheLaterPluginsDown)
{
    frame->setCommonItems({}, {group(0, "P", {item({"Third", "unload___2"}), item({"Now", "after___0"})})});
    QMenu* menu = frame->positionMenus().value(0);
    ref_ptr<ZimReferenced> holder;
    CMwCommandLog* gamma = logOf(2, holder);
    ASSERT_NE(gamma, nullptr);
    // From inside gamma's command the others unload; gamma, busy, stays and becomes plug-in 0.
    COrvMainFrame* f = frame.get();
    gamma->duringCommand = [f] { f->unloadAllPlugins(); };
    actionNamed(menu, "unload___2")->trigger();
    gamma->duringCommand = nullptr;
    EXPECT_EQ(frame->getLoadedPlugins(), QStringList{pluginPath("gamma.orvplugin")});

    actionNamed(menu, "after___0")->trigger();
    ASSERT_EQ(gamma->commands().size(), 2u);
    EXPECT_EQ(gamma->commands()[1].command, QStringLiteral("after"));
    holder.reset();
}

TEST(MainFrameMaker, TheViewerManagerMakesAndInitialisesTheFrame)
{
    // A manager made without getVM finds the makers only once they are installed.
    installViewMakers();
    ref_ptr<COrvViewerMan> vm(new COrvViewerMan());
    ASSERT_EQ(vm->createMainFrame(), 0);
    std::unique_ptr<COrvMainFrame> made(dynamic_cast<COrvMainFrame*>(vm->getMainFrame()));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->getLoadedPlugins().size(), 3);  // plug-ins load before the first menu
    EXPECT_FALSE(made->isVisible());
}

// ---- menus and toolbars ----------------------------------------------------------------------

TEST_F(MainFrameTest, MenusAndToolbarsFollowTheFlags)
{
    // An icon that exists beside the application, one that does not.
    const QString iconDir = QCoreApplication::applicationDirPath() + "/icons-test";
    QImage pixel(4, 4, QImage::Format_ARGB32);
    pixel.fill(Qt::red);
    QDir().mkpath(iconDir);
    ASSERT_TRUE(pixel.save(iconDir + "/open.png"));

    auto receiver = ref_ptr<RecordingReceiver>(new RecordingReceiver());
    ItemRecord open{"Open", "open___0"};
    open.icon = "icons-test/open.png";
    open.userData = 11;
    ItemRecord save{"Save", "FileSave", ActionItemInMenu};
    save.icon = "icons-test/missing.png";
    ItemRecord grid{"Grid", "grid___1", ActionItemInToolBar, true, true};
    frame->setCommonItems(
        receiver, {group(0, "File",
                         {item(open), separator(ActionItemInMenu), item(save), item({"Nowhere", "nowhere___0", 0}),
                          subMenuItem("Recent", {"r1", "r2"}), item(grid), separator(ActionItemInToolBar)}),
                   // A second group at the same position continues menu and toolbar.
                   group(0, "Again", {item({"Open again", "open___0"})})});
    QFile::remove(iconDir + "/open.png");
    QDir().rmdir(iconDir);

    ASSERT_EQ(frame->menuBar()->actions().size(), 1);
    QMenu* menu = frame->positionMenus().value(0);
    EXPECT_EQ(menu->title(), QStringLiteral("File"));
    EXPECT_EQ(actionTexts(menu), (QStringList{"Open", "|", "Save", "Recent", "|", "Open again"}));
    EXPECT_EQ(actionTexts(menu->actions()[3]->menu()), (QStringList{"r1", "r2"}));
    ASSERT_EQ(frame->shownToolBars().size(), 1);
    QToolBar* toolBar = frame->shownToolBars()[0];
    EXPECT_EQ(toolBar->windowTitle(), QStringLiteral("File"));
    EXPECT_EQ(actionTexts(toolBar), (QStringList{"Open", "Grid", "|", "|", "Open again"}));

    EXPECT_FALSE(menu->actions()[0]->icon().isNull());
    EXPECT_TRUE(menu->actions()[2]->icon().isNull());
    EXPECT_TRUE(frame->isActionCheckable("grid___1"));
    EXPECT_TRUE(frame->isActionChecked("grid___1"));
    frame->setActionChecked("grid___1", false);
    EXPECT_FALSE(frame->isActionChecked("grid___1"));
    EXPECT_FALSE(frame->isActionCheckable("FileSave"));  // in no toolbar

    // Lookups by name find the first action of a name.
    EXPECT_EQ(frame->getActionText("open___0"), QStringLiteral("Open"));
    EXPECT_EQ(frame->getActionText("r2"), QStringLiteral("r2"));
    EXPECT_TRUE(frame->getActionText("nowhere___0").isEmpty());
    EXPECT_TRUE(frame->getActionText("grid___1").isEmpty());  // toolbar only

    // The receiver hears of every action made, with its user data, and of nothing else.
    QStringList told;
    for (const auto& t : receiver->told) told << t.first;
    EXPECT_EQ(told, (QStringList{"open___0", "FileSave", "r1", "r2", "grid___1", "open___0"}));
    EXPECT_EQ(receiver->told[0].second, 11u);

    // The window comes up with them.
    frame->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(MainFrameTest, PlaceholderPositionsAndToolbarWidths)
{
    frame->setCommonItems({}, {group(3, "Tools", {item({"Measure", "measure___0"})})});
    ASSERT_EQ(frame->positionMenus().size(), 4);
    for (QMenu* menu : frame->positionMenus()) EXPECT_EQ(menu->title(), QStringLiteral("Tools"));
    EXPECT_EQ(frame->menuBar()->actions().size(), 4);
    ASSERT_EQ(frame->shownToolBars().size(), 1);
    EXPECT_EQ(frame->shownToolBars()[0]->actions().size(), 1);

    // A later group at a placeholder position fills that menu and brings its toolbar up.
    frame->setCommonItems({}, {group(1, "View", {item({"Zoom", "zoom___0"})})});
    EXPECT_EQ(actionTexts(frame->positionMenus()[1]), (QStringList{"|", "Zoom"}));
    EXPECT_EQ(frame->shownToolBars().size(), 2);
    // A group with a negative position is left out.
    MessageCapture capture;
    frame->setCommonItems({}, {group(-1, "Bad", {item({"X", "x___0"})})});
    EXPECT_EQ(frame->positionMenus().size(), 4);
    EXPECT_EQ(capture.warnings.size(), 1);

    frame->setCommonItems({}, {group(2, "Edit", {item({"Undo", "undo___0"})})});
    const QVector<QToolBar*> toolBars = frame->shownToolBars();
    ASSERT_EQ(toolBars.size(), 3);
    QResizeEvent resize(QSize(901, 600), QSize(800, 600));
    QCoreApplication::sendEvent(frame.get(), &resize);
    for (QToolBar* toolBar : toolBars) EXPECT_EQ(toolBar->minimumWidth(), 300);
}

TEST_F(MainFrameTest, SubMenuGoesBeforeFileSaveAndIsReplaced)
{
    auto receiver = ref_ptr<RecordingReceiver>(new RecordingReceiver());
    frame->setCommonItems({}, {group(0, "File", {item({"Open", "open___0"}), item({"Save", "FileSave"})}),
                               group(1, "View", {item({"Zoom", "zoom___0"})})});
    QMenu* file = frame->positionMenus()[0];

    // Menu-only items whatever their bits; not reachable by name; no toolbar.
    ItemRecord recent{"Recent one", "recent___0", 0, true, true};
    frame->insertSubMenu(receiver, "RecentMenu",
                         group(9, "Recent", {item(recent), separator(0), subMenuItem("Older", {"o1"})}), 0);
    EXPECT_EQ(actionTexts(file), (QStringList{"Open", "Recent", "Save"}));
    QMenu* sub = file->actions()[1]->menu();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(actionTexts(sub), (QStringList{"Recent one", "|", "Older"}));
    EXPECT_TRUE(sub->actions()[0]->isChecked());
    EXPECT_EQ(frame->getActionText("RecentMenu"), QStringLiteral("Recent"));
    ASSERT_EQ(receiver->told.size(), 2u);
    frame->setActionCheckedByName("recent___0", false);
    EXPECT_TRUE(sub->actions()[0]->isChecked());
    for (QToolBar* toolBar : frame->shownToolBars()) EXPECT_EQ(actionNamed(toolBar, "recent___0"), nullptr);

    // Rebuilt from inside one of its own actions: the old menu is replaced without harm.
    QPointer<QMenu> oldSub(sub);
    QAction* inside = sub->actions()[0];
    COrvMainFrame* f = frame.get();
    QObject::connect(inside, &QAction::triggered, frame.get(), [f] {
        f->insertSubMenu({}, "RecentMenu", group(9, "Recent files", {item({"Newer", "newer___0"})}), 0);
    });
    inside->trigger();
    EXPECT_EQ(frame->getLastActionName(), QStringLiteral("recent___0"));
    EXPECT_EQ(actionTexts(file), (QStringList{"Open", "Recent files", "Save"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(oldSub.isNull());

    // No "FileSave" in that menu: at its end.
    frame->insertSubMenu({}, "Layouts", group(0, "Layouts", {item({"Grid", "grid___0"})}), 1);
    EXPECT_EQ(actionTexts(frame->positionMenus()[1]), (QStringList{"Zoom", "Layouts"}));
    // An index that is no menu: the old sub-menu goes, nothing comes.
    frame->insertSubMenu({}, "Layouts", group(0, "Layouts", {item({"Grid", "grid___0"})}), 7);
    EXPECT_EQ(actionTexts(frame->positionMenus()[1]), QStringList{"Zoom"});
}

TEST_F(MainFrameTest, GroupCheckedTogglesTheNamedActionAgainstTheOthers)
{
    frame->setCommonItems({}, {group(0, "Mode",
                                     {item({"Move", "move___0", ActionItemInMenu, true}),
                                      item({"Paint", "paint___0", ActionItemInMenu, true}),
                                      item({"Erase", "erase___0", ActionItemInMenu, true})})});
    frame->addToActionGroup("modes", "move___0");
    frame->addToActionGroup("modes", "paint___0");
    frame->addToActionGroup("modes", "erase___0");
    frame->addToActionGroup("modes", "unknown");
    QMenu* menu = frame->positionMenus()[0];
    QAction* move = actionNamed(menu, "move___0");
    QAction* paint = actionNamed(menu, "paint___0");
    QAction* erase = actionNamed(menu, "erase___0");

    // Off for the named one means on for each of the others, however many there are.
    frame->setGroupChecked("modes", "move___0", false);
    EXPECT_FALSE(move->isChecked());
    EXPECT_TRUE(paint->isChecked());
    EXPECT_TRUE(erase->isChecked());
    frame->setGroupChecked("modes", "paint___0", true);
    EXPECT_FALSE(move->isChecked());
    EXPECT_TRUE(paint->isChecked());
    EXPECT_FALSE(erase->isChecked());
    frame->setGroupChecked("modes", "erase___0", false);
    EXPECT_TRUE(move->isChecked());
    EXPECT_TRUE(paint->isChecked());
    EXPECT_FALSE(erase->isChecked());
    // The user may still switch a member off by clicking it.
    paint->trigger();
    EXPECT_FALSE(paint->isChecked());
    EXPECT_TRUE(move->isChecked());
    frame->setGroupChecked("no such group", "move___0", false);
    EXPECT_TRUE(move->isChecked());
}

// ---- status bar, theme, progress -------------------------------------------------------------

TEST_F(MainFrameTest, StatusPanesAreMadeOnce)
{
    const QVector<int> ids{1, 2};
    EXPECT_EQ(&frame->setStatusBarPanes(ids), &ids);
    frame->setStatusBarPanes({2, 1, 3});
    EXPECT_EQ(frame->statusBar()->findChildren<QLabel*>().size(), 3);
    frame->setStatusBarText(2, "ready");
    frame->setStatusBarText(42, "nobody");
    int withText = 0;
    for (QLabel* label : frame->statusBar()->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        ++withText;
        EXPECT_EQ(label->text(), QStringLiteral("ready"));
        EXPECT_EQ(int(label->alignment()), 0x84);
    }
    EXPECT_EQ(withText, 1);

    frame->showStatusBar(false);
    EXPECT_FALSE(frame->isStatusBarVisible());
    frame->restoreDefaultLayout();
    EXPECT_TRUE(frame->isStatusBarVisible());
}

TEST_F(MainFrameTest, ThemeIsAppliedAndProgressIsParentedToTheFrame)
{
    EXPECT_EQ(frame->styleSheet(), themeStyleSheet());
    EXPECT_TRUE(frame->styleSheet().startsWith(
        "QWidget{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(60,55,55); }"));
    // Qt understands it: a label in the frame is painted white.
    auto* label = new QLabel("x", frame.get());
    label->ensurePolished();
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));

    std::unique_ptr<IZimProgress> progress(frame->getProgress());
    auto* imp = dynamic_cast<CProgressImp*>(progress.get());
    ASSERT_NE(imp, nullptr);
    EXPECT_EQ(imp->dialog()->parentWidget(), frame.get());
}

// ---- views and docks -------------------------------------------------------------------------

TEST_F(MainFrameTest, ViewsComeFromTheMakers)
{
    frameMakers().viewer3D = nullptr;
    frameMakers().imageViewer = nullptr;
    frameMakers().thumbViewer = nullptr;
    frameMakers().meshPanel = nullptr;
    EXPECT_EQ(frame->create3DViewer(0), nullptr);
    EXPECT_EQ(frame->createImageViewer(1), nullptr);
    EXPECT_EQ(frame->createThumbViewer(255), WId(0));
    EXPECT_EQ(frame->createMeshPanel(256), WId(0));

    // A maker whose widget is not the view: the widget goes, nothing is recorded.
    frameMakers().viewer3D = &makePlainWidget;
    frameMakers().imageViewer = &makePlainWidget;
    frameMakers().thumbViewer = &makePlainWidget;
    frameMakers().meshPanel = &makePlainWidget;
    EXPECT_EQ(frame->create3DViewer(0), nullptr);
    EXPECT_EQ(frame->createImageViewer(1), nullptr);
    EXPECT_EQ(frame->createThumbViewer(255), WId(0));
    EXPECT_EQ(frame->createMeshPanel(256), WId(0));
    ASSERT_EQ(g_made.size(), 4u);
    for (const auto& made : g_made) EXPECT_TRUE(made.isNull());
    EXPECT_EQ(frame->get3DViewer(0), nullptr);
    EXPECT_FALSE(frame->is3DViewerVisible(0));
    EXPECT_EQ(frame->setViewerCursor(0, 1, 0), -1);
    EXPECT_EQ(frame->setViewerCursor(1, 1, 1), -1);
    EXPECT_FALSE(frame->remove3DViewer(0));

    // A real view: made once, handed to a dock by its window id.
    frameMakers().meshPanel = &makeMeshPanel;
    const WId id = frame->createMeshPanel(256);
    ASSERT_NE(id, WId(0));
    EXPECT_EQ(frame->createMeshPanel(256), id);
    auto* panel = dynamic_cast<FakeMeshPanel*>(frame->getMeshPanel(256));
    ASSERT_NE(panel, nullptr);
    frame->updateAllViewers();
    EXPECT_EQ(panel->layouts, 1);

    IOrvDockWidget* dock = frame->createDockWidget(2, 1, "Meshes");
    ASSERT_TRUE(dock->setContent(id));
    EXPECT_EQ(dynamic_cast<QDockWidget*>(dock)->widget(), panel);
    EXPECT_EQ(frame->getMeshPanel(256), panel);
    // Emptying the dock deletes the panel: the frame no longer hands it out.
    EXPECT_TRUE(dock->setContent(0));
    EXPECT_EQ(frame->getMeshPanel(256), nullptr);
    frame->updateAllViewers();
    EXPECT_NE(frame->createMeshPanel(256), WId(0));
}

TEST_F(MainFrameTest, DocksArePlacedByAreaAndTabified)
{
    auto* right = dynamic_cast<QDockWidget*>(frame->createDockWidget(0, 1, "Tree"));
    auto* bottom = dynamic_cast<QDockWidget*>(frame->createDockWidget(1, 2, "Thumbs"));
    auto* left = dynamic_cast<QDockWidget*>(frame->createDockWidget(2, 7, "Meshes"));
    ASSERT_TRUE(right && bottom && left);
    EXPECT_EQ(frame->dockWidgetArea(right), Qt::RightDockWidgetArea);
    EXPECT_EQ(frame->dockWidgetArea(bottom), Qt::BottomDockWidgetArea);
    EXPECT_EQ(frame->dockWidgetArea(left), Qt::LeftDockWidgetArea);
    EXPECT_EQ(int(right->allowedAreas()), 11);
    EXPECT_EQ(right->minimumSize(), QSize(300, 500));
    EXPECT_EQ(right->windowTitle(), QStringLiteral("Tree"));
    EXPECT_EQ(dynamic_cast<QDockWidget*>(frame->createDockWidget(0, 2, "Other")), right);
    EXPECT_EQ(right->windowTitle(), QStringLiteral("Tree"));
    EXPECT_EQ(frame->getDockWidget(2)->getId(), 2);

    frame->show();
    frame->tabifyDockWidgets();
    const QList<QDockWidget*> tabbed = frame->tabifiedDockWidgets(right);
    EXPECT_TRUE(tabbed.contains(bottom));
    EXPECT_TRUE(tabbed.contains(left));

    // Forgotten docks stay children of the frame; a lone dock is not tabified.
    EXPECT_TRUE(frame->removeDockWidget(1));
    EXPECT_FALSE(frame->removeDockWidget(1));
    EXPECT_EQ(frame->getDockWidget(1), nullptr);
    EXPECT_EQ(bottom->parentWidget(), frame.get());
    EXPECT_TRUE(frame->removeDockWidget(0));

    // The default layout: each remaining dock back in its area and on show.
    left->hide();
    EXPECT_EQ(frame->restoreDefaultLayout(), nullptr);  // there is no dock 0 any more
    EXPECT_EQ(frame->dockWidgetArea(left), Qt::LeftDockWidgetArea);
    EXPECT_TRUE(left->isVisible());
    EXPECT_TRUE(frame->tabifiedDockWidgets(left).isEmpty());

    auto* again = frame->createDockWidget(0, 1, "Tree again");
    EXPECT_EQ(frame->restoreDefaultLayout(), again);
    EXPECT_TRUE(dynamic_cast<QDockWidget*>(again)->isVisible());
}

// ---- events ----------------------------------------------------------------------------------

int g_keyCalls[3];
void onKey4() { ++g_keyCalls[0]; }
void onEscape() { ++g_keyCalls[1]; }
void onKey8() { ++g_keyCalls[2]; }

bool sendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(widget, &press);
    return press.isAccepted();
}

TEST_F(MainFrameTest, KeyHandlersServeTheDigitsAndEscape)
{
    g_keyCalls[0] = g_keyCalls[1] = g_keyCalls[2] = 0;
    frame->setKeyHandler(Qt::Key_4, &onKey4);
    frame->setKeyHandler(Qt::Key_Escape, &onEscape);
    frame->setKeyHandler(Qt::Key_8, &onKey8);
    frame->setViewKeyHandler(Qt::Key_S, &onKey8);

    EXPECT_TRUE(sendKey(frame.get(), Qt::Key_4));
    EXPECT_TRUE(sendKey(frame.get(), Qt::Key_4, Qt::ControlModifier));
    EXPECT_TRUE(sendKey(frame.get(), Qt::Key_Escape));
    EXPECT_TRUE(sendKey(frame.get(), Qt::Key_5));   // served, no handler
    EXPECT_FALSE(sendKey(frame.get(), Qt::Key_8));  // not served: passed on
    EXPECT_FALSE(sendKey(frame.get(), Qt::Key_S));
    EXPECT_EQ(g_keyCalls[0], 2);
    EXPECT_EQ(g_keyCalls[1], 1);
    EXPECT_EQ(g_keyCalls[2], 0);
    EXPECT_EQ(frame->viewKeyHandler(Qt::Key_S), &onKey8);
}

QStringList g_dropped;
int g_drops = 0;
void onDrop(const QStringList& paths)
{
    g_dropped = paths;
    ++g_drops;
}

bool sendDrop(QWidget* widget, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

TEST_F(MainFrameTest, DroppedFilesGoToTheDropHandler)
{
    g_drops = 0;
    const QList<QUrl> urls{QUrl::fromLocalFile("/data/a.obj"), QUrl("https://example.org/b.jpg"),
                           QUrl::fromLocalFile("/data/c d.jpg")};
    sendDrop(frame.get(), urls);  // no handler yet: nothing happens
    frame->setDropHandler(&onDrop);
    EXPECT_TRUE(sendDrop(frame.get(), urls));
    EXPECT_EQ(g_drops, 1);
    EXPECT_EQ(g_dropped, (QStringList{"/data/a.obj", "/data/c d.jpg"}));
    sendDrop(frame.get(), {QUrl("https://example.org/only.jpg")});
    EXPECT_EQ(g_drops, 1);
}

int g_closeCalls = 0;
IOrvMainFrame* g_closedFrame = nullptr;
bool refuseClose(IOrvMainFrame* f, QCloseEvent*)
{
    ++g_closeCalls;
    g_closedFrame = f;
    return false;
}
bool acceptClose(IOrvMainFrame*, QCloseEvent*)
{
    ++g_closeCalls;
    return true;
}

// Runs the application's event loop until something ends it: the frame, or the fallback.
int runLoopClosing(QWidget* window, int fallback)
{
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer::singleShot(1000, qApp, [fallback] { QCoreApplication::exit(fallback); });
    return QApplication::exec();
}

TEST_F(MainFrameTest, CloseRequestsFollowTheCloseHandler)
{
    const bool quitOnLast = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    g_closeCalls = 0;

    {
        QCloseEvent close;
        QCoreApplication::sendEvent(frame.get(), &close);
        EXPECT_TRUE(close.isAccepted());  // no handler: the window may close
    }

    frame->setCloseHandler(&refuseClose);
    frame->show();
    EXPECT_EQ(runLoopClosing(frame.get(), 7), 7);
    EXPECT_EQ(g_closeCalls, 1);
    EXPECT_EQ(g_closedFrame, static_cast<IOrvMainFrame*>(frame.get()));
    EXPECT_TRUE(frame->isVisible());

    // Accepted: the event loop ends with 0 and the process carries on to its own end.
    frame->setCloseHandler(&acceptClose);
    EXPECT_EQ(runLoopClosing(frame.get(), 7), 0);
    EXPECT_EQ(g_closeCalls, 2);
    EXPECT_FALSE(frame->isVisible());

    QApplication::setQuitOnLastWindowClosed(quitOnLast);
}

}  // namespace
