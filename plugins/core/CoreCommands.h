// The commands of the core plug-in and the menus and toolbars that offer them, as data.
//
// The host builds its menu bar from coreMenus(): one group per menu, each a plain array of
// _ActionItemInfo_ records whose names are "<command>___<index of the core plug-in>", so the
// main frame routes a triggered action back to this plug-in by name. The records are plain data
// (no window needed); makeCommonItems turns them into the items the main frame builds from.
#pragma once

#include <IOrvActionItem.h>

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QVector>

namespace orvCore {

// Command names (the part of an action's object name before "___").
namespace cmd {
inline const QString New = QStringLiteral("FileNew");
inline const QString Open = QStringLiteral("FileOpen");
inline const QString OpenPhoto = QStringLiteral("FileOpenPhoto");
inline const QString AddPhotos = QStringLiteral("FileAddPhotos");
inline const QString AddMeshes = QStringLiteral("FileAddMeshes");
// The main frame inserts plug-in sub-menus before the action of this name.
inline const QString Save = QStringLiteral("FileSave");
inline const QString SaveAs = QStringLiteral("FileSaveAs");
inline const QString Quit = QStringLiteral("FileQuit");
inline const QString ShowStatusBar = QStringLiteral("ViewStatusBar");
inline const QString ShowImageViewer = QStringLiteral("ViewImageViewer");
inline const QString RestoreLayout = QStringLiteral("ViewRestoreLayout");
inline const QString FitAll = QStringLiteral("ViewFitAll");
// The oblique view from above with every mesh in view, as a project without a stored camera opens.
inline const QString HomeView = QStringLiteral("ViewHome");
// Fits the photograph to the image viewer.
inline const QString FitPhoto = QStringLiteral("ViewFitPhoto");
// Standard views 0 to 5: "ViewStandard0" (top) to "ViewStandard5" (right).
inline const QString StandardView = QStringLiteral("ViewStandard");
inline const QString ShowOverlay = QStringLiteral("ViewPhotoOverlay");
inline const QString OverlayMore = QStringLiteral("ViewOverlayMore");
inline const QString OverlayLess = QStringLiteral("ViewOverlayLess");
inline const QString WakeAllMeshes = QStringLiteral("MeshWakeAll");
inline const QString SleepAllMeshes = QStringLiteral("MeshSleepAll");
inline const QString GenerateBackup = QStringLiteral("MeshGenerateBackup");
inline const QString ProjectSummary = QStringLiteral("MeshProjectSummary");
inline const QString PaintPhoto = QStringLiteral("MeshPaintPhoto");
inline const QString ApplyEditedBackup = QStringLiteral("MeshApplyEditedBackup");
inline const QString RestorePaint = QStringLiteral("MeshRestorePaint");
inline const QString ExportTextures = QStringLiteral("FileExportTextures");
inline const QString Undo = QStringLiteral("EditUndo");
inline const QString Redo = QStringLiteral("EditRedo");
// Checkable: the marks tool is current while it is checked.
inline const QString EditMarks = QStringLiteral("PhotoEditMarks");
inline const QString MapPhoto = QStringLiteral("PhotoMap");
inline const QString MapAllPhotos = QStringLiteral("PhotoMapAll");
inline const QString LookThrough = QStringLiteral("PhotoLookThrough");
inline const QString About = QStringLiteral("HelpAbout");
inline const QString Controls = QStringLiteral("HelpControls");
// Only in the views' context menus: the overlay switched over from whatever it shows now, and
// the photograph of the mesh under the cursor opened.
inline const QString ToggleOverlay = QStringLiteral("ViewToggleOverlay");
inline const QString OpenPhotoAtCursor = QStringLiteral("ViewOpenPhotoAtCursor");
}  // namespace cmd

// The command of standard view `index` (0 top, 1 bottom, 2 front, 3 back, 4 left, 5 right), and
// the index of such a command (-1 for any other).
QString standardViewCommand(int index);
int standardViewIndex(const QString& command);
// The photo overlay's opacity one step (0.25) more or less, kept within 0 and 1.
float steppedOpacity(float opacity, bool more);

// File name of the core plug-in in <appdir>/plugins.
inline const QString CorePluginFileName = QStringLiteral("core.orvplugin");

// Menu positions of the groups.
enum CoreMenuPosition { MenuFile = 0, MenuEdit = 1, MenuView = 2, MenuMesh = 3, MenuPhoto = 4, MenuHelp = 5 };

// "<command>___<pluginIndex>".
QString actionName(const QString& command, int pluginIndex);
// Splits an action's object name at the first "___": false (outputs untouched) when there is no
// "___" or the part after it is not a non-negative decimal number.
bool splitActionName(const QString& objectName, QString* command, int* pluginIndex);

// One menu: its group record and its action records, the last one flagged ActionItemLast.
struct MenuGroup {
    orvUI::_CommonItemInfo_ info;
    QVector<orvUI::_ActionItemInfo_> actions;
};

// The menus of the core plug-in loaded at pluginIndex: File, Edit, View, Mesh, Photo, Help, in
// that order.
// View entries that mirror a state (status bar, image viewer) start checked.
QVector<MenuGroup> coreMenus(int pluginIndex);

// Every command name the menus carry (separators have none), in menu order.
QStringList menuCommands(const QVector<MenuGroup>& menus);

// The items the main frame builds menus and toolbars from; an entry whose items cannot be made
// is left out.
QVector<ref_ptr<orvUI::IOrvCommonItem>> makeCommonItems(const QVector<MenuGroup>& menus);

// The context menus of the 3D view and of the photo view. Their entries carry the command
// names of the core plug-in at pluginIndex and, as user data, the callback the views call when
// an entry triggers. Entries the View menu has too show its text and, after a tab, its shortcut
// (the menu bar's action keeps the shortcut itself).
MenuGroup viewContextMenu(int pluginIndex, orvUI::OrvItemCallback callback);
MenuGroup photoContextMenu(int pluginIndex, orvUI::OrvItemCallback callback);

// The letter a menu text marks with '&' (lower case), or a null character for none ("&&" is a
// plain ampersand).
QChar mnemonic(const QString& text);
// The texts of one menu whose marked letters are used by an earlier text too.
QStringList duplicateMnemonics(const QVector<orvUI::_ActionItemInfo_>& actions);

// The mouse and key controls of both views and the shortcuts of the Edit, View, Mesh and Photo menus,
// as the Help menu's "Controls" box shows them (rich text).
QString controlsText(const QVector<MenuGroup>& menus);

// Translated texts of the plug-in and the host.
class CoreText {
    Q_DECLARE_TR_FUNCTIONS(orvCore)
public:
    // The product name shown in window titles and the About box.
    static QString productName();
};

}  // namespace orvCore
