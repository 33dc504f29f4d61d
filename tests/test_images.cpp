// The image tree: its stored form through a real project file, the damaged-data fallback, the
// folder commands and the image lists.
#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QtEndian>
#include <cstring>
#include <memory>

#include "CImageThumbViewer.h"
#include "COrvImageTree.h"
#include "IOrvMainFrame.h"
#include "ImageTreeBlob.h"
#include "OrvUIElements64t.h"
#include "test_images_support.h"

using namespace orvUI;
using imgtest::catchWarnings;

namespace {

const QString kGroup = QStringLiteral("OrvTQImageTree");
const char* const kKeys[] = {"OrvTQImageTreeFolderHead", "OrvTQImageTreeFolder", "OrvTQImageTreeFileHead",
                             "OrvTQImageTreeFile"};

QByteArray readStored(const char* key)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    int size = -1;
    mm->readProjectData(kGroup, key, nullptr, 0, &size);
    if (size < 0) return QByteArray();
    QByteArray out(size, '\0');
    if (size > 0) mm->readProjectData(kGroup, key, out.data(), size, nullptr);
    return out;
}

QList<QByteArray> storedBlobs()
{
    QList<QByteArray> out;
    for (const char* k : kKeys) out.append(readStored(k));
    return out;
}

void storeBlobs(const QByteArray& fh, const QByteArray& f, const QByteArray& nh, const QByteArray& n)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    const QByteArray* blobs[] = {&fh, &f, &nh, &n};
    for (int i = 0; i < 4; ++i) mm->writeProjectData(kGroup, kKeys[i], blobs[i]->constData(), blobs[i]->size());
}

// Selects the folder and runs a command of the tree.
void onFolder(COrvImageTree& tree, int folderId, void (COrvImageTree::*command)())
{
    tree.clearSelection();
    tree.folderItem(folderId)->setSelected(true);
    (tree.*command)();
}

int addFolder(COrvImageTree& tree, int parentId, const QString& name)
{
    onFolder(tree, parentId, &COrvImageTree::slotAddChildAction);
    const int id = tree.getSelectedFolderId();
    tree.folderItem(id)->setText(0, name);
    return id;
}

QStringList childNames(QTreeWidgetItem* item)
{
    QStringList out;
    for (int i = 0; i < item->childCount(); ++i) out.append(item->child(i)->text(0));
    return out;
}

ref_ptr<LongArray> ids(std::initializer_list<long> values)
{
    ref_ptr<LongArray> a = zim::newLongArray();
    for (long v : values) a->append(v);
    return a;
}

class ImageTree : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(project.make(5)); }
    void TearDown() override { zim::getMM()->closeProject(); }
    imgtest::SampleProject project;
};

TEST_F(ImageTree, DefaultTreeAndItsBlobsInTheStoredLayout)
{
    COrvImageTree tree(nullptr);
    tree.loadTree();
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree.topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("Root"));
    EXPECT_EQ(root->type(), 0);
    ASSERT_EQ(root->childCount(), 1);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("Default"));
    EXPECT_EQ(tree.getSelectedFolderId(), 1);
    EXPECT_EQ(tree.imageFolders().size(), 5);
    for (int v : tree.imageFolders()) EXPECT_EQ(v, 1);
    // Loading writes nothing.
    EXPECT_TRUE(readStored(kKeys[0]).isNull());

    ASSERT_EQ(tree.saveTree(), 0);
    const QList<QByteArray> b = storedBlobs();
    ASSERT_EQ(b[0].size(), 4);
    EXPECT_EQ(qFromLittleEndian<qint32>(b[0].constData()), 2);
    ASSERT_EQ(b[1].size(), 2 * 272);
    const char* r0 = b[1].constData();
    const char* r1 = r0 + 272;
    EXPECT_EQ(qFromLittleEndian<qint32>(r0), 0);
    EXPECT_EQ(qFromLittleEndian<qint32>(r0 + 4), -1);
    EXPECT_EQ(qFromLittleEndian<qint32>(r0 + 8), 0);
    EXPECT_EQ(r0[12], 1);  // expanded
    EXPECT_EQ(r0[13], 0);
    EXPECT_STREQ(r0 + 14, "Root");
    EXPECT_EQ(qFromLittleEndian<qint32>(r1), 1);
    EXPECT_EQ(qFromLittleEndian<qint32>(r1 + 4), 0);
    EXPECT_EQ(qFromLittleEndian<qint32>(r1 + 8), 1);
    EXPECT_EQ(r1[13], 1);  // selected
    EXPECT_STREQ(r1 + 14, "Default");
    EXPECT_EQ(qFromLittleEndian<qint32>(b[2].constData()), 5);
    ASSERT_EQ(b[3].size(), 5 * 8);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(qFromLittleEndian<qint32>(b[3].constData() + 8 * i), i);
        EXPECT_EQ(qFromLittleEndian<qint32>(b[3].constData() + 8 * i + 4), 1);
    }
}

