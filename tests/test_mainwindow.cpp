// The main window's plain parts: action and common items, command names, the theme, plug-in
// discovery and the dock widget.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "COrvDockWidget.h"
#include "OrvCommandName.h"
#include "OrvPluginFiles.h"
#include "OrvTheme.h"
#include "OrvUIElements64t.h"
#include "TestSupport.h"

using namespace orvUI;

namespace {

_ActionItemInfo_ record(const QString& text, std::uint32_t flags, const _ActionItemInfo_* sub = nullptr)
{
    _ActionItemInfo_ info;
    info.text = text;
    info.name = text.toLower() + QStringLiteral("___0");
    info.icon = QStringLiteral("icons/") + text + QStringLiteral(".png");
    info.subItems = sub;
    info.flags = flags;
    return info;
}

QStringList textsOf(const QVector<ref_ptr<IOrvActionItem>>& items)
{
    QStringList texts;
    for (const auto& item : items) texts << item->getText();
    return texts;
}

// ---- action and common items -----------------------------------------------------------------

TEST(MainWindowItems, TreeFollowsTheRecordsAndOutlivesThem)
{
    ref_ptr<IOrvActionItem> root;
    {
        // Records on the heap, freed before the tree is read: every string must be a copy.
        auto leaves = std::make_unique<std::vector<_ActionItemInfo_>>();
        leaves->push_back(record(QStringLiteral("Deep"), ActionItemLast | ActionItemInMenu));
        auto level = std::make_unique<std::vector<_ActionItemInfo_>>();
        level->push_back(record(QStringLiteral("Open"), ActionItemInMenu));
        level->push_back(record(QStringLiteral("Recent"), ActionItemInMenu, leaves->data()));
        level->push_back(record(QString(), ActionItemSeparator | ActionItemInMenu));
        level->push_back(record(QStringLiteral("Quit"), ActionItemLast | ActionItemInToolBar));
        // Past the last record: must never be read.
        level->push_back(record(QStringLiteral("Beyond"), ActionItemInMenu));
        root = newActionItem(record(QStringLiteral("File"), ActionItemInMenu, level->data()), 7);
    }
    ASSERT_TRUE(root);
    EXPECT_EQ(root->getKind(), 7);
    EXPECT_EQ(root->getIcon(), QStringLiteral("icons/File.png"));

    QVector<ref_ptr<IOrvActionItem>> children;
    root->getChildren(children);
    ASSERT_EQ(textsOf(children), (QStringList{"Open", "Recent", "", "Quit"}));
    for (int i = 0; i < children.size(); ++i) EXPECT_EQ(children[i]->getKind(), i);
    EXPECT_EQ(children[2]->getFlags(), unsigned(ActionItemSeparator | ActionItemInMenu));
    EXPECT_EQ(children[3]->getFlags(), unsigned(ActionItemLast | ActionItemInToolBar));

    // One record with the last bit: exactly one child, kind 0.
    QVector<ref_ptr<IOrvActionItem>> grandChildren;
    children[1]->getChildren(grandChildren);
    ASSERT_EQ(textsOf(grandChildren), QStringList{"Deep"});
    EXPECT_EQ(grandChildren[0]->getKind(), 0);

    // A leaf clears what the caller passes in.
    children[0]->getChildren(grandChildren);
    EXPECT_TRUE(grandChildren.isEmpty());
}

TEST(MainWindowItems, CommonItemHoldsItsItemsInOrder)
{
    QVector<ref_ptr<IOrvActionItem>> items;
    for (const char* text : {"b", "a", "c"}) items << newActionItem(record(QString::fromLatin1(text), 0), 0);
    _CommonItemInfo_ info;
    info.position = 4;
    info.name = QStringLiteral("Tools");
    ref_ptr<IOrvCommonItem> group = newCommonItem(info, items);
    items.clear();  // the group keeps its own references
    ASSERT_TRUE(group);
    QVector<ref_ptr<IOrvActionItem>> out{newActionItem(record(QStringLiteral("stale"), 0), 0)};
    group->getActionItems(out);
    EXPECT_EQ(textsOf(out), (QStringList{"b", "a", "c"}));
}

// ---- command names ---------------------------------------------------------------------------

TEST(MainWindowCommandNames, SplitAtTheFirstSeparator)
{
    struct Case {
        const char* name;
        const char* command;
        int index;
        bool separator;
    };
    const Case cases[] = {
        {"open___0", "open", 0, true},       {"Open___12", "Open", 12, true}, {"___3", "", 3, true},
        {"stamp", "stamp", -1, false},        // no separator: no plug-in at all
        {"stamp__1", "stamp__1", -1, false},  // two underscores are no separator
        {"x____3", "x", -1, true},            // four: the index text is "_3"
        {"a___b___1", "a", -1, true},         // the first separator counts
        {"open___", "open", -1, true},       {"open___x1", "open", -1, true}, {"open___1x", "open", -1, true},
        {"open___-1", "open", -1, true},
    };
    for (const Case& c : cases) {
        const CommandName parsed = parseCommandName(QString::fromLatin1(c.name));
        EXPECT_EQ(parsed.command, QString::fromLatin1(c.command)) << c.name;
        EXPECT_EQ(parsed.pluginIndex, c.index) << c.name;
        EXPECT_EQ(parsed.hasSeparator, c.separator) << c.name;
    }
    // Only indices of loaded plug-ins are routed.
    EXPECT_TRUE(parseCommandName(QStringLiteral("a___1")).routesTo(2));
    EXPECT_FALSE(parseCommandName(QStringLiteral("a___2")).routesTo(2));
    EXPECT_FALSE(parseCommandName(QStringLiteral("a___0")).routesTo(0));
    EXPECT_FALSE(parseCommandName(QStringLiteral("a")).routesTo(5));
    EXPECT_FALSE(parseCommandName(QStringLiteral("a___zz")).routesTo(5));
}

// ---- theme -----------------------------------------------------------------------------------

TEST(MainWindowTheme, SixtyRulesInOrderWithNothingBetween)
{
    const QString sheet = themeStyleSheet();
    EXPECT_EQ(themeRuleCount(), 60);
    EXPECT_EQ(sheet.size(), 4765);
    // Typed again here from the look's description, oddities included.
    EXPECT_TRUE(sheet.startsWith(
        QLatin1String("QWidget{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(60,55,55); }"
                      "QMenuBar{ color:white; font-family:Microsoft Sans Serif; background-color:rgb(60,55,55); }"
                      "QMenuBar::item{ background-color:rgb(60,55,55); }")));
    EXPECT_TRUE(sheet.contains(
        QLatin1String("QMenu{ color:white; font-family:Microsoft Sans Serif; font-family:Microsoft Sans Serif; "
                      "background-color:rgb(66,61,68); }QMenu::item:selected{")));
    EXPECT_TRUE(sheet.contains(QLatin1String(
        "QToolBar QToolButton::hover{ margin-top:1px; margin-bottom:1px; padding:1px;  border-radius:5px; "
        "background-color:rgb(102,94,90); }")));
    EXPECT_TRUE(sheet.contains(
        QLatin1String("}QStatusBar{ padding:1px 1px px 1px; color:white; font-family:Microsoft Sans Serif; "
                      "background-color:rgb(60,55,55); }QDockWidget{")));
    EXPECT_TRUE(sheet.contains(QLatin1String("QTabWidget{ background-color:rgb(60, 55, 55);}")));
    EXPECT_TRUE(sheet.endsWith(QLatin1String(
        "OrvPanel--ActionGroup QToolButton[class='header'] {text-align: left; color:white; font-size:13px; "
        "font-family:Microsoft Sans Serif; background-color: rgb(110, 102, 95); border: 1px solid "
        "transparent;}OrvPanel--ActionGroup QToolButton[class='header']:hover {color:grey;}")));
    EXPECT_TRUE(themeRule(60).isEmpty());
    EXPECT_TRUE(themeRule(-1).isEmpty());
}

QColor centreOf(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// The sheet as Qt reads it: a broken rule would take the ones after it down, and each widget
// kind must come out in the colours and font the theme gives it.
TEST(MainWindowTheme, WidgetsUnderTheSheetTakeItsColoursAndFont)
{
    QMainWindow window;
    window.setStyleSheet(themeStyleSheet());
    auto* central = new QWidget(&window);
    window.setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    auto* plain = new QWidget(central);
    plain->setAttribute(Qt::WA_StyledBackground);
    plain->setFixedSize(40, 20);
    auto* label = new QLabel(QStringLiteral("label"), central);
    auto* edit = new QLineEdit(central);
    auto* disabledEdit = new QLineEdit(central);
    disabledEdit->setEnabled(false);
    auto* bar = new QProgressBar(central);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    auto* splitter = new QSplitter(Qt::Horizontal, central);
    splitter->addWidget(new QWidget);
    splitter->addWidget(new QWidget);
    for (QWidget* w :
         {plain, static_cast<QWidget*>(label), static_cast<QWidget*>(edit), static_cast<QWidget*>(disabledEdit),
          static_cast<QWidget*>(bar), static_cast<QWidget*>(splitter)})
        layout->addWidget(w);
    auto* menu = new QMenu(&window);
    menu->addAction(QStringLiteral("item"));
    window.resize(400, 400);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_EQ(centreOf(plain), QColor(60, 55, 55));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(label->font().family(), QStringLiteral("Microsoft Sans Serif"));
    EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(centreOf(edit), QColor(Qt::white));
    EXPECT_EQ(centreOf(disabledEdit), QColor(110, 102, 95));
    EXPECT_EQ(disabledEdit->palette().color(QPalette::Text), QColor(170, 170, 170));
    EXPECT_EQ(centreOf(bar), QColor(47, 45, 43));
    ASSERT_NE(splitter->handle(1), nullptr);
    EXPECT_EQ(centreOf(splitter->handle(1)), QColor(66, 61, 58));
    menu->ensurePolished();
    const QImage menuImage = menu->grab().toImage();
    EXPECT_EQ(menuImage.pixelColor(menuImage.width() - 3, menuImage.height() / 2), QColor(66, 61, 68));
    EXPECT_EQ(menu->palette().color(QPalette::WindowText), QColor(Qt::white));
}

// ---- plug-in discovery -----------------------------------------------------------------------

TEST(MainWindowPluginFiles, CompleteSuffixInAnyCaseByNameIgnoringCase)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList names{"b.orvplugin",   "A.ORVPLUGIN", "c.OrvPlugin", "x.orvplugin.bak",
                            "a.b.orvplugin", "orvplugin",   "r.txt",       "%1.txt"};
    for (const QString& name : names) ASSERT_TRUE(orvtest::writeFile(dir.filePath(name), QByteArray(12, 'x')));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("d.orvplugin")));  // a folder is no plug-in

    const QString path = QDir(dir.path()).absolutePath();
    EXPECT_EQ(pluginFiles(dir.path() + "/"),
              (QStringList{path + "/A.ORVPLUGIN", path + "/b.orvplugin", path + "/c.OrvPlugin"}));

    // Every regular file gets a line, matching or not, in name order ignoring case.
    QStringList lines;
    for (const QFileInfo& entry : pluginDirEntries(dir.path())) lines << pluginEntryLine(entry);
    ASSERT_EQ(lines.size(), names.size());
    EXPECT_EQ(lines.first(), "        12     %1.txt " + path);
    EXPECT_EQ(lines[1], "        12 a.b.orvplugin " + path);
    EXPECT_EQ(lines[2], "        12 A.ORVPLUGIN " + path);
    EXPECT_TRUE(lines.contains("        12      r.txt " + path));

    EXPECT_TRUE(pluginFiles(dir.filePath(QStringLiteral("missing"))).isEmpty());
    EXPECT_EQ(pluginDirectory(), QCoreApplication::applicationDirPath() + "/plugins/");
}

