// The host's and the core plug-in's logic without a window: pairing photographs with meshes,
// the menu data, the command line, and the project work of the commands (adding pairs under
// progress, counts, sleep and wake, replacing a project file, reports), and the checks and
// texts of the backup command.
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QKeySequence>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <ostream>

#include "CoreBackup.h"
#include "CoreCommands.h"
#include "CorePairing.h"
#include "CoreProject.h"
#include "CoreUi.h"
#include "HostOptions.h"
#include "TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace orvCore;
using orvUI::_ActionItemInfo_;

namespace {

// ---- pairing ---------------------------------------------------------------------------------

class Pairing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    // An empty file (pairing looks at names only).
    QString touch(const QString& rel)
    {
        const QString p = QDir(tmp.path()).filePath(rel);
        EXPECT_TRUE(orvtest::writeFile(p, QByteArray("x")));
        return QFileInfo(p).absoluteFilePath();
    }
    QTemporaryDir tmp;
};

TEST_F(Pairing, PartnerNextToTheFileOrInTheSiblingFolder)
{
    const QString photo = touch(QStringLiteral("site/a.jpg"));
    const QString mesh = touch(QStringLiteral("site/a.obj"));
    touch(QStringLiteral("site/a.mtl"));
    EXPECT_EQ(meshForPhoto(photo), mesh);
    EXPECT_EQ(photoForMesh(mesh), photo);

    // photos/ and meshes/ side by side; the folder name matches in any case.
    const QString p2 = touch(QStringLiteral("survey/photos/tile_7.jpeg"));
    const QString m2 = touch(QStringLiteral("survey/Meshes/tile_7.obj"));
    EXPECT_EQ(meshForPhoto(p2), m2);
    EXPECT_EQ(photoForMesh(m2), p2);

    // Next to the file wins over the sibling folder.
    const QString near = touch(QStringLiteral("survey/photos/tile_7.obj"));
    EXPECT_EQ(meshForPhoto(p2), near);

    // A folder further away is not searched.
    const QString p3 = touch(QStringLiteral("deep/photos/x/b.jpg"));
    touch(QStringLiteral("deep/meshes/b.obj"));
    EXPECT_TRUE(meshForPhoto(p3).isEmpty());
}

TEST_F(Pairing, SuffixesAndNamesAndTheirCase)
{
    const QString upper = touch(QStringLiteral("d/IMG_1.JPG"));
    const QString lowerMesh = touch(QStringLiteral("d/img_1.obj"));
    // Only a name differing in case: found.
    EXPECT_EQ(meshForPhoto(upper), lowerMesh);
    // An exact name is preferred to one differing in case, even one listed before it.
    const QString exact = touch(QStringLiteral("d/IMG_1.OBJ"));
    EXPECT_EQ(meshForPhoto(upper), exact);
    const QString lower = touch(QStringLiteral("d/img_2.jpg"));
    touch(QStringLiteral("d/IMG_2.obj"));
    const QString lowerExact = touch(QStringLiteral("d/img_2.obj"));
    EXPECT_EQ(meshForPhoto(lower), lowerExact);

    // The whole name before the last suffix must match.
    const QString dotted = touch(QStringLiteral("e/site.v2.png"));
    touch(QStringLiteral("e/site.obj"));
    EXPECT_TRUE(meshForPhoto(dotted).isEmpty());
    const QString dottedMesh = touch(QStringLiteral("e/site.v2.obj"));
    EXPECT_EQ(meshForPhoto(dotted), dottedMesh);

    // Files that only look similar are not partners.
    const QString lone = touch(QStringLiteral("f/c.obj"));
    touch(QStringLiteral("f/c.txt"));
    touch(QStringLiteral("f/c.jpg.bak"));
    touch(QStringLiteral("f/c.gif"));
    EXPECT_TRUE(photoForMesh(lone).isEmpty());
    const QString tif = touch(QStringLiteral("f/c.TIF"));
    EXPECT_EQ(photoForMesh(lone), tif);

    EXPECT_TRUE(isPhotoFile(QStringLiteral("x.Bmp")));
    EXPECT_FALSE(isPhotoFile(QStringLiteral("x.obj")));
    EXPECT_TRUE(isMeshFile(QStringLiteral("x.OBJ")));
    EXPECT_TRUE(isProjectFile(QStringLiteral("/a/b.ORVPROJ")));
    EXPECT_FALSE(isProjectFile(QStringLiteral("/a/b.orvproj.bak")));
}

TEST_F(Pairing, BatchesReportFilesWithoutPartnerAndUseEachPartnerOnce)
{
    const QString a = touch(QStringLiteral("p/a.jpg"));
    const QString aPng = touch(QStringLiteral("p/a.png"));
    const QString am = touch(QStringLiteral("p/a.obj"));
    const QString c = touch(QStringLiteral("p/c.jpg"));
    const QString b = touch(QStringLiteral("p/b.jpg"));
    const QString bm = touch(QStringLiteral("p/b.obj"));

    const PairingResult r = pairPhotos({a, c, a, aPng, b});
    ASSERT_EQ(r.pairs.size(), 2);
    EXPECT_EQ(r.pairs[0], (PhotoMeshPair{a, am}));
    EXPECT_EQ(r.pairs[1], (PhotoMeshPair{b, bm}));
    // c has no mesh; a.png would need a.obj a second time.
    EXPECT_EQ(r.unmatched, (QStringList{c, aPng}));

    const QString lone = touch(QStringLiteral("p/z.obj"));
    const PairingResult m = pairMeshes({bm, lone, am});
    ASSERT_EQ(m.pairs.size(), 2);
    EXPECT_EQ(m.pairs[0], (PhotoMeshPair{b, bm}));
    EXPECT_EQ(m.pairs[1], (PhotoMeshPair{a, am}));  // a.jpg before a.png in name order
    EXPECT_EQ(m.unmatched, QStringList{lone});
}

TEST_F(Pairing, DroppedFilesPairWithEachOtherFirst)
{
    // Dropped together from different folders, names differing in case.
    const QString photo = touch(QStringLiteral("one/Roof.jpg"));
    const QString mesh = touch(QStringLiteral("two/roof.obj"));
    // On disk: a photo whose mesh lies beside it; a mesh without any photo.
    const QString wall = touch(QStringLiteral("three/wall.jpg"));
    const QString wallMesh = touch(QStringLiteral("three/wall.obj"));
    const QString bare = touch(QStringLiteral("three/bare.obj"));
    const QString note = touch(QStringLiteral("three/notes.txt"));

    const PairingResult r = pairDropped({photo, wall, note, mesh, bare, photo});
    ASSERT_EQ(r.pairs.size(), 2);
    EXPECT_EQ(r.pairs[0], (PhotoMeshPair{photo, mesh}));
    EXPECT_EQ(r.pairs[1], (PhotoMeshPair{wall, wallMesh}));
    EXPECT_EQ(r.unmatched, QStringList{bare});
    EXPECT_EQ(r.ignored, QStringList{note});

    // A mesh dropped with its photo is not paired a second time through the disk.
    const PairingResult twice = pairDropped({wallMesh, wall});
    ASSERT_EQ(twice.pairs.size(), 1);
    EXPECT_TRUE(twice.unmatched.isEmpty());
}

