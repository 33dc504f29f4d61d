#include "CoreCommands.h"

#include <OrvUIElements64t.h>

#include <QKeySequence>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace orvCore {

namespace {

const QString kSeparator = QStringLiteral("___");

constexpr std::uint32_t kMenu = orvUI::ActionItemInMenu;
constexpr std::uint32_t kMenuAndToolBar = orvUI::ActionItemInMenu | orvUI::ActionItemInToolBar;

ZIM_TR_CONTEXT("orvCore")

orvUI::_ActionItemInfo_ command(const QString& text, const QString& icon, const QString& name, const QString& toolTip,
                                const QString& shortcut, std::uint32_t flags, int pluginIndex)
{
    orvUI::_ActionItemInfo_ info;
    info.text = text;
    info.icon = icon;
    info.name = actionName(name, pluginIndex);
    info.toolTip = toolTip;
    info.shortcut = shortcut;
    info.flags = flags;
    return info;
}

orvUI::_ActionItemInfo_ toggle(const QString& text, const QString& name, const QString& toolTip, bool checked,
                               int pluginIndex)
{
    orvUI::_ActionItemInfo_ info = command(text, QString(), name, toolTip, QString(), kMenu, pluginIndex);
    info.checkable = true;
    info.checked = checked;
    return info;
}

orvUI::_ActionItemInfo_ separator(std::uint32_t where)
{
    orvUI::_ActionItemInfo_ info;
    info.flags = orvUI::ActionItemSeparator | where;
    return info;
}

MenuGroup group(int position, const QString& name, QVector<orvUI::_ActionItemInfo_> actions)
{
    MenuGroup g;
    g.info.position = position;
    g.info.name = name;
    if (!actions.isEmpty()) actions.last().flags |= orvUI::ActionItemLast;
    g.actions = std::move(actions);
    return g;
}

}  // namespace

QString CoreText::productName() { return tr("OrvUIElements"); }

QString actionName(const QString& command, int pluginIndex)
{
    return command + kSeparator + QString::number(pluginIndex);
}

bool splitActionName(const QString& objectName, QString* command, int* pluginIndex)
{
    const int at = objectName.indexOf(kSeparator);
    if (at < 0) return false;
    const QString digits = objectName.mid(at + kSeparator.size());
    if (digits.isEmpty()) return false;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    bool ok = false;
    const int index = digits.toInt(&ok);
    if (!ok) return false;
    if (command) *command = objectName.left(at);
    if (pluginIndex) *pluginIndex = index;
    return true;
}

QString standardViewCommand(int index) { return cmd::StandardView + QString::number(index); }

int standardViewIndex(const QString& command)
{
    if (!command.startsWith(cmd::StandardView)) return -1;
    bool ok = false;
    const int index = command.mid(cmd::StandardView.size()).toInt(&ok);
    return ok && index >= 0 && index <= 5 && command.size() == cmd::StandardView.size() + 1 ? index : -1;
}

float steppedOpacity(float opacity, bool more)
{
    const float stepped = (std::isfinite(opacity) ? opacity : 1.0f) + (more ? 0.25f : -0.25f);
    return std::min(1.0f, std::max(0.0f, stepped));
}