// ---- dock widget -----------------------------------------------------------------------------

TEST(MainWindowDock, ContentByWindowId)
{
    COrvDockWidget dock(3);
    EXPECT_EQ(dock.getId(), 3);
    EXPECT_TRUE(dock.setContent(0));  // empty stays empty
    EXPECT_EQ(dock.widget(), nullptr);

    // A widget that lives elsewhere moves into the dock.
    QWidget elsewhere;
    auto* first = new QLabel(QStringLiteral("first"), &elsewhere);
    QPointer<QLabel> firstAlive(first);
    ASSERT_TRUE(dock.setContent(first->winId()));
    EXPECT_EQ(dock.widget(), first);
    EXPECT_EQ(first->parentWidget(), &dock);
    EXPECT_FALSE(elsewhere.children().contains(first));

    // Its own content again: kept, not deleted.
    EXPECT_TRUE(dock.setContent(first->winId()));
    EXPECT_EQ(dock.widget(), first);

    // Replacing the content deletes the former widget.
    auto* second = new QLabel(QStringLiteral("second"), &elsewhere);
    QPointer<QLabel> secondAlive(second);
    ASSERT_TRUE(dock.setContent(second->winId()));
    EXPECT_TRUE(firstAlive.isNull());
    EXPECT_EQ(dock.widget(), second);

    // From one dock to another: the first one lets go of it.
    COrvDockWidget other(4);
    ASSERT_TRUE(other.setContent(second->winId()));
    EXPECT_EQ(other.widget(), second);
    EXPECT_EQ(dock.widget(), nullptr);

    // An id no widget has: false, the dock empty, its content gone.
    const WId stale = [] {
        QWidget gone;
        return gone.winId();
    }();
    EXPECT_FALSE(other.setContent(stale));
    EXPECT_EQ(other.widget(), nullptr);
    EXPECT_TRUE(secondAlive.isNull());

    // The window the dock lives in cannot become its content.
    QMainWindow window;
    auto* docked = new COrvDockWidget(5);
    window.addDockWidget(Qt::LeftDockWidgetArea, docked);
    EXPECT_FALSE(docked->setContent(window.winId()));
    EXPECT_FALSE(docked->setContent(docked->winId()));
    EXPECT_EQ(window.parentWidget(), nullptr);

    docked->bringToFront();
    EXPECT_FALSE(docked->isHidden());
}

}  // namespace