TEST_F(Pairing, AMeshsOwnTextureIsNeverItsPhotograph)
{
    // As the sample lays it out: meshes/tile_000.obj with its material and texture beside it,
    // the photograph of the same name in photos/.
    const QString mesh = touch(QStringLiteral("s/meshes/tile_000.obj"));
    ASSERT_TRUE(orvtest::writeFile(mesh,
                                   "mtllib tile_000.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                                   "usemtl tile\nf 1/1 2/2 3/3\n"));
    ASSERT_TRUE(orvtest::writeFile(QDir(tmp.path()).filePath(QStringLiteral("s/meshes/tile_000.mtl")),
                                   "newmtl tile\nKd 1 1 1\nmap_Kd tile_000.png\n"));
    const QString texture = touch(QStringLiteral("s/meshes/tile_000.png"));
    const QString photo = touch(QStringLiteral("s/photos/tile_000.jpg"));

    EXPECT_EQ(meshTextureFiles(mesh), QStringList{texture});
    EXPECT_TRUE(isTextureOfMesh(texture, mesh));
    EXPECT_FALSE(isTextureOfMesh(photo, mesh));
    EXPECT_EQ(photoForMesh(mesh), photo);
    const PairingResult m = pairMeshes({mesh});
    ASSERT_EQ(m.pairs.size(), 1);
    EXPECT_EQ(m.pairs[0], (PhotoMeshPair{photo, mesh}));
    // The texture given as a photo finds no mesh: its only candidate wears it.
    EXPECT_TRUE(meshForPhoto(texture).isEmpty());
    EXPECT_EQ(pairPhotos({texture, photo}).unmatched, QStringList{texture});
    // The mesh folder dropped whole: the texture goes with its mesh, the photo is found on disk.
    const PairingResult d = pairDropped({mesh, texture});
    ASSERT_EQ(d.pairs.size(), 1);
    EXPECT_EQ(d.pairs[0], (PhotoMeshPair{photo, mesh}));
    EXPECT_EQ(d.ignored, QStringList{texture});
    EXPECT_TRUE(d.unmatched.isEmpty());

    // Without a photograph anywhere the texture is still not taken.
    const QString bare = touch(QStringLiteral("t/bare.obj"));
    ASSERT_TRUE(orvtest::writeFile(bare, "mtllib bare.mtl\nv 0 0 0\n"));
    ASSERT_TRUE(orvtest::writeFile(QDir(tmp.path()).filePath(QStringLiteral("t/bare.mtl")), "map_Kd bare.jpg\n"));
    touch(QStringLiteral("t/bare.jpg"));
    EXPECT_TRUE(photoForMesh(bare).isEmpty());
    EXPECT_EQ(pairMeshes({bare}).unmatched, QStringList{bare});
}

TEST_F(Pairing, TexturesAreReadFromEveryMaterialStatement)
{
    // Libraries named anywhere in the OBJ (one late, past the first block the file is read in,
    // its line cut by the block's end), several on one line; map options, backslashes, names
    // with spaces and the other texture statements.
    const QString mesh = QDir(tmp.path()).filePath(QStringLiteral("m/site.obj"));
    QByteArray obj = "# site\nmtllib one.mtl two.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const int block = 4 << 20;
    obj += '#' + QByteArray(block - obj.size() - 6, 'x') + '\n';
    obj += "  mtllib late.mtl\nf 1 2 3\n";
    ASSERT_TRUE(orvtest::writeFile(mesh, obj));
    ASSERT_TRUE(orvtest::writeFile(QDir(tmp.path()).filePath(QStringLiteral("m/one.mtl")),
                                   "newmtl a\nmap_Kd -s 1 1 1 -o 0.5 0.5 -clamp on tex/diffuse map.png\n"
                                   "map_d alpha.png\n# map_Kd commented.png\nmap_Kd tex/diffuse map.png\n"));
    ASSERT_TRUE(orvtest::writeFile(QDir(tmp.path()).filePath(QStringLiteral("m/two.mtl")),
                                   "newmtl b\r\nbump -bm 0.3 sub\\normal.png\r\nKd 1 0 0\r\nnorm n.tga\r\n"));
    ASSERT_TRUE(
        orvtest::writeFile(QDir(tmp.path()).filePath(QStringLiteral("m/late.mtl")), "map_Ka ../shared/LATE.JPG\n"));
    const QString m = QFileInfo(mesh).absolutePath();
    EXPECT_EQ(meshTextureFiles(mesh),
              (QStringList{m + QStringLiteral("/tex/diffuse map.png"), m + QStringLiteral("/alpha.png"),
                           m + QStringLiteral("/sub/normal.png"), m + QStringLiteral("/n.tga"),
                           QDir::cleanPath(m + QStringLiteral("/../shared/LATE.JPG"))}));
    // A name written in another case than the file has still means that file.
    const QString late = touch(QStringLiteral("shared/late.jpg"));
    EXPECT_TRUE(isTextureOfMesh(late, mesh));
    EXPECT_FALSE(isTextureOfMesh(touch(QStringLiteral("shared/other.jpg")), mesh));

    // No library, or one that is not there: no textures.
    EXPECT_TRUE(meshTextureFiles(touch(QStringLiteral("m/plain.obj"))).isEmpty());
    const QString lost = QDir(tmp.path()).filePath(QStringLiteral("m/lost.obj"));
    ASSERT_TRUE(orvtest::writeFile(lost, "mtllib gone.mtl\nv 0 0 0\n"));
    EXPECT_TRUE(meshTextureFiles(lost).isEmpty());
}

TEST_F(Pairing, APhotoWithoutAMeshOfItsNameAsksForOne)
{
    const QString a = touch(QStringLiteral("p/a.jpg"));
    const QString am = touch(QStringLiteral("p/a.obj"));
    const QString x = touch(QStringLiteral("p/x.jpg"));
    const QString y = touch(QStringLiteral("p/y.jpg"));
    const QString xm = touch(QStringLiteral("m/house.obj"));
    const QString notMesh = touch(QStringLiteral("m/notes.txt"));
    // A mesh that wears y as its texture cannot have y as its photograph.
    const QString wearer = QDir(tmp.path()).filePath(QStringLiteral("m/wearer.obj"));
    ASSERT_TRUE(orvtest::writeFile(wearer, "mtllib wearer.mtl\nv 0 0 0\n"));
    ASSERT_TRUE(orvtest::writeFile(QDir(tmp.path()).filePath(QStringLiteral("m/wearer.mtl")), "map_Kd ../p/y.jpg\n"));

    struct Ask {
        QString photo, problem;
    };
    QVector<Ask> asked;
    QMap<QString, QStringList> answers = {{x, {notMesh, am, xm}}, {y, {wearer, QString()}}};
    const PairingResult r = pairPhotos({a, x, y, x}, [&](const QString& photo, const QString& problem) {
        asked.append({photo, problem});
        return answers[photo].isEmpty() ? QString() : answers[photo].takeFirst();
    });
    ASSERT_EQ(r.pairs.size(), 2);
    EXPECT_EQ(r.pairs[0], (PhotoMeshPair{a, am}));
    EXPECT_EQ(r.pairs[1], (PhotoMeshPair{x, xm}));
    EXPECT_EQ(r.skipped, QStringList{y});
    EXPECT_TRUE(r.unmatched.isEmpty());
    // Asked again, told why, while a pick cannot be taken; a's own mesh is never asked about.
    ASSERT_EQ(asked.size(), 5);
    EXPECT_EQ(asked[0].photo, x);
    EXPECT_TRUE(asked[0].problem.isEmpty());
    EXPECT_TRUE(asked[1].problem.contains(QStringLiteral("not an OBJ mesh"))) << asked[1].problem.toStdString();
    EXPECT_TRUE(asked[2].problem.contains(QStringLiteral("another photograph"))) << asked[2].problem.toStdString();
    EXPECT_EQ(asked[3].photo, y);
    EXPECT_TRUE(asked[4].problem.contains(QStringLiteral("texture"))) << asked[4].problem.toStdString();

    // Without a chooser nothing is asked and the photos without a mesh are reported.
    const PairingResult plain = pairPhotos({a, x});
    EXPECT_EQ(plain.unmatched, QStringList{x});
    EXPECT_TRUE(plain.skipped.isEmpty());
}

// ---- menus -----------------------------------------------------------------------------------

TEST(CoreMenus, EveryCommandCarriesThePluginIndexAndIsHandled)
{
    const int index = 3;
    const QVector<MenuGroup> menus = coreMenus(index);
    ASSERT_EQ(menus.size(), 6);
    for (int i = 0; i < menus.size(); ++i) {
        EXPECT_EQ(menus[i].info.position, i);
        EXPECT_FALSE(menus[i].info.name.isEmpty());
        ASSERT_FALSE(menus[i].actions.isEmpty()) << "an empty menu " << i;
        for (int k = 0; k < menus[i].actions.size(); ++k) {
            const _ActionItemInfo_& a = menus[i].actions[k];
            // Only the last record of each array ends it.
            EXPECT_EQ(bool(a.flags & orvUI::ActionItemLast), k == menus[i].actions.size() - 1) << a.name.toStdString();
            EXPECT_TRUE(a.flags & orvUI::ActionItemInMenu) << a.name.toStdString();
            EXPECT_EQ(a.subItems, nullptr);
            if (a.flags & orvUI::ActionItemSeparator) {
                EXPECT_TRUE(a.name.isEmpty());
                continue;
            }
            QString command;
            int at = -1;
            ASSERT_TRUE(splitActionName(a.name, &command, &at)) << a.name.toStdString();
            EXPECT_EQ(at, index);
            EXPECT_TRUE(a.name.endsWith(QStringLiteral("___3")));
            EXPECT_TRUE(isCoreCommand(command)) << "menu entry without a command: " << command.toStdString();
            EXPECT_FALSE(a.text.isEmpty());
        }
    }
    // The last separator of a group is never the last record (a menu does not end in one).
    for (const MenuGroup& g : menus) EXPECT_FALSE(g.actions.last().flags & orvUI::ActionItemSeparator);
    EXPECT_FALSE(isCoreCommand(QStringLiteral("FileExplode")));
    EXPECT_EQ(runCoreCommand(QStringLiteral("FileExplode"), QStringLiteral("FileExplode___3"), false), 1);
}

TEST(CoreMenus, FileMenuToolbarAndShortcuts)
{
    const QVector<MenuGroup> menus = coreMenus(0);
    const QStringList file = menuCommands({menus[MenuFile]});
    EXPECT_EQ(file, (QStringList{cmd::New, cmd::Open, cmd::OpenPhoto, cmd::AddPhotos, cmd::AddMeshes, cmd::Save,
                                 cmd::SaveAs, cmd::ExportTextures, cmd::Quit}));
    // Plug-in sub-menus are inserted before the action named "FileSave".
    EXPECT_EQ(cmd::Save, QStringLiteral("FileSave"));

    QStringList onToolBar;
    QSet<QString> shortcuts;
    int separators = 0;
    for (const MenuGroup& g : menus)
        for (const _ActionItemInfo_& a : g.actions) {
            if (a.flags & orvUI::ActionItemSeparator) {
                ++separators;
                continue;
            }
            QString command;
            splitActionName(a.name, &command, nullptr);
            if (a.flags & orvUI::ActionItemInToolBar) onToolBar << command;
            if (!a.shortcut.isEmpty()) {
                const QKeySequence seq(a.shortcut, QKeySequence::NativeText);
                EXPECT_EQ(seq.count(), 1) << a.shortcut.toStdString();
                EXPECT_NE(seq[0], 0) << a.shortcut.toStdString();
                EXPECT_FALSE(shortcuts.contains(a.shortcut)) << "shortcut used twice: " << a.shortcut.toStdString();
                shortcuts.insert(a.shortcut);
            }
            EXPECT_EQ(a.checkable, command == cmd::ShowStatusBar || command == cmd::ShowImageViewer ||
                                       command == cmd::ShowOverlay || command == cmd::EditMarks);
            // The status bar and image viewer start shown; the overlay and the marks tool start off.
            if (a.checkable) {
                EXPECT_EQ(a.checked, command != cmd::ShowOverlay && command != cmd::EditMarks);
            }
        }
    EXPECT_EQ(onToolBar, (QStringList{cmd::New, cmd::Open, cmd::AddPhotos, cmd::AddMeshes, cmd::Save}));
    EXPECT_GE(separators, 3);
    for (const _ActionItemInfo_& a : menus[MenuFile].actions) {
        if (!(a.flags & orvUI::ActionItemSeparator)) {
            EXPECT_FALSE(a.shortcut.isEmpty()) << a.name.toStdString();
        }
    }
}

TEST(CoreMenus, EditAndPhotoMenusSitBetweenFileAndHelp)
{
    const QVector<MenuGroup> menus = coreMenus(1);
    ASSERT_EQ(menus.size(), 6);
    EXPECT_EQ(menus.first().info.position, int(MenuFile));
    EXPECT_EQ(menus.last().info.position, int(MenuHelp));
    EXPECT_EQ(menus[MenuEdit].info.name, QStringLiteral("&Edit"));
    EXPECT_EQ(menus[MenuPhoto].info.name, QStringLiteral("&Photo"));
    EXPECT_EQ(menuCommands({menus[MenuEdit]}), (QStringList{cmd::Undo, cmd::Redo}));
    EXPECT_EQ(menuCommands({menus[MenuPhoto]}),
              (QStringList{cmd::EditMarks, cmd::MapPhoto, cmd::MapAllPhotos, cmd::LookThrough}));
    QHash<QString, QString> keys;
    for (const MenuGroup& g : menus)
        for (const _ActionItemInfo_& a : g.actions) {
            QString command;
            if (splitActionName(a.name, &command, nullptr)) keys.insert(command, a.shortcut);
        }
    EXPECT_EQ(keys.value(cmd::Undo), QStringLiteral("Ctrl+Z"));
    EXPECT_EQ(keys.value(cmd::Redo), QStringLiteral("Ctrl+Shift+Z"));
    EXPECT_EQ(keys.value(cmd::EditMarks), QStringLiteral("Ctrl+E"));
    EXPECT_EQ(keys.value(cmd::MapPhoto), QStringLiteral("Ctrl+M"));
    EXPECT_EQ(keys.value(cmd::LookThrough), QStringLiteral("Ctrl+L"));

    // The Controls box lists the keys of the Edit and Photo menus with the View menu's.
    const QString controls = controlsText(menus);
    for (const QString& key : {QStringLiteral("Ctrl+Z"), QStringLiteral("Ctrl+Shift+Z"), QStringLiteral("Ctrl+E"),
                               QStringLiteral("Ctrl+M"), QStringLiteral("Ctrl+L")})
        EXPECT_TRUE(controls.contains(QKeySequence(key).toString(QKeySequence::NativeText).toHtmlEscaped()))
            << key.toStdString();
    EXPECT_TRUE(controls.contains(QStringLiteral("Look through photo")));
    EXPECT_TRUE(controls.contains(QStringLiteral("Remove the chosen mark")));
    // File menu keys are left to the menu itself.
    EXPECT_FALSE(controls.contains(QStringLiteral("Save as")));
}

TEST(CoreMenus, PaintingEntriesFollowTheBackupInTheMeshMenu)
{
    const QVector<MenuGroup> menus = coreMenus(0);
    EXPECT_EQ(menuCommands({menus[MenuMesh]}),
              (QStringList{cmd::WakeAllMeshes, cmd::SleepAllMeshes, cmd::GenerateBackup, cmd::PaintPhoto,
                           cmd::ApplyEditedBackup, cmd::RestorePaint, cmd::ProjectSummary}));
    QHash<QString, _ActionItemInfo_> byCommand;
    for (const MenuGroup& g : menus)
        for (const _ActionItemInfo_& a : g.actions) {
            QString command;
            if (splitActionName(a.name, &command, nullptr)) byCommand.insert(command, a);
        }
    // Painting has its key; it is not the one that adds photos.
    const QString paintKey = byCommand.value(cmd::PaintPhoto).shortcut;
    EXPECT_FALSE(paintKey.isEmpty());
    EXPECT_NE(paintKey, byCommand.value(cmd::AddPhotos).shortcut);
    // The entries that ask for files or a choice say so with "...", painting asks nothing.
    EXPECT_FALSE(byCommand.value(cmd::PaintPhoto).text.endsWith(QStringLiteral("...")));
    for (const QString& asks : {cmd::ApplyEditedBackup, cmd::RestorePaint, cmd::ExportTextures})
        EXPECT_TRUE(byCommand.value(asks).text.endsWith(QStringLiteral("..."))) << asks.toStdString();
    // The Controls box lists the painting key with the other menu keys.
    EXPECT_TRUE(
        controlsText(menus).contains(QKeySequence(paintKey).toString(QKeySequence::NativeText).toHtmlEscaped()));
}

TEST(CoreMenus, StandardViewsAndOverlaySteps)
{
    for (int i = 0; i < 6; ++i) EXPECT_EQ(standardViewIndex(standardViewCommand(i)), i);
    EXPECT_EQ(standardViewIndex(QStringLiteral("ViewStandard6")), -1);
    EXPECT_EQ(standardViewIndex(QStringLiteral("ViewStandard12")), -1);
    EXPECT_EQ(standardViewIndex(QStringLiteral("ViewStandard")), -1);
    EXPECT_EQ(standardViewIndex(cmd::FitAll), -1);
    EXPECT_FLOAT_EQ(steppedOpacity(0.5f, true), 0.75f);
    EXPECT_FLOAT_EQ(steppedOpacity(0.9f, true), 1.0f);
    EXPECT_FLOAT_EQ(steppedOpacity(0.1f, false), 0.0f);
    EXPECT_FLOAT_EQ(steppedOpacity(std::nanf(""), false), 0.75f);
}

void contextCallback(const QString&, bool) {}

_ActionItemInfo_ command(const QString& text)
{
    _ActionItemInfo_ a;
    a.text = text;
    a.flags = orvUI::ActionItemInMenu;
    return a;
}

TEST(CoreMenus, EveryMenuGivesEachEntryItsOwnLetter)
{
    EXPECT_EQ(mnemonic(QStringLiteral("F&ront view")), QLatin1Char('r'));
    EXPECT_EQ(mnemonic(QStringLiteral("Salt && &Pepper")), QLatin1Char('p'));
    EXPECT_TRUE(mnemonic(QStringLiteral("Salt && pepper")).isNull());
    EXPECT_TRUE(mnemonic(QStringLiteral("Trailing &")).isNull());
    EXPECT_EQ(duplicateMnemonics({command(QStringLiteral("&Left")), command(QStringLiteral("&Right")),
                                  command(QStringLiteral("Less &opaque")), command(QStringLiteral("&lower"))}),
              QStringList{QStringLiteral("&lower")});

    // Every menu of the menu bar, the menu bar's own titles, and the views' context menus.
    const QVector<MenuGroup> menus = coreMenus(2);
    QVector<_ActionItemInfo_> titles;
    for (const MenuGroup& g : menus) {
        EXPECT_TRUE(duplicateMnemonics(g.actions).isEmpty())
            << g.info.name.toStdString() << ": " << duplicateMnemonics(g.actions).join(", ").toStdString();
        for (const _ActionItemInfo_& a : g.actions)
            if (!(a.flags & orvUI::ActionItemSeparator)) {
                EXPECT_FALSE(mnemonic(a.text).isNull()) << "no letter marked: " << a.text.toStdString();
            }
        titles.append(command(g.info.name));
    }
    EXPECT_TRUE(duplicateMnemonics(titles).isEmpty());
    for (const MenuGroup& g : {viewContextMenu(2, &contextCallback), photoContextMenu(2, &contextCallback)})
        EXPECT_TRUE(duplicateMnemonics(g.actions).isEmpty())
            << g.info.name.toStdString() << ": " << duplicateMnemonics(g.actions).join(", ").toStdString();
}

TEST(CoreMenus, ContextMenusCarryTheViewsCommandsAndTheCallback)
{
    const int index = 4;
    const QVector<MenuGroup> menus = coreMenus(index);
    QHash<QString, _ActionItemInfo_> inMenus;
    for (const MenuGroup& g : menus)
        for (const _ActionItemInfo_& a : g.actions) inMenus.insert(a.name, a);

    const MenuGroup view = viewContextMenu(index, &contextCallback);
    const MenuGroup photo = photoContextMenu(index, &contextCallback);
    for (const MenuGroup& g : {view, photo}) {
        ASSERT_FALSE(g.actions.isEmpty());
        EXPECT_TRUE(g.actions.last().flags & orvUI::ActionItemLast);
        for (const _ActionItemInfo_& a : g.actions) {
            if (a.flags & orvUI::ActionItemSeparator) continue;
            QString command;
            int at = -1;
            ASSERT_TRUE(splitActionName(a.name, &command, &at)) << a.name.toStdString();
            EXPECT_EQ(at, index);
            EXPECT_TRUE(isCoreCommand(command)) << command.toStdString();
            // The views call the callback in the user data; the menu bar keeps the shortcuts,
            // which the entry only shows after a tab.
            EXPECT_EQ(a.userData, quint64(reinterpret_cast<quintptr>(&contextCallback))) << command.toStdString();
            EXPECT_TRUE(a.shortcut.isEmpty()) << command.toStdString();
            EXPECT_FALSE(a.checkable);
            const auto there = inMenus.constFind(a.name);
            if (there != inMenus.constEnd() && !there->shortcut.isEmpty()) {
                EXPECT_TRUE(a.text.startsWith(there->text + QLatin1Char('\t'))) << a.text.toStdString();
            }
        }
    }
    const QStringList viewCommands = menuCommands({view});
    EXPECT_TRUE(viewCommands.contains(cmd::OpenPhotoAtCursor));
    EXPECT_TRUE(viewCommands.contains(cmd::FitAll));
    EXPECT_TRUE(viewCommands.contains(cmd::HomeView));
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(viewCommands.contains(standardViewCommand(i))) << i;
    EXPECT_TRUE(viewCommands.contains(cmd::ToggleOverlay));
    EXPECT_TRUE(menuCommands({photo}).contains(cmd::FitPhoto));
    EXPECT_TRUE(menuCommands({photo}).contains(cmd::ToggleOverlay));
    EXPECT_TRUE(menuCommands(menus).contains(cmd::FitPhoto));
    EXPECT_TRUE(menuCommands(menus).contains(cmd::HomeView));

    // The Help menu's controls name both views and every key of the View menu.
    EXPECT_TRUE(menuCommands({menus[MenuHelp]}).contains(cmd::Controls));
    const QString controls = controlsText(menus);
    EXPECT_TRUE(controls.contains(QStringLiteral("Right drag")));
    EXPECT_TRUE(controls.contains(QStringLiteral("Double click")));
    for (const _ActionItemInfo_& a : menus[MenuView].actions)
        if (!a.shortcut.isEmpty()) {
            EXPECT_TRUE(controls.contains(QKeySequence(a.shortcut).toString(QKeySequence::NativeText).toHtmlEscaped()))
                << a.shortcut.toStdString();
        }
}

TEST(CoreMenus, EveryIconAnEntryNamesIsDrawnAndBesideTheBinaries)
{
    QStringList icons{QStringLiteral("icons/orvhost/orvhost.png")};  // the window's
    QVector<MenuGroup> menus = coreMenus(0);
    menus << viewContextMenu(0, &contextCallback) << photoContextMenu(0, &contextCallback);
    for (const MenuGroup& g : menus)
        for (const _ActionItemInfo_& a : g.actions)
            if (!a.icon.isEmpty()) icons << a.icon;
    // The toolbar has a picture for each of its entries.
    for (const _ActionItemInfo_& a : menus[MenuFile].actions)
        if ((a.flags & orvUI::ActionItemInToolBar) && !(a.flags & orvUI::ActionItemSeparator)) {
            EXPECT_FALSE(a.icon.isEmpty()) << a.name.toStdString();
        }
    for (const QString& icon : icons) {
        EXPECT_FALSE(icon.startsWith(QLatin1Char('/'))) << icon.toStdString();
        const QString source = QStringLiteral(ORV_SOURCE_DIR "/") + icon;
        const QString built = orvtest::binDir() + QLatin1Char('/') + icon;
        EXPECT_FALSE(QImage(source).isNull()) << source.toStdString();
        const QImage image(built);
        ASSERT_FALSE(image.isNull()) << built.toStdString();
        EXPECT_GE(image.width(), 16);
        EXPECT_EQ(image.width(), image.height());
    }
}

TEST(CoreMenus, ActionNamesSplitOnlyWithAnIndex)
{
    QString command = QStringLiteral("unchanged");
    int index = -7;
    EXPECT_TRUE(splitActionName(actionName(cmd::Open, 12), &command, &index));
    EXPECT_EQ(command, cmd::Open);
    EXPECT_EQ(index, 12);
    for (const char* bad : {"FileOpen", "FileOpen___", "FileOpen___-1", "FileOpen___1x", "FileOpen__1"}) {
        EXPECT_FALSE(splitActionName(QString::fromLatin1(bad), &command, &index)) << bad;
        EXPECT_EQ(index, 12) << bad;
    }
}

// ---- command line ----------------------------------------------------------------------------

orvHost::HostOptions parse(const QStringList& args, QString* error = nullptr)
{
    orvHost::HostOptions o;
    QString e;
    const bool ok = orvHost::parseHostOptions(QStringList{QStringLiteral("orvhost")} + args, &o, &e);
    if (error) *error = ok ? QString() : e;
    EXPECT_EQ(ok, e.isEmpty()) << e.toStdString();
    return o;
}

TEST(HostOptions, ListOptionsTakeEveryFollowingArgument)
{
    QString error;
    const orvHost::HostOptions o = parse(
        {QStringLiteral("--create"), QStringLiteral("p.orvproj"), QStringLiteral("--meshes"), QStringLiteral("a.obj"),
         QStringLiteral("b.obj"), QStringLiteral("--photos=a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("--labels"),
         QStringLiteral("roof"), QStringLiteral("--labels"), QStringLiteral("wall")},
        &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(o.mode, orvHost::HostMode::Create);
    EXPECT_EQ(o.project, QStringLiteral("p.orvproj"));
    EXPECT_EQ(o.meshes, (QStringList{QStringLiteral("a.obj"), QStringLiteral("b.obj")}));
    EXPECT_EQ(o.photos, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}));
    EXPECT_EQ(o.labels, (QStringList{QStringLiteral("roof"), QStringLiteral("wall")}));

    // After "--" nothing is an option any more.
    const QStringList expanded =
        orvHost::expandListOptions({QStringLiteral("orvhost"), QStringLiteral("--meshes"), QStringLiteral("a"),
                                    QStringLiteral("--"), QStringLiteral("b"), QStringLiteral("--photos")},
                                   {QStringLiteral("meshes"), QStringLiteral("photos")});
    EXPECT_EQ(expanded, (QStringList{QStringLiteral("orvhost"), QStringLiteral("--meshes"), QStringLiteral("a"),
                                     QStringLiteral("--"), QStringLiteral("b"), QStringLiteral("--photos")}));

    const orvHost::HostOptions w =
        parse({QStringLiteral("x.orvproj"), QStringLiteral("--screenshot"), QStringLiteral("out.png")});
    EXPECT_EQ(w.mode, orvHost::HostMode::Window);
    EXPECT_EQ(w.project, QStringLiteral("x.orvproj"));
    EXPECT_EQ(w.screenshot, QStringLiteral("out.png"));
    EXPECT_EQ(parse({QStringLiteral("--help")}).mode, orvHost::HostMode::Help);
    EXPECT_FALSE(parse({QStringLiteral("--help")}).helpText.isEmpty());
}

TEST(HostOptions, BadCommandLinesSayWhy)
{
    const QString c = QStringLiteral("--create"), p = QStringLiteral("p.orvproj"), m = QStringLiteral("--meshes"),
                  ph = QStringLiteral("--photos");
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{c, p, m, QStringLiteral("a.obj"), QStringLiteral("b.obj"), ph, QStringLiteral("a.jpg")}, "2 meshes but 1"},
        {{c, p, ph, QStringLiteral("a.jpg")}, "at least one mesh"},
        {{c, p, m, QStringLiteral("a.obj"), ph, QStringLiteral("a.jpg"), QStringLiteral("--labels"),
          QStringLiteral("x"), QStringLiteral("y")},
         "2 labels for 1 meshes"},
        {{c, p, QStringLiteral("--screenshot"), QStringLiteral("s.png"), m, QStringLiteral("a.obj"), ph,
          QStringLiteral("a.jpg")},
         "--screenshot"},
        {{m, QStringLiteral("a.obj")}, "belong to --create"},
        {{QStringLiteral("a.orvproj"), QStringLiteral("b.orvproj")}, "b.orvproj"},
        {{QStringLiteral("--frobnicate")}, "frobnicate"},
        {{c}, "create"},
    };
    for (const auto& k : cases) {
        QString error;
        parse(k.args, &error);
        EXPECT_TRUE(error.contains(QString::fromLatin1(k.says)))
            << k.args.join(' ').toStdString() << " -> " << error.toStdString();
    }
}