QVector<MenuGroup> coreMenus(int pluginIndex)
{
    const int p = pluginIndex;
    QVector<MenuGroup> menus;
    menus.append(group(
        MenuFile, tr("&File"),
        {
            command(tr("&New project..."), QStringLiteral("icons/orvhost/new.png"), cmd::New,
                    tr("Create an empty project file"), QStringLiteral("Ctrl+N"), kMenuAndToolBar, p),
            command(tr("&Open project..."), QStringLiteral("icons/orvhost/open.png"), cmd::Open,
                    tr("Open a project file"), QStringLiteral("Ctrl+O"), kMenuAndToolBar, p),
            command(tr("Open p&hoto..."), QString(), cmd::OpenPhoto, tr("Show a photograph in the image viewer"),
                    QStringLiteral("Ctrl+Shift+O"), kMenu, p),
            separator(kMenuAndToolBar),
            command(tr("Add &photos..."), QStringLiteral("icons/orvhost/add-photos.png"), cmd::AddPhotos,
                    tr("Add photographs, each with the mesh of the same name"), QStringLiteral("Ctrl+Shift+P"),
                    kMenuAndToolBar, p),
            command(tr("Add &meshes..."), QStringLiteral("icons/orvhost/add-meshes.png"), cmd::AddMeshes,
                    tr("Add OBJ meshes, each with the photograph of the same name"), QStringLiteral("Ctrl+Shift+M"),
                    kMenuAndToolBar, p),
            separator(kMenuAndToolBar),
            command(tr("&Save"), QStringLiteral("icons/orvhost/save.png"), cmd::Save, tr("Save the project"),
                    QStringLiteral("Ctrl+S"), kMenuAndToolBar, p),
            command(tr("Save &as..."), QString(), cmd::SaveAs, tr("Save the project to another file"),
                    QStringLiteral("Ctrl+Shift+S"), kMenu, p),
            command(tr("&Export textures..."), QString(), cmd::ExportTextures,
                    tr("Write the textures as they are now into a folder of your choice"),
                    QStringLiteral("Ctrl+Shift+E"), kMenu, p),
            separator(kMenu),
            command(tr("&Quit"), QString(), cmd::Quit, tr("Close the window"), QStringLiteral("Ctrl+Q"), kMenu, p),
        }));
    // Enabled while the viewer manager has a step to take back or to make again (refreshEditActions).
    menus.append(group(MenuEdit, tr("&Edit"),
                       {
                           command(tr("&Undo"), QString(), cmd::Undo, tr("Take back the last change"),
                                   QStringLiteral("Ctrl+Z"), kMenu, p),
                           command(tr("&Redo"), QString(), cmd::Redo, tr("Make the change taken back again"),
                                   QStringLiteral("Ctrl+Shift+Z"), kMenu, p),
                       }));
    // Each menu gives every entry its own marked letter.
    menus.append(group(
        MenuView, tr("&View"),
        {
            toggle(tr("Show &status bar"), cmd::ShowStatusBar, tr("Show or hide the status bar"), true, p),
            toggle(tr("Show &image viewer"), cmd::ShowImageViewer, tr("Show or hide the photograph beside the 3D view"),
                   true, p),
            separator(kMenu),
            command(tr("&Fit all meshes"), QString(), cmd::FitAll, tr("Show every mesh in the 3D view"),
                    QStringLiteral("F"), kMenu, p),
            command(tr("&Home view"), QString(), cmd::HomeView, tr("Look down on every mesh at a slant, all in view"),
                    QStringLiteral("H"), kMenu, p),
            command(tr("&Top view"), QString(), standardViewCommand(0), QString(), QStringLiteral("Ctrl+1"), kMenu, p),
            command(tr("&Bottom view"), QString(), standardViewCommand(1), QString(), QStringLiteral("Ctrl+2"), kMenu,
                    p),
            command(tr("Fro&nt view"), QString(), standardViewCommand(2), QString(), QStringLiteral("Ctrl+3"), kMenu,
                    p),
            command(tr("B&ack view"), QString(), standardViewCommand(3), QString(), QStringLiteral("Ctrl+4"), kMenu, p),
            command(tr("&Left view"), QString(), standardViewCommand(4), QString(), QStringLiteral("Ctrl+5"), kMenu, p),
            command(tr("Ri&ght view"), QString(), standardViewCommand(5), QString(), QStringLiteral("Ctrl+6"), kMenu,
                    p),
            separator(kMenu),
            command(tr("Fit &photo"), QString(), cmd::FitPhoto, tr("Show the whole photograph in the image viewer"),
                    QStringLiteral("Shift+F"), kMenu, p),
            separator(kMenu),
            toggle(tr("Show photo &overlay"), cmd::ShowOverlay, tr("Lay the current photograph over the 3D view"),
                   false, p),
            command(tr("Overlay &more opaque"), QString(), cmd::OverlayMore, QString(), QStringLiteral("Ctrl+]"), kMenu,
                    p),
            command(tr("Overlay l&ess opaque"), QString(), cmd::OverlayLess, QString(), QStringLiteral("Ctrl+["), kMenu,
                    p),
            separator(kMenu),
            command(tr("&Restore layout"), QString(), cmd::RestoreLayout,
                    tr("Show every view and dock the panels in their places again"), QString(), kMenu, p),
        }));
    menus.append(
        group(MenuMesh, tr("&Mesh"),
              {
                  command(tr("&Wake all meshes"), QString(), cmd::WakeAllMeshes, tr("Load every sleeping mesh again"),
                          QString(), kMenu, p),
                  command(tr("Put all meshes to &sleep"), QString(), cmd::SleepAllMeshes,
                          tr("Free the memory of every mesh; the meshes stay in the project"), QString(), kMenu, p),
                  separator(kMenu),
                  command(tr("Generate &backup..."), QString(), cmd::GenerateBackup,
                          tr("Save a picture of the textures the 3D view shows now, with the visible "
                             "triangles"),
                          QString(), kMenu, p),
                  // Ctrl+Shift+P adds photos already.
                  command(tr("&Paint photo onto textures"), QString(), cmd::PaintPhoto,
                          tr("Paint the current mapped photograph onto the textures of the meshes it sees"),
                          QStringLiteral("Ctrl+P"), kMenu, p),
                  command(tr("&Apply edited backup..."), QString(), cmd::ApplyEditedBackup,
                          tr("Bring the changes made to a backup picture in an image editor onto the textures"),
                          QString(), kMenu, p),
                  command(tr("&Restore textures of a paint..."), QString(), cmd::RestorePaint,
                          tr("Put back the textures as they were before one of the kept paints"), QString(), kMenu, p),
                  separator(kMenu),
                  command(tr("Project s&ummary..."), QString(), cmd::ProjectSummary,
                          tr("Counts of the project's photographs and meshes"), QString(), kMenu, p),
              }));
    orvUI::_ActionItemInfo_ editMarks =
        command(tr("&Edit marks"), QString(), cmd::EditMarks,
                tr("Place, move and delete the marks that pair points of the photograph with points of its mesh"),
                QStringLiteral("Ctrl+E"), kMenu, p);
    editMarks.checkable = true;
    menus.append(group(
        MenuPhoto, tr("&Photo"),
        {
            editMarks,
            separator(kMenu),
            command(tr("&Map photo"), QString(), cmd::MapPhoto,
                    tr("Find the camera of the current photograph from its marks"), QStringLiteral("Ctrl+M"), kMenu, p),
            command(tr("Map &all photos"), QString(), cmd::MapAllPhotos,
                    tr("Find the camera of every photograph that has enough marks"), QString(), kMenu, p),
            separator(kMenu),
            command(tr("&Look through photo"), QString(), cmd::LookThrough,
                    tr("Look at the meshes from where the current photograph was taken, the photograph laid over "
                       "them"),
                    QStringLiteral("Ctrl+L"), kMenu, p),
        }));
    menus.append(
        group(MenuHelp, tr("&Help"),
              {
                  command(tr("&Controls..."), QString(), cmd::Controls,
                          tr("The mouse and key controls of the 3D view and the photo view"), QString(), kMenu, p),
                  command(tr("&About..."), QString(), cmd::About, tr("About this program"), QString(), kMenu, p),
              }));
    return menus;
}