TEST_F(ImageTree, EditedTreeSurvivesTheProjectFileByteForByte)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    const QString longName = QString(300, QLatin1Char('n'));
    {
        COrvImageTree tree(nullptr);
        tree.loadTree();
        const int a = addFolder(tree, 0, QStringLiteral("A"));
        const int b = addFolder(tree, 0, QStringLiteral("B"));
        const int c = addFolder(tree, a, QStringLiteral("C"));
        const int d = addFolder(tree, a, longName);
        addFolder(tree, b, QStringLiteral("E"));
        EXPECT_EQ(a, 2);
        EXPECT_EQ(d, 5);
        onFolder(tree, b, &COrvImageTree::slotTopAction);  // Root: B, Default, A
        onFolder(tree, d, &COrvImageTree::slotUpAction);   // A: long, C
        tree.folderItem(b)->setExpanded(false);
        ASSERT_TRUE(tree.moveImagesToFolder(ids({1, 3}), c));
        ASSERT_TRUE(tree.moveImagesToFolder(ids({4}), b));
        onFolder(tree, c, &COrvImageTree::slotItemSelectionChanged);
        tree.clearSelection();
        tree.folderItem(c)->setSelected(true);
        ASSERT_EQ(tree.saveTree(), 0);
    }
    const QList<QByteArray> saved = storedBlobs();
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(project.path, nullptr), 0);
    ASSERT_EQ(storedBlobs(), saved);

    COrvImageTree tree(nullptr);
    tree.loadTree();
    QTreeWidgetItem* root = tree.rootItem();
    ASSERT_TRUE(root);
    EXPECT_EQ(childNames(root), (QStringList{"B", "Default", "A"}));
    const QString cut(256, QLatin1Char('n'));
    EXPECT_EQ(childNames(tree.folderItem(2)), (QStringList{cut, "C"}));
    EXPECT_EQ(childNames(tree.folderItem(3)), QStringList{"E"});
    EXPECT_FALSE(tree.folderItem(3)->isExpanded());
    EXPECT_TRUE(tree.folderItem(2)->isExpanded());
    EXPECT_EQ(tree.getSelectedFolderId(), 4);
    const QMap<int, int> expected{{0, 1}, {1, 4}, {2, 1}, {3, 4}, {4, 3}};
    EXPECT_EQ(tree.imageFolders(), expected);
    // Saving what was read gives the same bytes again.
    mm->writeProjectData(kGroup, kKeys[1], "", 0);
    ASSERT_EQ(tree.saveTree(), 0);
    EXPECT_EQ(storedBlobs(), saved);
}