TEST(HostOptions, OnlyCreateHelpAndVersionRunWithoutAWindow)
{
    const QString prog = QStringLiteral("orvhost");
    EXPECT_TRUE(orvHost::wantsNoWindow({prog, QStringLiteral("--create"), QStringLiteral("p")}));
    EXPECT_TRUE(orvHost::wantsNoWindow({prog, QStringLiteral("--create=p")}));
    EXPECT_TRUE(orvHost::wantsNoWindow({prog, QStringLiteral("-h")}));
    EXPECT_TRUE(orvHost::wantsNoWindow({prog, QStringLiteral("--version")}));
    EXPECT_FALSE(orvHost::wantsNoWindow(
        {prog, QStringLiteral("p.orvproj"), QStringLiteral("--screenshot"), QStringLiteral("s.png")}));
    EXPECT_FALSE(orvHost::wantsNoWindow({prog, QStringLiteral("--"), QStringLiteral("--create")}));
}

TEST(HostOptions, BackupTakesAProjectAFileAViewAndASize)
{
    const QString p = QStringLiteral("site.orvproj"), b = QStringLiteral("--backup");
    orvHost::HostOptions o = parse({p, b, QStringLiteral("out.png")});
    EXPECT_EQ(o.mode, orvHost::HostMode::Backup);
    EXPECT_EQ(o.project, p);
    EXPECT_EQ(o.backup, QStringLiteral("out.png"));
    EXPECT_EQ(o.view, -1);
    EXPECT_EQ(o.viewSize, QSize(1280, 800));
    // A backup run needs a window (the 3D view draws on the display).
    EXPECT_FALSE(orvHost::wantsNoWindow({QStringLiteral("orvhost"), p, b, QStringLiteral("out.png")}));

    o = parse({b, QStringLiteral("o.jpg"), QStringLiteral("--view"), QStringLiteral("5"), QStringLiteral("--size"),
               QStringLiteral("64X48"), p});
    EXPECT_EQ(o.mode, orvHost::HostMode::Backup);
    EXPECT_EQ(o.view, 5);
    EXPECT_EQ(o.viewSize, QSize(64, 48));
    // The smallest and largest sides.
    o = parse({p, b, QStringLiteral("o.png"), QStringLiteral("--size=16x8192"), QStringLiteral("--view=0")});
    EXPECT_EQ(o.viewSize, QSize(16, 8192));
    EXPECT_EQ(o.view, 0);

    const QString v = QStringLiteral("--view"), z = QStringLiteral("--size"), out = QStringLiteral("o.png");
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{p, b, out, v, QStringLiteral("6")}, "\"6\""},
        {{p, b, out, v, QStringLiteral("-1")}, "from 0 to 5"},
        {{p, b, out, v, QStringLiteral("1.5")}, "1.5"},
        {{p, b, out, v, QStringLiteral("top")}, "top"},
        {{p, b, out, v, QStringLiteral("01")}, "01"},
        {{p, b, out, z, QStringLiteral("15x100")}, "15x100"},
        {{p, b, out, z, QStringLiteral("100x8193")}, "100x8193"},
        {{p, b, out, z, QStringLiteral("0x0")}, "0x0"},
        {{p, b, out, z, QStringLiteral("640")}, "\"640\""},
        {{p, b, out, z, QStringLiteral("640x")}, "640x"},
        {{p, b, out, z, QStringLiteral("640*480")}, "640*480"},
        {{p, b, out, z, QStringLiteral("-640x480")}, "-640x480"},
        {{p, b, out, z, QStringLiteral("4294967936x480")}, "from 16 to 8192"},
        {{p, b, out, QStringLiteral("--screenshot"), QStringLiteral("s.png")}, "cannot be combined with --screenshot"},
        {{QStringLiteral("--create"), p, b, out, QStringLiteral("--meshes"), QStringLiteral("a.obj"),
          QStringLiteral("--photos"), QStringLiteral("a.jpg")},
         "cannot be combined with --create"},
        {{b, out}, "needs a project"},
        {{p, b, QStringLiteral("")}, "needs a file name"},
        {{p, v, QStringLiteral("2")}, "belong to --backup"},
        {{p, z, QStringLiteral("64x64")}, "belong to --backup"},
        {{p, b, out, b, QStringLiteral("p.png")}, "--backup is given more than once"},
        {{p, b, out, z, QStringLiteral("64x64"), z, QStringLiteral("32x32")}, "--size is given more than once"},
    };
    for (const auto& k : cases) {
        QString error;
        parse(k.args, &error);
        EXPECT_TRUE(error.contains(QString::fromLatin1(k.says)))
            << k.args.join(' ').toStdString() << " -> " << error.toStdString();
    }
    // A refused value leaves the caller's value alone.
    QSize size(7, 7);
    EXPECT_FALSE(orvHost::parseViewSize(QStringLiteral("8192x8193"), &size));
    EXPECT_EQ(size, QSize(7, 7));
    EXPECT_TRUE(parse({QStringLiteral("--help")}).helpText.contains(QStringLiteral("--backup")));
}