QStringList menuCommands(const QVector<MenuGroup>& menus)
{
    QStringList out;
    for (const MenuGroup& g : menus)
        for (const orvUI::_ActionItemInfo_& a : g.actions) {
            QString name;
            if (!(a.flags & orvUI::ActionItemSeparator) && splitActionName(a.name, &name, nullptr)) out << name;
        }
    return out;
}

namespace {

// The View menu's record of a command, for a context menu: its text with the shortcut shown
// after a tab, no shortcut of its own, not checkable, the callback as user data.
orvUI::_ActionItemInfo_ contextEntry(const QVector<MenuGroup>& menus, const QString& name,
                                     orvUI::OrvItemCallback callback)
{
    for (const MenuGroup& g : menus)
        for (orvUI::_ActionItemInfo_ a : g.actions)
            if (a.name == name) {
                if (!a.shortcut.isEmpty())
                    a.text += QLatin1Char('\t') + QKeySequence(a.shortcut).toString(QKeySequence::NativeText);
                a.shortcut.clear();
                a.checkable = false;
                a.checked = false;
                a.flags = kMenu;
                a.userData = quint64(reinterpret_cast<quintptr>(callback));
                return a;
            }
    return {};
}

orvUI::_ActionItemInfo_ contextCommand(const QString& text, const QString& name, const QString& toolTip,
                                       int pluginIndex, orvUI::OrvItemCallback callback)
{
    orvUI::_ActionItemInfo_ a = command(text, QString(), name, toolTip, QString(), kMenu, pluginIndex);
    a.userData = quint64(reinterpret_cast<quintptr>(callback));
    return a;
}

}  // namespace

MenuGroup viewContextMenu(int pluginIndex, orvUI::OrvItemCallback callback)
{
    const int p = pluginIndex;
    const QVector<MenuGroup> menus = coreMenus(p);
    auto entry = [&](const QString& command) { return contextEntry(menus, actionName(command, p), callback); };
    return group(
        MenuView, tr("3D view"),
        {
            contextCommand(tr("&Open the photo under the cursor"), cmd::OpenPhotoAtCursor,
                           tr("Show the photograph of the mesh under the cursor in the image viewer"), p, callback),
            separator(kMenu),
            entry(cmd::FitAll),
            entry(cmd::HomeView),
            entry(standardViewCommand(0)),
            entry(standardViewCommand(1)),
            entry(standardViewCommand(2)),
            entry(standardViewCommand(3)),
            entry(standardViewCommand(4)),
            entry(standardViewCommand(5)),
            separator(kMenu),
            contextCommand(tr("&Photo overlay on or off"), cmd::ToggleOverlay,
                           tr("Lay the current photograph over the 3D view, or take it away"), p, callback),
            entry(cmd::OverlayMore),
            entry(cmd::OverlayLess),
        });
}