// Every damaged form falls back to the default tree with a warning and leaves the stored bytes
// alone until the user changes the tree.
TEST_F(ImageTree, DamagedStoredTreeFallsBackAndIsKept)
{
    ImageTreeFolderRecord root{0, -1, 0, true, false, "Root"};
    ImageTreeFolderRecord def{1, 0, 1, false, true, "Default"};
    ImageTreeFolderRecord child{2, 1, 1, false, false, "Child"};
    const QByteArray good = ImageTreeBlob::encodeFolders({root, def, child});
    const QByteArray files = ImageTreeBlob::encodeFiles({{0, 1}, {1, 2}});
    auto head = [](int n) { return ImageTreeBlob::encodeHead(n); };
    ImageTreeFolderRecord orphan = child;
    orphan.parentId = 7;
    ImageTreeFolderRecord forward = def;
    forward.parentId = 2;
    ImageTreeFolderRecord dup = child;
    dup.id = 1;
    ImageTreeFolderRecord secondRoot = child;
    secondRoot.parentId = -1;
    secondRoot.type = 0;
    ImageTreeFolderRecord badType = child;
    badType.type = 5;
    QByteArray noNul = good;
    std::memset(noNul.data() + 2 * 272 + 14, 'x', 258);  // name runs into the padding
    struct Case {
        const char* what;
        QByteArray fh, f, nh, n;
    };
    const Case cases[] = {
        {"short head", QByteArray(3, '\1'), good, head(2), files},
        {"long head", QByteArray(5, '\0'), good, head(2), files},
        {"negative folder count", head(-3), good, head(2), files},
        {"huge folder count", head(0x7fffffff), good, head(2), files},
        {"huge file count", head(3), good, head(0x40000000), files},
        {"zero folders", head(0), QByteArray(), head(2), files},
        {"count above data", head(4), good, head(2), files},
        {"count below data", head(2), good, head(2), files},
        {"truncated record", head(3), good.left(700), head(2), files},
        {"truncated entries", head(3), good, head(2), files.left(12)},
        {"missing folder blob", head(3), QByteArray(), head(2), files},
        {"unknown parent", head(3), ImageTreeBlob::encodeFolders({root, def, orphan}), head(2), files},
        {"parent after child", head(3), ImageTreeBlob::encodeFolders({root, forward, child}), head(2), files},
        {"duplicate id", head(3), ImageTreeBlob::encodeFolders({root, def, dup}), head(2), files},
        {"second root", head(3), ImageTreeBlob::encodeFolders({root, def, secondRoot}), head(2), files},
        {"unknown type", head(3), ImageTreeBlob::encodeFolders({root, def, badType}), head(2), files},
        {"root not first", head(2), ImageTreeBlob::encodeFolders({def, root}), head(2), files},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storeBlobs(c.fh, c.f, c.nh, c.n);
        const QList<QByteArray> before = storedBlobs();
        COrvImageTree tree(nullptr);
        tree.loadTree();
        ASSERT_TRUE(tree.rootItem());
        EXPECT_EQ(childNames(tree.rootItem()), QStringList{"Default"});
        EXPECT_TRUE(tree.keepsStoredTree());
        EXPECT_EQ(tree.saveTree(), 0);
        EXPECT_EQ(storedBlobs(), before);
        // A change of the user's replaces the damaged data.
        addFolder(tree, 1, QStringLiteral("Mine"));
        EXPECT_FALSE(tree.keepsStoredTree());
        ASSERT_EQ(tree.saveTree(), 0);
        EXPECT_EQ(qFromLittleEndian<qint32>(readStored(kKeys[0]).constData()), 3);
    }
    // A name filling its whole field is no damage: it reads back as 256 bytes.
    storeBlobs(head(3), noNul, head(2), files);
    COrvImageTree tree(nullptr);
    tree.loadTree();
    EXPECT_FALSE(tree.keepsStoredTree());
    ASSERT_TRUE(tree.folderItem(2));
    EXPECT_EQ(tree.folderItem(2)->text(0), QString(256, QLatin1Char('x')));
}

// A chain of folders below the root, each the child of the one before.
QVector<ImageTreeFolderRecord> folderChain(int depth)
{
    QVector<ImageTreeFolderRecord> out{{0, -1, 0, true, false, "Root"}};
    for (int i = 1; i <= depth; ++i) out.append({i, i - 1, 1, true, false, QByteArray("F") + QByteArray::number(i)});
    return out;
}