// ---- project work through the kernel ---------------------------------------------------------

// Records the progress protocol: T(ext), S(tep) with its size, P(ush), O (pop); cancels once
// `cancelAfter` steps were made inside a sub-range.
class RecordingProgress : public IZimProgress {
public:
    int progressPush(double f) override { return note(QStringLiteral("P%1 ").arg(f), 1); }
    int progressPop() override { return note(QStringLiteral("O "), -1); }
    int progressText(QString) override { return note(QStringLiteral("T "), 0); }
    int progressStep(double f) override
    {
        if (depth > 0) ++innerSteps;
        return note(QStringLiteral("S%1 ").arg(f), 0);
    }
    int progressYield() override { return 0; }
    int progressSetCancelable(bool, ref_ptr<ZimReferenced>) override { return 0; }
    bool progressCanceled() override { return cancelAfter >= 0 && innerSteps >= cancelAfter; }
    int note(const QString& s, int push)
    {
        log += s;
        depth += push;
        return 0;
    }
    QString log;
    int depth = 0;
    int innerSteps = 0;
    int cancelAfter = -1;
};

class HostProject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        mm = zim::getMM();
    }
    void TearDown() override { mm->closeProject(); }

    QString path(const QString& rel) const { return QDir(tmp.path()).filePath(rel); }

    // A photo and a textured quad mesh of the same base name in `folder`.
    // A photo and a quad mesh of that name; without `textured` the mesh's material has a colour
    // only.
    PhotoMeshPair pair(const QString& folder, const QString& name, bool textured = true)
    {
        const QString dir = path(folder);
        QDir().mkpath(dir);
        QImage img(32, 24, QImage::Format_RGB32);
        img.fill(QColor(40, 120, 200));
        EXPECT_TRUE(img.save(dir + QLatin1Char('/') + name + QStringLiteral(".jpg")));
        EXPECT_TRUE(QFile::copy(orvtest::dataPath(QStringLiteral("quad_tex.png")),
                                dir + QLatin1Char('/') + name + QStringLiteral("_tex.png")));
        const QByteArray mtl = textured ? "newmtl m\nKd 1 1 1\nmap_Kd " + name.toUtf8() + "_tex.png\n"
                                        : QByteArray("newmtl m\nKd 1 1 1\n");
        EXPECT_TRUE(orvtest::writeFile(dir + QLatin1Char('/') + name + QStringLiteral(".mtl"), mtl));
        const QByteArray obj = "mtllib " + name.toUtf8() +
                               ".mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                               "usemtl m\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";
        EXPECT_TRUE(orvtest::writeFile(dir + QLatin1Char('/') + name + QStringLiteral(".obj"), obj));
        return {dir + QLatin1Char('/') + name + QStringLiteral(".jpg"),
                dir + QLatin1Char('/') + name + QStringLiteral(".obj")};
    }

    QTemporaryDir tmp;
    ref_ptr<IZimMM> mm;
};