MenuGroup photoContextMenu(int pluginIndex, orvUI::OrvItemCallback callback)
{
    const int p = pluginIndex;
    const QVector<MenuGroup> menus = coreMenus(p);
    auto entry = [&](const QString& command) { return contextEntry(menus, actionName(command, p), callback); };
    return group(MenuView, tr("Photo view"),
                 {
                     entry(cmd::FitPhoto),
                     separator(kMenu),
                     contextCommand(tr("Photo &overlay on or off"), cmd::ToggleOverlay,
                                    tr("Lay this photograph over the 3D view, or take it away"), p, callback),
                     entry(cmd::OverlayMore),
                     entry(cmd::OverlayLess),
                     separator(kMenu),
                     entry(cmd::OpenPhoto),
                 });
}

QChar mnemonic(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return QChar();
}

QStringList duplicateMnemonics(const QVector<orvUI::_ActionItemInfo_>& actions)
{
    QStringList out;
    QSet<QChar> used;
    for (const orvUI::_ActionItemInfo_& a : actions) {
        if (a.flags & orvUI::ActionItemSeparator) continue;
        const QChar letter = mnemonic(a.text);
        if (letter.isNull()) continue;
        if (used.contains(letter)) out << a.text;
        used.insert(letter);
    }
    return out;
}

QString controlsText(const QVector<MenuGroup>& menus)
{
    using Row = QPair<QString, QString>;
    const QVector<Row> view3d = {
        {tr("Right drag"), tr("Turn the view about its centre")},
        {tr("Alt + right drag"), tr("Move nearer or farther")},
        {tr("Middle drag"), tr("Move the view sideways")},
        {tr("Wheel"), tr("Zoom in or out at the cursor")},
        {tr("Right click"), tr("The menu of the 3D view")},
        {tr("Double click"), tr("Open the photograph of the mesh under the cursor")},
        {tr("S held, mouse moved"), tr("Turn the view about the point under the cursor")},
        {tr("Arrow keys, or A, D, W, X"), tr("Move the cursor one pixel")},
        {tr("Esc"), tr("End the current tool")},
    };
    const QVector<Row> photo = {
        {tr("Wheel"), tr("Zoom in or out at the cursor")},
        {tr("Middle drag"), tr("Move the photograph")},
        {tr("Right click"), tr("The menu of the photo view")},
        {tr("Esc"), tr("End the current tool")},
    };
    const QVector<Row> marks = {
        {tr("Left click in the photo"), tr("Choose the mark there, or place a mark")},
        {tr("Left drag in the photo"), tr("Move the mark")},
        {tr("Left click on a mesh"), tr("Place the chosen mark's 3D point, or start a mark there")},
        {tr("Delete, Backspace"), tr("Remove the chosen mark")},
    };
    QVector<Row> keys;
    for (const MenuGroup& g : menus) {
        if (g.info.position != MenuEdit && g.info.position != MenuView && g.info.position != MenuMesh &&
            g.info.position != MenuPhoto)
            continue;
        for (const orvUI::_ActionItemInfo_& a : g.actions)
            if (!a.shortcut.isEmpty())
                keys.append({QKeySequence(a.shortcut).toString(QKeySequence::NativeText),
                             QString(a.text).remove(QRegularExpression(QStringLiteral("&(?!&)")))});
    }
    auto table = [](const QString& title, const QVector<Row>& rows) {
        QString html =
            QStringLiteral("<h4>%1</h4><table cellspacing=\"2\" cellpadding=\"2\">").arg(title.toHtmlEscaped());
        for (const Row& r : rows)
            html += QStringLiteral("<tr><td><b>%1</b></td><td>&nbsp;&nbsp;%2</td></tr>")
                        .arg(r.first.toHtmlEscaped(), r.second.toHtmlEscaped());
        return html + QStringLiteral("</table>");
    };
    return table(tr("3D view"), view3d) + table(tr("Photo view"), photo) +
           table(tr("Editing marks (Photo > Edit marks)"), marks) + table(tr("Menu keys"), keys);
}

QVector<ref_ptr<orvUI::IOrvCommonItem>> makeCommonItems(const QVector<MenuGroup>& menus)
{
    QVector<ref_ptr<orvUI::IOrvCommonItem>> out;
    for (const MenuGroup& g : menus) {
        QVector<ref_ptr<orvUI::IOrvActionItem>> items;
        for (int i = 0; i < g.actions.size(); ++i)
            if (ref_ptr<orvUI::IOrvActionItem> item = orvUI::newActionItem(g.actions[i], i)) items.append(item);
        if (ref_ptr<orvUI::IOrvCommonItem> common = orvUI::newCommonItem(g.info, items)) out.append(common);
    }
    return out;
}

}  // namespace orvCore