TEST(ImageTreeBlobBounds, DepthAndFolderCountAreBounded)
{
    ImageTreeData data;
    QString why;
    const QByteArray noFiles;
    // 256 folders below the root is the deepest tree read; one more is damage.
    QVector<ImageTreeFolderRecord> chain = folderChain(ImageTreeBlob::kMaxDepth);
    EXPECT_TRUE(ImageTreeBlob::decodeTree(chain.size(), ImageTreeBlob::encodeFolders(chain), 0, noFiles, &data, &why))
        << why.toStdString();
    chain = folderChain(ImageTreeBlob::kMaxDepth + 1);
    EXPECT_FALSE(ImageTreeBlob::decodeTree(chain.size(), ImageTreeBlob::encodeFolders(chain), 0, noFiles, &data, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("deeper than 256"))) << why.toStdString();
    EXPECT_TRUE(data.folders.isEmpty());
    // A deep branch after shallow siblings is found as well.
    QVector<ImageTreeFolderRecord> mixed = folderChain(3);
    const int base = mixed.size();
    for (int i = 0; i < 300; ++i) mixed.append({base + i, i == 0 ? 0 : base + i - 1, 1, false, false, "D"});
    EXPECT_FALSE(ImageTreeBlob::decodeTree(mixed.size(), ImageTreeBlob::encodeFolders(mixed), 0, noFiles, &data, &why));

    // 100,000 folders (all beside each other) are read; 100,001 are not.
    QVector<ImageTreeFolderRecord> flat{{0, -1, 0, true, false, "Root"}};
    for (int i = 1; i < 100000; ++i) flat.append({i, 0, 1, false, false, "f"});
    QByteArray blob = ImageTreeBlob::encodeFolders(flat);
    EXPECT_TRUE(ImageTreeBlob::decodeTree(flat.size(), blob, 0, noFiles, &data, &why)) << why.toStdString();
    EXPECT_EQ(data.folders.size(), 100000);
    flat.append({100000, 0, 1, false, false, "f"});
    blob = ImageTreeBlob::encodeFolders(flat);
    EXPECT_FALSE(ImageTreeBlob::decodeTree(flat.size(), blob, 0, noFiles, &data, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("out of range"))) << why.toStdString();
}

TEST(ImageTreeBlobBounds, AnEntryNamingNoFolderGoesToDefault)
{
    ImageTreeData data;
    QString why;
    const QVector<ImageTreeFolderRecord> folders{
        {0, -1, 0, true, false, "Root"}, {1, 0, 1, false, true, "Default"}, {2, 0, 1, false, false, "Mine"}};
    const QByteArray files = ImageTreeBlob::encodeFiles({{0, 2}, {1, 9}, {2, -4}, {3, 0}});
    ASSERT_TRUE(ImageTreeBlob::decodeTree(3, ImageTreeBlob::encodeFolders(folders), 4, files, &data, &why))
        << why.toStdString();
    const QMap<int, int> expected{{0, 2}, {1, 1}, {2, 1}, {3, 0}};
    EXPECT_EQ(data.imageFolders, expected);
    // Without a folder 1 the root takes them.
    const QVector<ImageTreeFolderRecord> noDefault{{5, -1, 0, true, false, "Root"}, {2, 5, 1, false, false, "Mine"}};
    ASSERT_TRUE(ImageTreeBlob::decodeTree(2, ImageTreeBlob::encodeFolders(noDefault), 4, files, &data, &why));
    const QMap<int, int> toRoot{{0, 2}, {1, 5}, {2, 5}, {3, 5}};
    EXPECT_EQ(data.imageFolders, toRoot);
}

TEST_F(ImageTree, ATreeTooDeepFallsBackAndUnknownFoldersMeanDefault)
{
    const QVector<ImageTreeFolderRecord> chain = folderChain(2000);
    storeBlobs(ImageTreeBlob::encodeHead(chain.size()), ImageTreeBlob::encodeFolders(chain),
               ImageTreeBlob::encodeHead(0), QByteArray());
    {
        COrvImageTree tree(nullptr);
        tree.loadTree();
        ASSERT_TRUE(tree.rootItem());
        EXPECT_EQ(childNames(tree.rootItem()), QStringList{"Default"});
        EXPECT_TRUE(tree.keepsStoredTree());
    }
    const QVector<ImageTreeFolderRecord> folders{
        {0, -1, 0, true, false, "Root"}, {1, 0, 1, false, false, "Default"}, {2, 0, 1, false, true, "Mine"}};
    storeBlobs(ImageTreeBlob::encodeHead(3), ImageTreeBlob::encodeFolders(folders), ImageTreeBlob::encodeHead(2),
               ImageTreeBlob::encodeFiles({{0, 2}, {1, 77}}));
    COrvImageTree tree(nullptr);
    tree.loadTree();
    EXPECT_FALSE(tree.keepsStoredTree());
    ASSERT_EQ(tree.selectImageFolder(1), 0);
    EXPECT_EQ(tree.getSelectedFolderId(), 1);
    ASSERT_EQ(tree.selectImageFolder(0), 0);
    EXPECT_EQ(tree.getSelectedFolderId(), 2);
}