TEST_F(HostProject, AddPairsFollowsTheProgressConventionAndReportsRefusals)
{
    ASSERT_EQ(mm->createProject(path(QStringLiteral("p.orvproj"))), 0);
    const PhotoMeshPair a = pair(QStringLiteral("x"), QStringLiteral("a"));
    const PhotoMeshPair b = pair(QStringLiteral("x"), QStringLiteral("b"));
    const PhotoMeshPair c = pair(QStringLiteral("x"), QStringLiteral("c"));
    const PhotoMeshPair d = pair(QStringLiteral("x"), QStringLiteral("d"));

    RecordingProgress progress;
    // b's mesh again with c's photo: the kernel refuses a mesh that is in the project already.
    const AddOutcome out = addPairs(mm.get(), {a, b, {c.photo, b.mesh}, d}, &progress);
    EXPECT_EQ(out.added, (QVector<int>{0, 1, 2}));
    ASSERT_EQ(out.failed.size(), 1);
    EXPECT_EQ(out.failed[0].photo, c.photo);
    EXPECT_FALSE(out.failed[0].reason.isEmpty());
    EXPECT_EQ(out.skipped, 0);
    EXPECT_EQ(progress.log, QStringLiteral("T S0.01 P0.99 S0.25 S0.25 S0.25 S0.25 O "));
    EXPECT_EQ(progress.depth, 0);

    const QString report =
        addReport(AddSource::Photos, PairingResult{{}, {QStringLiteral("/w/lone.jpg")}, {}, {}}, out);
    EXPECT_TRUE(report.contains(QStringLiteral("lone.jpg")));
    EXPECT_TRUE(report.contains(QStringLiteral("c.jpg")));
    EXPECT_TRUE(report.contains(out.failed[0].reason));
    EXPECT_TRUE(addReport(AddSource::Photos, PairingResult{}, AddOutcome{{0}, {}, 0}).isEmpty());

    // Cancelled after the first pair: that one stays, the rest is counted as skipped.
    const PhotoMeshPair e = pair(QStringLiteral("y"), QStringLiteral("e"));
    const PhotoMeshPair f = pair(QStringLiteral("y"), QStringLiteral("f"));
    RecordingProgress cancelling;
    cancelling.cancelAfter = 1;
    const AddOutcome cut = addPairs(mm.get(), {e, f}, &cancelling);
    EXPECT_EQ(cut.added.size(), 1);
    EXPECT_EQ(cut.skipped, 1);
    EXPECT_EQ(cancelling.depth, 0);
    EXPECT_EQ(mm->imageCount(), 4);
    EXPECT_TRUE(addReport(AddSource::Meshes, PairingResult{}, cut).contains(QStringLiteral("1 pair")));
}

TEST_F(HostProject, CountsTitleAndSleepWake)
{
    ProjectCounts none = projectCounts(mm.get());
    EXPECT_FALSE(none.open);
    EXPECT_EQ(frameTitle(none), CoreText::productName());
    EXPECT_EQ(statusText(PaneProject, none), QStringLiteral("No project"));

    ASSERT_EQ(mm->createProject(path(QStringLiteral("site.orvproj"))), 0);
    const PhotoMeshPair a = pair(QStringLiteral("m"), QStringLiteral("a"));
    const PhotoMeshPair b = pair(QStringLiteral("m"), QStringLiteral("b"));
    ASSERT_EQ(addPairs(mm.get(), {a, b}, nullptr).added.size(), 2);
    mm->setImageMapped(1, true);

    ProjectCounts c = projectCounts(mm.get());
    EXPECT_EQ(c.name, QStringLiteral("site"));
    EXPECT_EQ(c.images, 2);
    EXPECT_EQ(c.awake, 2);
    EXPECT_EQ(c.mapped, 1);
    EXPECT_EQ(c.triangles, 4);
    EXPECT_EQ(frameTitle(c), CoreText::productName() + QStringLiteral(" \u2014 site[*]"));
    EXPECT_EQ(statusText(PaneImages, c), QStringLiteral("2 photos"));
    EXPECT_EQ(statusText(PaneMeshes, c), QStringLiteral("2 meshes"));

    RecordingProgress progress;
    QStringList failed;
    EXPECT_EQ(sleepAllMeshes(mm.get(), &progress, &failed), (QVector<int>{0, 1}));
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(progress.log, QStringLiteral("T S0.01 P0.99 S0.5 S0.5 O "));
    c = projectCounts(mm.get());
    EXPECT_EQ(c.asleep, 2);
    EXPECT_EQ(c.triangles, 0);
    EXPECT_EQ(statusText(PaneMeshes, c), QStringLiteral("0 awake, 2 asleep"));
    // Nothing left to put to sleep.
    EXPECT_TRUE(sleepAllMeshes(mm.get(), nullptr, &failed).isEmpty());

    // A mesh whose file went away cannot be woken: it is named, the other one wakes.
    ASSERT_TRUE(QFile::remove(b.mesh));
    EXPECT_EQ(wakeAllMeshes(mm.get(), nullptr, &failed), QVector<int>{0});
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0].contains(QStringLiteral("b.obj"))) << failed[0].toStdString();
    EXPECT_EQ(projectCounts(mm.get()).awake, 1);
    EXPECT_TRUE(summaryText(projectCounts(mm.get())).contains(QStringLiteral("1 awake, 1 asleep")));
}