TEST(ImageTreeBlobFuzz, RandomAndTruncatedBlobsNeverBreakTheDecoder)
{
    QRandomGenerator rng(1234);
    QVector<ImageTreeFolderRecord> folders{{0, -1, 0, true, false, "Root"}, {1, 0, 1, false, true, "Default"}};
    for (int i = 2; i < 12; ++i)
        folders.append({i, int(rng.bounded(i)), 1, bool(i % 2), false, QByteArray("F") + QByteArray::number(i)});
    const QByteArray good = ImageTreeBlob::encodeFolders(folders);
    const QByteArray files = ImageTreeBlob::encodeFiles({{0, 1}, {3, 4}, {9, 11}});
    ImageTreeData data;
    QString why;
    ASSERT_TRUE(ImageTreeBlob::decodeTree(12, good, 3, files, &data, &why)) << why.toStdString();
    EXPECT_EQ(data.folders, folders);
    for (int cut = 0; cut < good.size(); cut += 17)
        EXPECT_FALSE(ImageTreeBlob::decodeTree(12, good.left(cut), 3, files, &data, &why));
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray f = good;
        const int flips = 1 + int(rng.bounded(8));
        for (int k = 0; k < flips; ++k) f[int(rng.bounded(f.size()))] = char(rng.bounded(256));
        QByteArray n(int(rng.bounded(40)), '\0');
        for (char& ch : n) ch = char(rng.bounded(256));
        const int fc = round % 3 == 0 ? int(rng.generate()) : 12;
        const int nc = round % 5 == 0 ? int(rng.generate()) : n.size() / 8;
        if (ImageTreeBlob::decodeTree(fc, f, nc, n, &data, &why)) {
            ++accepted;
            // What is accepted is a sound tree: one root first, parents before children.
            ASSERT_EQ(data.folders.first().type, 0);
            QSet<int> seen;
            for (const ImageTreeFolderRecord& r : data.folders) {
                EXPECT_TRUE(r.parentId < 0 ? seen.isEmpty() : seen.contains(r.parentId));
                EXPECT_FALSE(seen.contains(r.id));
                EXPECT_LE(r.name.size(), 256);
                seen.insert(r.id);
            }
        }
    }
    EXPECT_GT(accepted, 0);  // flips inside names and flags keep the tree usable
}

TEST_F(ImageTree, FuzzedProjectBlobsLoadWithoutHarm)
{
    QRandomGenerator rng(99);
    const QByteArray good = ImageTreeBlob::encodeFolders(
        {{0, -1, 0, true, false, "Root"}, {1, 0, 1, false, true, "Default"}, {2, 1, 1, true, false, "X"}});
    for (int round = 0; round < 60; ++round) {
        QByteArray f = good.left(int(rng.bounded(good.size() + 1)));
        for (int k = 0; k < 4 && !f.isEmpty(); ++k) f[int(rng.bounded(f.size()))] = char(rng.bounded(256));
        QByteArray fh(int(rng.bounded(6)), '\0');
        for (char& ch : fh) ch = char(rng.bounded(256));
        if (round % 2) fh = ImageTreeBlob::encodeHead(3);
        QByteArray n(int(rng.bounded(30)), '\0');
        for (char& ch : n) ch = char(rng.bounded(256));
        storeBlobs(fh, f, ImageTreeBlob::encodeHead(n.size() / 8), n);
        COrvImageTree tree(nullptr);
        tree.loadTree();
        ASSERT_TRUE(tree.rootItem());
        EXPECT_EQ(tree.topLevelItemCount(), 1);
        tree.updateImageLists();
    }
}