TEST_F(HostProject, ReplacingAProjectFileKeepsTheOldOneUntilTheNewOneExists)
{
    const QString target = path(QStringLiteral("old.orvproj"));
    ASSERT_TRUE(orvtest::writeFile(target, "an older file"));
    QString error;
    // The kernel fails to write the new file: the old one is back in its place.
    qputenv("ORV_KERNEL_SAVE_FAULT", "commit");
    EXPECT_NE(createProjectReplacing(mm.get(), target, &error), 0);
    qunsetenv("ORV_KERNEL_SAVE_FAULT");
    EXPECT_TRUE(error.contains(QStringLiteral("fault"))) << error.toStdString();
    EXPECT_EQ(orvtest::readFile(target), QByteArray("an older file"));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.orvproj")});

    ASSERT_EQ(createProjectReplacing(mm.get(), target, &error), 0) << error.toStdString();
    EXPECT_TRUE(mm->isProjectOpen());
    EXPECT_EQ(mm->imageCount(), 0);
    EXPECT_NE(orvtest::readFile(target), QByteArray("an older file"));
    // Nothing set aside is left over.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.orvproj")});

    EXPECT_EQ(withProjectSuffix(QStringLiteral("/a/b")), QStringLiteral("/a/b.orvproj"));
    EXPECT_EQ(withProjectSuffix(QStringLiteral("/a/b.ORVPROJ")), QStringLiteral("/a/b.ORVPROJ"));
}

// The pixels in which two pictures of the same size differ.
int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            if (x.pixel(col, row) != y.pixel(col, row)) ++n;
    return n;
}

TEST_F(HostProject, SavingWritesEditedTexturesIntoTheDataFolderBesideTheProject)
{
    const QString file = path(QStringLiteral("site.orvproj"));
    ASSERT_EQ(mm->createProject(file), 0);
    const PhotoMeshPair a = pair(QStringLiteral("m"), QStringLiteral("a"));
    ASSERT_EQ(addPairs(mm.get(), {a}, nullptr).added.size(), 1);
    QString error;
    ASSERT_EQ(saveProjectWithTextures(mm.get(), &error), 0) << error.toStdString();
    const QString ownTexture = path(QStringLiteral("m/a_tex.png"));
    const QByteArray ownBytes = orvtest::readFile(ownTexture);
    const QImage own(ownTexture);
    ASSERT_FALSE(own.isNull());

    // One texel changed in memory.
    ref_ptr<IZimMesh> mesh;
    ASSERT_EQ(mm->getMeshAt(mesh, 0), 0);
    ref_ptr<IZimImage> texture = mesh->meshTexture();
    ASSERT_TRUE(texture);
    unsigned char was[4] = {};
    ASSERT_TRUE(texture->imageGetPixel(was, 0, 0, false));
    ASSERT_TRUE(texture->imageSetPixel(0, 0, int(255 - was[0]) | (int(255 - was[1]) << 8), false));
    ASSERT_EQ(mm->notifyTextureEdited(0), 0);
    EXPECT_TRUE(mm->isModified());

    // A file where the data folder belongs: the texture cannot be written, so nothing is saved
    // and the edit is still unsaved.
    const QString data = path(QStringLiteral("site.orvdata"));
    const QByteArray projectBytes = orvtest::readFile(file);
    ASSERT_TRUE(orvtest::writeFile(data, "in the way"));
    EXPECT_NE(saveProjectWithTextures(mm.get(), &error), 0);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(orvtest::readFile(file), projectBytes);
    EXPECT_TRUE(mm->isModified());
    EXPECT_TRUE(mm->workingTexture(0).isEmpty());

    // Out of the way: the texture goes into the data folder, the project refers to it.
    ASSERT_TRUE(QFile::remove(data));
    ASSERT_EQ(saveProjectWithTextures(mm.get(), &error), 0) << error.toStdString();
    EXPECT_FALSE(mm->isModified());
    const QString saved = mm->workingTexture(0);
    EXPECT_TRUE(saved.startsWith(QDir(data).absolutePath() + QLatin1Char('/'))) << saved.toStdString();
    EXPECT_EQ(differingPixels(own, QImage(saved)), 1);
    EXPECT_EQ(orvtest::readFile(ownTexture), ownBytes);

    // Another texel and a kept paint, then Save As: the edit lands in the data folder of the new
    // file, although saving under the new name counts the project as saved before the texture is
    // written, and the kept paint goes along.
    const QByteArray keptLog = "{\"paints\": []}";
    ASSERT_TRUE(orvtest::writeFile(data + QStringLiteral("/paints.json"), keptLog));
    ASSERT_TRUE(QDir().mkpath(data + QStringLiteral("/paints/p1")));
    ASSERT_TRUE(orvtest::writeFile(data + QStringLiteral("/paints/p1/undo.tiles"), "tiles"));
    ASSERT_TRUE(texture->imageGetPixel(was, 1, 0, false));
    ASSERT_TRUE(texture->imageSetPixel(1, 0, int(255 - was[0]) | (int(255 - was[1]) << 8), false));
    ASSERT_EQ(mm->notifyTextureEdited(0), 0);
    const QString other = path(QStringLiteral("copy.orvproj"));
    ASSERT_EQ(saveProjectAsWithTextures(mm.get(), other, &error), 0) << error.toStdString();
    EXPECT_EQ(mm->projectPath(), other);
    EXPECT_FALSE(mm->isModified());
    const QString copied = mm->workingTexture(0);
    EXPECT_TRUE(copied.startsWith(QDir(path(QStringLiteral("copy.orvdata"))).absolutePath() + QLatin1Char('/')))
        << copied.toStdString();
    EXPECT_EQ(differingPixels(own, QImage(copied)), 2);
    EXPECT_EQ(orvtest::readFile(ownTexture), ownBytes);
    EXPECT_EQ(orvtest::readFile(path(QStringLiteral("copy.orvdata/paints.json"))), keptLog);
    EXPECT_EQ(orvtest::readFile(path(QStringLiteral("copy.orvdata/paints/p1/undo.tiles"))), QByteArray("tiles"));
}