TEST_F(ImageTree, ReorderAndRemoveRules)
{
    COrvImageTree tree(nullptr);
    tree.loadTree();
    const int a = addFolder(tree, 0, QStringLiteral("A"));
    const int b = addFolder(tree, 0, QStringLiteral("B"));
    const int c = addFolder(tree, a, QStringLiteral("C"));
    QTreeWidgetItem* root = tree.rootItem();
    const QStringList start{"Default", "A", "B"};
    onFolder(tree, 1, &COrvImageTree::slotUpAction);
    onFolder(tree, 1, &COrvImageTree::slotTopAction);
    onFolder(tree, b, &COrvImageTree::slotDownAction);
    onFolder(tree, b, &COrvImageTree::slotBottomAction);
    for (auto cmd : {&COrvImageTree::slotUpAction, &COrvImageTree::slotDownAction, &COrvImageTree::slotTopAction,
                     &COrvImageTree::slotBottomAction})
        onFolder(tree, 0, cmd);
    EXPECT_EQ(childNames(root), start);
    EXPECT_EQ(tree.topLevelItem(0), root);
    onFolder(tree, 1, &COrvImageTree::slotBottomAction);
    EXPECT_EQ(childNames(root), (QStringList{"A", "B", "Default"}));
    EXPECT_EQ(tree.getSelectedFolderId(), 1);
    onFolder(tree, 1, &COrvImageTree::slotUpAction);
    EXPECT_EQ(childNames(root), (QStringList{"A", "Default", "B"}));

    // Folder drops: onto a later sibling after it, onto an earlier one before it, elsewhere nothing.
    EXPECT_TRUE(tree.moveFolderOnto(tree.folderItem(a), tree.folderItem(b)));
    EXPECT_EQ(childNames(root), (QStringList{"Default", "B", "A"}));
    EXPECT_TRUE(tree.moveFolderOnto(tree.folderItem(a), tree.folderItem(1)));
    EXPECT_EQ(childNames(root), (QStringList{"A", "Default", "B"}));
    EXPECT_FALSE(tree.moveFolderOnto(tree.folderItem(b), tree.folderItem(c)));
    EXPECT_EQ(childNames(root), (QStringList{"A", "Default", "B"}));
    EXPECT_EQ(childNames(tree.folderItem(a)), QStringList{"C"});

    QStringList w = catchWarnings([&] { onFolder(tree, 0, &COrvImageTree::slotRemoveAction); });
    EXPECT_EQ(w, QStringList{"Cannot remove root folder!"});
    w = catchWarnings([&] { onFolder(tree, 1, &COrvImageTree::slotRemoveAction); });
    EXPECT_EQ(w, QStringList{"There are images in the folder, you can't remove this folder!"});
    EXPECT_TRUE(tree.folderItem(1));
    // A holds images only in its sub-folder C: with images of sub-folders shown it is not empty.
    ASSERT_TRUE(tree.moveImagesToFolder(ids({2}), c));
    w = catchWarnings([&] { onFolder(tree, a, &COrvImageTree::slotRemoveAction); });
    EXPECT_EQ(w.size(), 1);
    ASSERT_TRUE(tree.moveImagesToFolder(ids({2}), 1));
    w = catchWarnings([&] { onFolder(tree, a, &COrvImageTree::slotRemoveAction); });
    EXPECT_TRUE(w.isEmpty());
    EXPECT_FALSE(tree.folderItem(a));
    EXPECT_FALSE(tree.folderItem(c));
    EXPECT_EQ(tree.getFolderId(tree.folderItem(b)), b);
    EXPECT_EQ(childNames(root), (QStringList{"Default", "B"}));
    // A new folder takes the largest id + 1, not a freed one.
    EXPECT_EQ(addFolder(tree, b, QStringLiteral("N")), b + 1);

    tree.clearSelection();
    w = catchWarnings([&] { tree.slotUpAction(); });
    EXPECT_EQ(w, QStringList{"Please select a folder!"});
    w = catchWarnings([&] { EXPECT_FALSE(tree.moveImagesToFolder(ids({0}), 77)); });
    EXPECT_EQ(w, QStringList{"Please select a folder!"});
}

TEST_F(ImageTree, ImageListsFollowSelectionAndShowImagesInChild)
{
    ref_ptr<IZimMM> mm = zim::getMM();
    mm->setImageMapped(0, true);
    mm->setImageMapped(3, true);
    COrvImageTree tree(nullptr);
    tree.loadTree();
    const int sub = addFolder(tree, 1, QStringLiteral("Sub"));
    ASSERT_TRUE(tree.moveImagesToFolder(ids({3, 4}), sub));
    tree.clearSelection();
    tree.folderItem(1)->setSelected(true);
    const ImageLists* l = tree.getImageLists();
    EXPECT_EQ(l->all, (QList<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(l->mapped, (QList<int>{0, 3}));
    EXPECT_EQ(l->unmapped, (QList<int>{1, 2, 4}));
    tree.setShowImagesInChild(false);
    EXPECT_EQ(l->all, (QList<int>{0, 1, 2}));
    EXPECT_EQ(l->mapped, QList<int>{0});
    tree.folderItem(0)->setSelected(true);  // Root and Default
    EXPECT_EQ(l->all, (QList<int>{0, 1, 2}));
    tree.setShowImagesInChild(true);
    EXPECT_EQ(l->all, (QList<int>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4}));

    // An image added later belongs to Default from the next update on; a removed entry too.
    const int added = mm->addImage(project.photos[0], project.meshes[0], QString());
    EXPECT_EQ(added, -1);  // already in the project
    tree.removeImage(4);
    tree.clearSelection();
    tree.folderItem(sub)->setSelected(true);
    EXPECT_EQ(l->all, QList<int>{3});
    EXPECT_EQ(tree.imageFolders().value(4), 1);
    tree.selectImageFolder(3);
    EXPECT_EQ(tree.getSelectedFolderId(), sub);
}

// The free-standing tree the viewer manager makes: its lists are right from the load on, a
// folder that holds images (itself or below) is never removed, and once it is gone the
// thumbnail viewer shows its own tree's lists again.
TEST_F(ImageTree, ATreeFromTheManagerKnowsItsImagesAndLeavesNoListsBehind)
{
    IOrvMainFrame* frame = getVM()->getMainFrame();
    ASSERT_TRUE(frame);
    frame->createThumbViewer(255);
    auto* thumbs = dynamic_cast<CImageThumbViewer*>(getVM()->getThumbViewer());
    ASSERT_TRUE(thumbs);
    thumbs->resize(300, 800);
    ASSERT_EQ(thumbs->loadThumbnails(ids({0, 1, 2, 3, 4}), nullptr), 0);
    IOrvImageTree* own = thumbs->getImageTree();
    own->loadTree();
    own->updateImageLists();
    const std::string everything = "Total:5 Mapping:0 UnMapping:5";
    EXPECT_EQ(thumbs->countText().toStdString(), everything);

    std::unique_ptr<COrvImageTree> tree(dynamic_cast<COrvImageTree*>(getVM()->createImageTree()));
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->getSelectedFolderId(), 1);
    EXPECT_EQ(tree->getImageLists()->all, (QList<int>{0, 1, 2, 3, 4}));
    QStringList w = catchWarnings([&] { tree->slotRemoveAction(); });
    EXPECT_EQ(w, QStringList{"There are images in the folder, you can't remove this folder!"});
    ASSERT_TRUE(tree->folderItem(1));
    EXPECT_EQ(tree->imageFolders().size(), 5);

    // A holds an image only in its sub-folder C; with sub-folders' images not shown, A's own
    // list is empty, yet A stays.
    const int a = addFolder(*tree, 0, QStringLiteral("A"));
    const int c = addFolder(*tree, a, QStringLiteral("C"));
    ASSERT_TRUE(tree->moveImagesToFolder(ids({2}), c));
    EXPECT_EQ(thumbs->countText().toStdString(), "Total:1 Mapping:0 UnMapping:1");
    tree->setShowImagesInChild(false);
    tree->clearSelection();
    tree->folderItem(a)->setSelected(true);
    EXPECT_TRUE(tree->getImageLists()->all.isEmpty());
    w = catchWarnings([&] { tree->slotRemoveAction(); });
    EXPECT_EQ(w, QStringList{"There are images in the folder, you can't remove this folder!"});
    EXPECT_TRUE(tree->folderItem(a) && tree->folderItem(c));
    EXPECT_EQ(tree->imageFolders().value(2), c);
    EXPECT_EQ(thumbs->countText().toStdString(), "Total:0 Mapping:0 UnMapping:0");

    tree.reset();
    EXPECT_EQ(thumbs->countText().toStdString(), everything);
    EXPECT_EQ(thumbs->shownImageLists()->all, own->getImageLists()->all);
    thumbs->buildLeadingGroup(true);
    thumbs->clearThumbnails();
}

TEST(ImageTreeNoProject, CommandsAskForAProject)
{
    zim::getMM()->closeProject();
    COrvImageTree tree(nullptr);
    EXPECT_EQ(tree.loadTree(), -1);
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    EXPECT_EQ(tree.saveTree(), -1);
    const QStringList w = catchWarnings([&] { tree.slotAddChildAction(); });
    EXPECT_EQ(w, QStringList{"Please new or open a project!"});
}

}  // namespace