TEST_F(HostProject, BackupNamesWhyTheProjectHasNothingToBackUp)
{
    EXPECT_EQ(backupMeshProblem(nullptr), BackupProblem::NoProject);
    EXPECT_EQ(backupMeshProblem(mm.get()), BackupProblem::NoProject);
    ASSERT_EQ(mm->createProject(path(QStringLiteral("site.orvproj"))), 0);
    EXPECT_EQ(backupMeshProblem(mm.get()), BackupProblem::NoMeshes);

    // An awake mesh without a texture, even with its photograph mapped: nothing to paint.
    const PhotoMeshPair a = pair(QStringLiteral("m"), QStringLiteral("a"), false);
    ASSERT_EQ(addPairs(mm.get(), {a}, nullptr).added.size(), 1);
    mm->setImageMapped(0, true);
    EXPECT_EQ(backupMeshProblem(mm.get()), BackupProblem::NoneTextured);

    // A textured mesh just added (its photograph not mapped yet) can be backed up.
    const PhotoMeshPair b = pair(QStringLiteral("m"), QStringLiteral("b"));
    ASSERT_EQ(addPairs(mm.get(), {b}, nullptr).added.size(), 1);
    EXPECT_FALSE(mm->isImageMapped(1));
    EXPECT_EQ(backupMeshProblem(mm.get()), BackupProblem::None);

    // The textured mesh asleep, the plain one awake: nothing to paint until it wakes.
    ref_ptr<IZimMesh> mesh;
    ASSERT_EQ(mm->getMeshAt(mesh, 1), 0);
    ASSERT_EQ(mm->sleepMesh(mesh, nullptr), 0);
    EXPECT_EQ(backupMeshProblem(mm.get()), BackupProblem::AllAsleep);
    ASSERT_EQ(mm->wakeMesh(1, nullptr), 0);
    EXPECT_EQ(backupMeshProblem(mm.get()), BackupProblem::None);

    // Each reason is told as what it is.
    EXPECT_TRUE(backupProblemText(BackupProblem::AllAsleep, QString()).contains(QStringLiteral("asleep")));
    EXPECT_TRUE(backupProblemText(BackupProblem::NoneTextured, QString()).contains(QStringLiteral("texture")));
    EXPECT_TRUE(backupProblemText(BackupProblem::NoMeshes, QString()).contains(QStringLiteral("no meshes")));
    EXPECT_TRUE(backupProblemText(BackupProblem::NoProject, QString()).contains(QStringLiteral("No project")));

    // Without a 3D viewer the run stops there, and writes nothing.
    const QString out = path(QStringLiteral("b.png"));
    const BackupResult r = takeBackup(mm.get(), nullptr, out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.problem, BackupProblem::NoViewer);
    EXPECT_FALSE(QFileInfo::exists(out));
    // The project's problem comes before the file's and the viewer's.
    mm->closeProject();
    EXPECT_EQ(takeBackup(mm.get(), nullptr, path(QStringLiteral("no/such/b.png"))).problem, BackupProblem::NoProject);
}

TEST_F(HostProject, BackupTargetsThatCannotBeWrittenAreFoundFirst)
{
    ASSERT_TRUE(orvtest::writeFile(path(QStringLiteral("afile")), "x"));
    ASSERT_TRUE(orvtest::writeFile(path(QStringLiteral("old.png")), "an older picture"));
    const QStringList before = QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const struct {
        QString path;
        BackupProblem problem;
    } cases[] = {
        {QString(), BackupProblem::NoFileName},
        {QStringLiteral("  "), BackupProblem::NoFileName},
        {tmp.path(), BackupProblem::TargetIsFolder},
        {path(QStringLiteral("missing/b.png")), BackupProblem::FolderMissing},
        {path(QStringLiteral("missing/deeper/b.png")), BackupProblem::FolderMissing},
        // A file where a folder should be stops root as well as anybody.
        {path(QStringLiteral("afile/b.png")), BackupProblem::FolderIsFile},
        {path(QStringLiteral("afile/deeper/b.png")), BackupProblem::FolderIsFile},
        {path(QStringLiteral("b.xyz")), BackupProblem::UnknownFormat},
        {path(QStringLiteral("b.png")), BackupProblem::None},
        {path(QStringLiteral("b.JPG")), BackupProblem::None},
        {path(QStringLiteral("b")), BackupProblem::None},        // written as PNG
        {path(QStringLiteral("old.png")), BackupProblem::None},  // replaced
    };
    for (const auto& k : cases) EXPECT_EQ(backupTargetProblem(k.path), k.problem) << k.path.toStdString();
    // Looking leaves no trace.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(orvtest::readFile(path(QStringLiteral("old.png"))), QByteArray("an older picture"));

    // Permission bits stop everybody but root.
    const QString locked = path(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    if (::geteuid() != 0) {
        EXPECT_EQ(backupTargetProblem(locked + QStringLiteral("/b.png")), BackupProblem::FolderNotWritable);
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // The texts name the file and the folder that is in the way.
    const QString text = backupProblemText(BackupProblem::FolderIsFile, path(QStringLiteral("afile/b.png")));
    EXPECT_TRUE(text.contains(QStringLiteral("afile/b.png"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("is not a folder"))) << text.toStdString();
    EXPECT_TRUE(backupProblemText(BackupProblem::FolderMissing, path(QStringLiteral("missing/b.png")))
                    .contains(QDir::toNativeSeparators(path(QStringLiteral("missing")))));
    EXPECT_TRUE(
        backupProblemText(BackupProblem::UnknownFormat, QStringLiteral("b.xyz")).contains(QStringLiteral("xyz")));
}

TEST(HostTexts, BackupNamesAndCounts)
{
    EXPECT_EQ(suggestedBackupPath(QStringLiteral("/survey/site.orvproj")), QStringLiteral("/survey/site-backup.png"));
    EXPECT_EQ(suggestedBackupPath(QStringLiteral("/survey/site.v2.orvproj")),
              QStringLiteral("/survey/site.v2-backup.png"));
    EXPECT_TRUE(suggestedBackupPath(QString()).endsWith(QStringLiteral("/backup.png")));
    EXPECT_EQ(backupFormat(QStringLiteral("x.JPEG")), QByteArray("jpeg"));
    EXPECT_EQ(backupFormat(QStringLiteral("x")), QByteArray("png"));
    EXPECT_TRUE(backupFormat(QStringLiteral("x.xyz")).isEmpty());

    // Triangles of meshes 3, 3 and 7 (and a null record): two meshes.
    auto record = [](long mesh) {
        const XPnt3f w(0, 0, 0);
        const XPnt3d s(0, 0, 0);
        const XPnt2f t(0, 0);
        return zim::newTqTriangleIndex(0, 1, 2, w, w, w, s, s, s, t, t, t, mesh);
    };
    const QVector<ref_ptr<TqTriangleIndex>> triangles = {record(3), record(7), ref_ptr<TqTriangleIndex>(), record(3)};
    EXPECT_EQ(backupMeshCount(triangles), 2);
    BackupResult r;
    r.ok = true;
    r.triangles = 3;
    r.meshes = 2;
    EXPECT_EQ(backupDoneText(r, QStringLiteral("/out/b.png")),
              QStringLiteral("Backup of 3 visible triangles in 2 meshes written to /out/b.png"));
}

TEST(HostTexts, FileListsAreCut)
{
    QStringList files;
    for (int i = 0; i < 20; ++i) files << QStringLiteral("/d/f%1.jpg").arg(i);
    const QStringList lines = fileList(files, 15).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 16);
    EXPECT_EQ(lines[14], QStringLiteral("/d/f14.jpg"));
    EXPECT_TRUE(lines[15].contains(QStringLiteral("5 more")));
    EXPECT_EQ(fileList(files.mid(0, 2), 15).split(QLatin1Char('\n')).size(), 2);
}

}  // namespace
