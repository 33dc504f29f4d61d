// Kernel project model: the project file (round trip, relative paths, failed saves, refused
// files), blobs, meshes (sleep and wake, the mesh lists, names), the image store (reduced level
// and its disk cache, transparency, missing files) and the sample tool's project.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <ostream>

#include "OrvKernel64t.h"
#include "TestSupport.h"

inline std::ostream& operator<<(std::ostream& os, const QString& s) { return os << s.toStdString(); }
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Records the progress protocol: T(ext), S(tep) outside sub-ranges, P(ush), O (pop).
class RecordingProgress : public IZimProgress {
public:
    int progressPush(double f) override { return note(QStringLiteral("P%1 ").arg(f), 1); }
    int progressPop() override { return note(QStringLiteral("O "), -1); }
    int progressText(QString) override { return note(QStringLiteral("T "), 0); }
    int progressStep(double f) override { return note(depth == 0 ? QStringLiteral("S%1 ").arg(f) : QString(), 0); }
    int progressYield() override { return 0; }
    int progressSetCancelable(bool, ref_ptr<ZimReferenced>) override { return 0; }
    bool progressCanceled() override { return false; }
    int note(const QString& s, int push)
    {
        log += s;
        depth += push;
        return 0;
    }
    QString log;
    int depth = 0;
};

class Kernel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + QStringLiteral("/work");
        QDir().mkpath(root);
        mm = zim::getMM();
    }
    void TearDown() override
    {
        mm->closeProject();
        qunsetenv("ORV_KERNEL_SAVE_FAULT");
    }

    QString path(const QString& rel) const { return root + QLatin1Char('/') + rel; }

    // A photo with a gradient (so JPEG has real content), any size, by suffix.
    QString photo(const QString& rel, int w, int h, QColor tint = Qt::darkGreen)
    {
        QImage img(w, h, QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, w, h);
        g.setColorAt(0, tint);
        g.setColorAt(1, Qt::white);
        p.fillRect(img.rect(), g);
        p.end();
        QDir().mkpath(QFileInfo(path(rel)).absolutePath());
        EXPECT_TRUE(img.save(path(rel)));
        return path(rel);
    }

    // A two-triangle quad OBJ with a material and a texture; `texture` is saved as the map_Kd.
    // Without `textured` the material has a colour only.
    QString mesh(const QString& rel, const QImage& texture = QImage(), const QString& mapD = QString(),
                 bool textured = true)
    {
        const QFileInfo info(path(rel));
        QDir().mkpath(info.absolutePath());
        const QString base = info.completeBaseName();
        QImage tex = texture.isNull() ? QImage(8, 4, QImage::Format_RGB32) : texture;
        if (texture.isNull()) tex.fill(Qt::red);
        if (textured) {
            EXPECT_TRUE(tex.save(info.absolutePath() + QStringLiteral("/%1_tex.png").arg(base)));
        }
        QString mtl = textured ? QStringLiteral("newmtl m\nKd 1 1 1\nmap_Kd %1_tex.png\n").arg(base)
                               : QStringLiteral("newmtl m\nKd 1 1 1\n");
        if (!mapD.isEmpty()) mtl += QStringLiteral("map_d %1\n").arg(mapD);
        EXPECT_TRUE(orvtest::writeFile(info.absolutePath() + QStringLiteral("/%1.mtl").arg(base), mtl.toUtf8()));
        const QString obj = QStringLiteral(
                                "mtllib %1.mtl\no %1_object\nv 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 -0.5\n"
                                "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl m\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n")
                                .arg(base);
        EXPECT_TRUE(orvtest::writeFile(path(rel), obj.toUtf8()));
        return path(rel);
    }

    // A project of n images (photo_i.jpg, mesh_i.obj) at work/p.orvproj.
    QString makeProject(int n)
    {
        const QString file = path(QStringLiteral("p.orvproj"));
        EXPECT_EQ(mm->createProject(file), 0) << mm->lastError();
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(mm->addImage(photo(QStringLiteral("photos/photo_%1.jpg").arg(i), 320, 200),
                                   mesh(QStringLiteral("meshes/mesh_%1.obj").arg(i)), QString()),
                      i)
                << mm->lastError();
        return file;
    }

    ref_ptr<IZimImageStore> store()
    {
        ref_ptr<IZimTqState> state;
        ref_ptr<IZimImageStore> s;
        if (mm->getState(state) == 0) state->getImageStore(s);
        return s;
    }
    ref_ptr<IZimMesh> meshAt(int i)
    {
        ref_ptr<IZimMesh> m;
        mm->getMeshAt(m, i);
        return m;
    }
    static QVector<const IZimMesh*> list(const ref_ptr<MeshArray>& a)
    {
        QVector<const IZimMesh*> out;
        for (int i = 0; a && i < a->meshCount(); ++i) out << a->meshAt(i).get();
        return out;
    }

    QTemporaryDir tmp;
    QString root;
    ref_ptr<IZimMM> mm;
};

MarkRecord mark(double u, double v, double x, double y, double z, int id)
{
    MarkRecord r;
    r.uv = {u, v};
    r.point = {x, y, z};
    r.id = id;
    r.uv2 = {v, u};
    return r;
}

TEST_F(Kernel, ProjectRoundTripSurvivesMovingTheFolder)
{
    const QString file = makeProject(3);
    ref_ptr<MarkArray> control(new MarkArray()), selected(new MarkArray());
    control->append(mark(0.25, 0.5, 1, 2, 3, 7));
    control->append(MarkRecord());  // invalid point and default id stay as they are
    selected->append(mark(0.75, 0.125, -1, -2, -3, 9));
    ASSERT_EQ(mm->setImageMarks(1, ZimMarkControl, control), 0);
    ASSERT_EQ(mm->setImageMarks(1, ZimMarkSelected, selected), 0);
    ASSERT_EQ(mm->setImageMarks(1, 4, control), -1);
    mm->setImageMapped(0, true);
    mm->setImageMapped(2, true);
    ASSERT_EQ(mm->setMeshTextureVisible(meshAt(0), false), 1);
    ASSERT_EQ(mm->sleepMesh(meshAt(2), nullptr), 0);
    ASSERT_EQ(mm->reorderImage(2, 2, 0), 0);  // order 2 0 1
    ref_ptr<IntArray> members = zim::newIntArray();
    members->append(1);
    members->append(0);
    members->append(1);
    ASSERT_EQ(mm->setGroup(QStringLiteral("roofs"), members), 0);
    ASSERT_EQ(mm->setGroup(QStringLiteral("DEFAULT"), members), -1);
    ref_ptr<Pnt2dArray> screen = zim::newPnt2dArray();
    screen->append({10, 20});
    screen->append({30.5, 40});
    mm->setScreenPath(screen);
    mm->setMode(ZimModeMapping);
    const QByteArray blob("tree\0data", 9);
    ASSERT_EQ(mm->writeProjectData(QStringLiteral("G"), QStringLiteral("K"), blob.constData(), blob.size()), 0);
    ASSERT_TRUE(mm->isModified());
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError();
    EXPECT_FALSE(mm->isModified());
    mm->closeProject();

    const QString moved = tmp.path() + QStringLiteral("/moved");
    ASSERT_TRUE(QDir().rename(root, moved));
    ASSERT_EQ(mm->openProject(moved + QStringLiteral("/p.orvproj"), nullptr), 0) << mm->lastError();
    QStringList missing;
    EXPECT_EQ(mm->getMissingFiles(missing), 0) << missing.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(mm->imageCount(), 3);
    EXPECT_FALSE(mm->isModified());
    ref_ptr<IZimImageEntry> e;
    ASSERT_EQ(mm->getImageEntry(e, 1), 0);
    EXPECT_EQ(e->photoPath(), moved + QStringLiteral("/photos/photo_1.jpg"));
    EXPECT_EQ(e->meshPath(), moved + QStringLiteral("/meshes/mesh_1.obj"));
    EXPECT_TRUE(e->hasPhotoFile() && e->hasMeshFile());
    EXPECT_EQ(e->order(), 2);
    EXPECT_EQ(meshAt(1)->meshTriangleCount(), 2);
    EXPECT_TRUE(mm->isImageMapped(0) && !mm->isImageMapped(1) && mm->isImageMapped(2));
    EXPECT_FALSE(mm->isTextureShown(0));
    EXPECT_TRUE(mm->isTextureShown(1));
    EXPECT_TRUE(mm->isMeshAsleepById(2) && !mm->isMeshAsleepById(0));
    ref_ptr<IntArray> ids;
    ASSERT_EQ(store()->getImageIds(ids), 0);
    ASSERT_EQ(ids->count(), 3);
    EXPECT_EQ(QVector<int>({ids->at(0), ids->at(1), ids->at(2)}), QVector<int>({2, 0, 1}));

    ref_ptr<IZimImageRecord> rec;
    ASSERT_EQ(store()->getImageRecord(rec, 1), 0);
    ASSERT_EQ(rec->controlPointCount(), 2);
    EXPECT_EQ(rec->getMarkUVs()->at(0), XPnt2d(0.25, 0.5));
    EXPECT_EQ(rec->getMarkPoints()->at(0), XPnt3d(1, 2, 3));
    EXPECT_FALSE(rec->getMarkPoints()->at(1).isValid());
    EXPECT_EQ(rec->getMarks(ZimMarkControl)->at(1).id, MarkRecord().id);
    ASSERT_EQ(rec->getSelectedMarks()->count(), 1);
    EXPECT_EQ(rec->getSelectedMarks()->at(0).uv2, XPnt2d(0.125, 0.75));
    EXPECT_EQ(rec->getSelectedMarks()->at(0).id, 9);
    EXPECT_EQ(rec->getPointMarks()->count(), 0);

    ref_ptr<IZimModelItems> items;
    ASSERT_EQ(mm->getModelItems(items), 0);
    QStringList names;
    QVector<ref_ptr<MeshArray>> groups;
    ASSERT_EQ(items->getGroups(names, groups), 0);
    EXPECT_EQ(names, QStringList({QStringLiteral("DEFAULT"), QStringLiteral("roofs")}));
    EXPECT_EQ(list(groups[0]), QVector<const IZimMesh*>({meshAt(2).get(), meshAt(0).get(), meshAt(1).get()}));
    EXPECT_EQ(list(groups[1]), QVector<const IZimMesh*>({meshAt(1).get(), meshAt(0).get()}));
    EXPECT_EQ(items->itemCount(), 2);
    ref_ptr<MeshArray> defaults;
    ASSERT_EQ(zim::defaultGroupMeshes(mm.get(), defaults), 0);
    EXPECT_EQ(list(defaults), list(groups[0]));
    EXPECT_EQ(zim::defaultGroupMeshes(nullptr, defaults), -1);
    EXPECT_FALSE(defaults);

    ref_ptr<IZimScreenPath> sp;
    ASSERT_EQ(mm->getScreenPath(sp), 0);
    ASSERT_EQ(sp->pathPointCount(), 2);
    EXPECT_EQ(sp->pathPointAt(1), XPnt2d(30.5, 40));
    EXPECT_FALSE(sp->pathPointAt(2).isValid());
    ref_ptr<IZimTqState> state;
    ASSERT_EQ(mm->getState(state), 0);
    EXPECT_EQ(state->getMode(), ZimModeMapping);
    char back[9] = {};
    int size = 0;
    EXPECT_TRUE(mm->readProjectData(QStringLiteral("G"), QStringLiteral("K"), back, 9, &size));
    EXPECT_EQ(QByteArray(back, 9), blob);
    EXPECT_EQ(zim::getSelMarkCount(groups[0]), 1u);
}

TEST_F(Kernel, ChangesStayInMemoryUntilSaveAndFailedSavesLeaveTheFileWhole)
{
    const QString file = makeProject(2);
    ASSERT_EQ(mm->saveProject(), 0);
    const QByteArray saved = orvtest::readFile(file);
    ASSERT_FALSE(saved.isEmpty());
    const char bytes[] = "abc";
    ASSERT_EQ(mm->writeProjectData(QStringLiteral("g"), QStringLiteral("k"), bytes, 3), 0);
    mm->setImageMapped(1, true);
    EXPECT_TRUE(mm->isModified());
    EXPECT_EQ(orvtest::readFile(file), saved);  // only a save writes

    for (const char* stage : {"write", "commit", "rename"}) {
        qputenv("ORV_KERNEL_SAVE_FAULT", stage);
        EXPECT_EQ(mm->saveProject(), -1) << stage;
        EXPECT_TRUE(mm->lastError().contains(QLatin1String(stage))) << mm->lastError();
        EXPECT_TRUE(mm->isModified());
        EXPECT_EQ(orvtest::readFile(file), saved) << stage;
        EXPECT_EQ(QDir(root).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("p.orvproj")}));
        const QString other = path(QStringLiteral("other.orvproj"));
        EXPECT_EQ(mm->saveProjectAs(other), -1);
        EXPECT_FALSE(QFileInfo::exists(other));
        EXPECT_EQ(mm->projectPath(), file);
    }
    qunsetenv("ORV_KERNEL_SAVE_FAULT");
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_TRUE(mm->isImageMapped(1));
    EXPECT_EQ(mm->createProject(file), -1);  // never over an existing file
    EXPECT_EQ(mm->imageCount(), 2);
}

TEST_F(Kernel, ModifiedMeansASaveWouldWriteSomethingElse)
{
    const QString file = makeProject(3);
    EXPECT_TRUE(mm->isModified());  // images added since the file was made
    const QString g = QStringLiteral("host"), k = QStringLiteral("view");
    ASSERT_EQ(mm->writeProjectData(g, k, "one", 3), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_FALSE(mm->isModified());

    // Views say "modified" after loading their state or moving the camera: nothing differs.
    ASSERT_EQ(mm->setModified(true), 0);
    EXPECT_FALSE(mm->isModified());
    ASSERT_EQ(mm->writeProjectData(g, k, "one", 3), 0);  // the same bytes again
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(mm->setCurrentImageIndex(2), 0);  // which photo is shown is no change alone
    EXPECT_FALSE(mm->isModified());

    // A real change, and the same change undone by hand.
    ASSERT_EQ(mm->setImageMapped(1, true), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->setImageMapped(1, false), 0);
    EXPECT_FALSE(mm->isModified());
    ASSERT_EQ(mm->writeProjectData(g, k, "two", 3), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->writeProjectData(g, k, "one", 3), 0);
    EXPECT_FALSE(mm->isModified());
    ref_ptr<MarkArray> marks(new MarkArray());
    marks->append(mark(0.5, 0.5, 1, 2, 3, 4));
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkControl, marks), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkControl, nullptr), 0);
    EXPECT_FALSE(mm->isModified());
    ASSERT_EQ(mm->sleepMesh(meshAt(2), nullptr), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->wakeMesh(2, nullptr), 0);
    EXPECT_FALSE(mm->isModified());

    // A mesh moved in the order array without telling anyone is a change; moved back it is not.
    ref_ptr<MeshArray> order;
    ASSERT_EQ(mm->getMeshOrder(order), 0);
    ASSERT_EQ(order->removeMeshAt(0), 0);
    order->appendMesh(meshAt(0));
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->reorderImage(0, 0, 1), 0);
    EXPECT_FALSE(mm->isModified());

    // setModified(false) takes the project as it is for the saved one.
    ASSERT_EQ(mm->setMode(ZimModeBrowse), 0);
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->setModified(false), 0);
    EXPECT_FALSE(mm->isModified());
    ASSERT_EQ(mm->setMode(ZimModeMeshes), 0);
    EXPECT_TRUE(mm->isModified());

    // A save is the new reference; what it wrote opens unmodified.
    ASSERT_EQ(mm->writeProjectData(g, k, "three", 5), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    EXPECT_FALSE(mm->isModified());
    ASSERT_EQ(mm->writeProjectData(g, k, "one", 3), 0);
    EXPECT_TRUE(mm->isModified());
    const QString copy = path(QStringLiteral("copy.orvproj"));
    ASSERT_EQ(mm->saveProjectAs(copy), 0);
    EXPECT_FALSE(mm->isModified());
    mm->closeProject();
    EXPECT_FALSE(mm->isModified());
    EXPECT_EQ(mm->setModified(true), -1);
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_FALSE(mm->isModified());
    char back[5] = {};
    EXPECT_TRUE(mm->readProjectData(g, k, back, 5, nullptr));
    EXPECT_EQ(QByteArray(back, 5), QByteArray("three"));
}

TEST_F(Kernel, CorruptTruncatedAndForeignFilesAreRefused)
{
    const QString good = makeProject(1);
    ASSERT_EQ(mm->saveProject(), 0);
    const QByteArray bytes = orvtest::readFile(good);
    ASSERT_GE(bytes.size(), 4096);
    auto patched = [&](int at, QByteArray with) { return QByteArray(bytes).replace(at, with.size(), with); };
    QByteArray damagedPage = bytes;  // page 2, the root of the first table
    for (int i = 4096; i < 8192; ++i) damagedPage[i] = char(0x5a);
    // A value changed inside an intact page is no damage: such a file opens with a notice
    // (test_project_robust).
    const struct {
        const char* name;
        QByteArray content;
        const char* says;
    } cases[] = {
        {"text.orvproj", QByteArray("not a database at all, just some words\n"), "not an SQLite"},
        {"empty.orvproj", QByteArray(), "not an SQLite"},
        {"truncated.orvproj", bytes.left(bytes.size() / 2), "damaged"},
        {"garbled.orvproj", damagedPage, "damaged"},
        {"foreign.orvproj", patched(68, QByteArray("\0\0\0\1", 4)), "another program"},  // application_id
        {"newer.orvproj", patched(60, QByteArray("\0\0\0\x09", 4)), "newer"},            // user_version
    };
    for (const auto& c : cases) {
        const QString file = path(QString::fromLatin1(c.name));
        ASSERT_TRUE(orvtest::writeFile(file, c.content));
        EXPECT_EQ(mm->openProject(file, nullptr), -1) << c.name;
        EXPECT_TRUE(mm->lastError().contains(QLatin1String(c.says))) << c.name << ": " << mm->lastError();
        EXPECT_TRUE(mm->lastError().contains(QString::fromLatin1(c.name))) << mm->lastError();
        // Nothing changed: the project open before is still open and whole.
        EXPECT_EQ(mm->projectPath(), good);
        EXPECT_EQ(mm->imageCount(), 1);
        EXPECT_EQ(orvtest::readFile(file), c.content);
    }
    EXPECT_EQ(mm->openProject(path(QStringLiteral("absent.orvproj")), nullptr), -1);
    EXPECT_EQ(mm->projectPath(), good);
}

TEST_F(Kernel, BlobsFillOrReportShortBuffers)
{
    makeProject(0);
    const QString g = QStringLiteral("OrvTQImageTree"), k = QStringLiteral("OrvTQImageTreeFolder");
    const unsigned char data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(mm->writeProjectData(g, k, data, 10), 0);
    unsigned char buf[16];
    int out = 0;
    const auto read = [&](const QString& key, int size) {
        std::memset(buf, 0xee, sizeof buf);
        out = -7;
        return mm->readProjectData(g, key, buf, size, &out);
    };
    EXPECT_TRUE(read(k, 10));  // exact
    EXPECT_EQ(out, 10);
    EXPECT_EQ(std::memcmp(buf, data, 10), 0);
    EXPECT_EQ(buf[10], 0xee);
    EXPECT_TRUE(read(k, 4));  // smaller buffer: filled
    EXPECT_EQ(out, 10);
    EXPECT_EQ(std::memcmp(buf, data, 4), 0);
    EXPECT_EQ(buf[4], 0xee);
    EXPECT_FALSE(read(k, 16));  // larger: not filled, the rest zeroed
    EXPECT_EQ(out, 10);
    EXPECT_EQ(std::memcmp(buf, data, 10), 0);
    for (int i = 10; i < 16; ++i) EXPECT_EQ(buf[i], 0) << i;
    EXPECT_FALSE(read(QStringLiteral("missing"), 4));
    EXPECT_EQ(out, -1);
    EXPECT_TRUE(mm->readProjectData(g, k, nullptr, 0, &out));  // size query
    EXPECT_EQ(out, 10);

    const std::int32_t head = 3;  // replacing a blob, and a 4-byte head read into an int
    ASSERT_EQ(mm->writeProjectData(g, k, &head, 4), 0);
    std::int32_t value = 0;
    EXPECT_TRUE(mm->readProjectData(g, k, &value, 4, nullptr));
    EXPECT_EQ(value, 3);
    EXPECT_EQ(mm->writeProjectData(g, QStringLiteral("empty"), nullptr, 0), 0);
    EXPECT_TRUE(read(QStringLiteral("empty"), 0));
    EXPECT_EQ(out, 0);
    EXPECT_EQ(mm->writeProjectData(g, k, nullptr, 4), -1);
    EXPECT_EQ(mm->writeProjectData(QString(), k, data, 4), -1);
    EXPECT_EQ(mm->writeProjectData(g, k, data, -1), -1);
    EXPECT_FALSE(mm->readProjectData(g, k, nullptr, 4, &out));

    // Names whose characters belong to the caller (a plug-in's string literal, unloaded with
    // the plug-in) are copied: the blob is still found after they are gone.
    QChar name[3] = {QLatin1Char('c'), QLatin1Char('a'), QLatin1Char('m')};
    ASSERT_EQ(mm->writeProjectData(QString::fromRawData(name, 3), QString::fromRawData(name, 3), data, 2), 0);
    std::fill(std::begin(name), std::end(name), QLatin1Char('x'));
    EXPECT_TRUE(mm->readProjectData(QStringLiteral("cam"), QStringLiteral("cam"), buf, 2, &out));
    EXPECT_EQ(out, 2);
    mm->closeProject();
    EXPECT_EQ(mm->writeProjectData(g, k, data, 4), -1);
    EXPECT_FALSE(read(k, 4));
    EXPECT_EQ(out, -1);
}

TEST_F(Kernel, SleepAndWakeKeepTheMeshObjectAndItsGeometry)
{
    makeProject(2);
    const ref_ptr<IZimMesh> m = meshAt(1);
    const ref_ptr<Pnt3fArray> v = m->meshVertexSource();
    const ref_ptr<IntArray> t = m->meshTriangles();
    ASSERT_EQ(v->count(), 4);
    ASSERT_TRUE(m->meshTexture());

    RecordingProgress sleeping;
    ASSERT_EQ(mm->sleepMesh(m, &sleeping), 0);
    EXPECT_EQ(sleeping.log, QStringLiteral("T S0.01 P0.99 O "));
    EXPECT_EQ(meshAt(1).get(), m.get());
    EXPECT_EQ(m->meshVertexCount(), 0);
    EXPECT_FALSE(m->meshTexture());
    EXPECT_TRUE(mm->isMeshAsleep(m));
    EXPECT_FALSE(mm->isTextureShown(1));
    EXPECT_FALSE(store()->hasMeshData(1));
    EXPECT_EQ(mm->setMeshTextureVisible(m, true), 0);  // a sleeping mesh's texture stays hidden
    EXPECT_TRUE(store()->hasSourceImage(1));           // its texture file is still there to show
    ref_ptr<IZimImage> tex;
    EXPECT_EQ(store()->getStoreImage(tex, 1, 1), 0);
    EXPECT_EQ(m->meshVertexCount(), 0);  // ... without waking the mesh
    EXPECT_EQ(mm->sleepMesh(m, nullptr), 0);

    RecordingProgress waking;
    ASSERT_EQ(mm->wakeMesh(1, &waking), 0);
    EXPECT_EQ(waking.depth, 0);
    EXPECT_TRUE(waking.log.startsWith(QLatin1String("T S0.01 P0.99 "))) << waking.log.toStdString();
    EXPECT_EQ(meshAt(1).get(), m.get());
    ASSERT_EQ(m->meshVertexCount(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m->meshVertexSource()->at(i), v->at(i));
    for (int i = 0; i < t->count(); ++i) EXPECT_EQ(m->meshTriangles()->at(i), t->at(i));
    EXPECT_TRUE(mm->isTextureShown(1) && m->isMeshTextureVisible());
    EXPECT_TRUE(m->meshTexture());
    EXPECT_EQ(mm->wakeMesh(1, nullptr), 0);

    // Geometry changed in memory would be lost by sleeping: refused.
    ASSERT_EQ(m->setMeshGeometry(v, t, m->meshTexCoords(), nullptr), 0);
    EXPECT_EQ(mm->sleepMesh(m, nullptr), -1);
    EXPECT_FALSE(mm->isMeshAsleep(m));
    EXPECT_EQ(mm->sleepMesh(zim::newZimMesh(), nullptr), -1);
}

TEST_F(Kernel, MeshListsAreDisjointCompleteAndFollowTheOrder)
{
    // Textured meshes 0 to 2, mesh 3 without a texture. Being mapped (the photo registered)
    // decides neither list: the backup list holds the awake textured meshes.
    makeProject(3);
    ASSERT_EQ(mm->addImage(photo(QStringLiteral("photos/photo_3.jpg"), 320, 200),
                           mesh(QStringLiteral("meshes/mesh_3.obj"), QImage(), QString(), false), QString()),
              3);
    mm->setImageMapped(0, true);
    mm->setImageMapped(3, true);
    ASSERT_EQ(mm->sleepMesh(meshAt(2), nullptr), 0);
    ref_ptr<MeshArray> order, bare, backup;
    ASSERT_EQ(mm->getMeshOrder(order), 0);
    ASSERT_EQ(mm->getMeshArray(bare), 0);
    ASSERT_EQ(mm->getBackupMeshArray(backup), 0);
    EXPECT_EQ(list(order),
              QVector<const IZimMesh*>({meshAt(0).get(), meshAt(1).get(), meshAt(2).get(), meshAt(3).get()}));
    EXPECT_EQ(list(bare), QVector<const IZimMesh*>({meshAt(3).get()}));
    EXPECT_EQ(list(backup), QVector<const IZimMesh*>({meshAt(0).get(), meshAt(1).get()}));
    EXPECT_TRUE(mm->isImageMapped(0) && !mm->isImageMapped(1) && mm->isImageMapped(3));
    EXPECT_TRUE(mm->isMeshMapped(meshAt(3)) && !mm->isMeshMapped(meshAt(1)));
    EXPECT_EQ(mm->sceneItemCount(), 4);

    // Waking the textured mesh puts it back in the backup list, in project order; a texture
    // given in memory makes a mesh a textured one.
    ASSERT_EQ(mm->wakeMesh(2, nullptr), 0);
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(path(QStringLiteral("red.png"))));
    meshAt(3)->setMeshTextureImage(zim::loadZimImage(path(QStringLiteral("red.png"))));
    ASSERT_EQ(mm->getMeshArray(bare), 0);
    ASSERT_EQ(mm->getBackupMeshArray(backup), 0);
    EXPECT_TRUE(list(bare).isEmpty());
    EXPECT_EQ(list(backup), list(order));
    meshAt(3)->setMeshTextureImage(nullptr);
    ASSERT_EQ(mm->getMeshArray(bare), 0);
    EXPECT_EQ(list(bare), QVector<const IZimMesh*>({meshAt(3).get()}));

    // Names: mesh names and texture names both resolve; a repeated base name is made unique.
    const int dup = mm->addImage(photo(QStringLiteral("x/photo_9.jpg"), 64, 64), mesh(QStringLiteral("x/mesh_1.obj")),
                                 QStringLiteral("L"));
    ASSERT_EQ(dup, 4);
    QString name, texName, label;
    meshAt(4)->meshName(name);
    meshAt(4)->meshTextureName(texName);
    meshAt(4)->meshLabel(label);
    EXPECT_EQ(name, QStringLiteral("mesh_1~2"));
    EXPECT_EQ(label, QStringLiteral("L"));
    EXPECT_EQ(mm->indexOfMesh(name), 4);
    EXPECT_EQ(mm->indexOfMesh(texName), 4);
    EXPECT_EQ(mm->indexOfMesh(QStringLiteral("mesh_1")), 1);
    EXPECT_EQ(mm->indexOfMesh(QStringLiteral("mesh_2_tex")), 2);
    EXPECT_EQ(mm->indexOfMesh(QStringLiteral("nothing")), -1);
    EXPECT_EQ(store()->findImageByName(QStringLiteral("photo_2.jpg")), 2);
    EXPECT_EQ(store()->findImageByName(QStringLiteral("PHOTO_2.JPG")), 2);
    EXPECT_EQ(store()->findImageByName(path(QStringLiteral("x/photo_9.jpg"))), 4);
    EXPECT_EQ(mm->addImage(path(QStringLiteral("x/photo_9.jpg")), mesh(QStringLiteral("y/m.obj")), QString()), -1);

    // Moving a mesh in the order array moves the image in the project.
    ASSERT_EQ(mm->getMeshOrder(order), 0);
    ASSERT_EQ(order->removeMeshAt(0), 0);
    order->appendMesh(meshAt(0));
    ref_ptr<IntArray> ids;
    ASSERT_EQ(store()->getImageIds(ids), 0);
    EXPECT_EQ(QVector<int>(ids->begin(), ids->end()), QVector<int>({1, 2, 3, 4, 0}));
    EXPECT_EQ(mm->reorderImage(0, 0, 1), 0);
    EXPECT_EQ(mm->reorderImage(4, 1, 2), 0);
    EXPECT_EQ(mm->reorderImage(3, 2, 3), 1);
    ASSERT_EQ(store()->getImageIds(ids), 0);
    EXPECT_EQ(QVector<int>(ids->begin(), ids->end()), QVector<int>({0, 1, 2, 4, 3}));
    EXPECT_EQ(mm->sceneItemAt(3), mm->sceneItemAt(3));
}

TEST_F(Kernel, ReducedLevelFitsAndComesFromTheDiskCacheOnReopen)
{
    const QString file = path(QStringLiteral("c.orvproj"));
    ASSERT_EQ(mm->createProject(file), 0);
    ASSERT_EQ(mm->addImage(photo(QStringLiteral("big.jpg"), 1000, 600), mesh(QStringLiteral("m.obj")), QString()), 0);
    ref_ptr<IZimImage> small, full, again;
    ASSERT_EQ(store()->getStoreImage(small, 0, 3), 0);
    EXPECT_EQ(QSize(small->imageWidth(), small->imageHeight()), QSize(240, 144));
    ref_ptr<IZimImageRecord> rec;
    ASSERT_EQ(store()->getImageRecord(rec, 0), 0);
    EXPECT_EQ(rec->imageSizeAt(3), QSize(240, 144));
    EXPECT_EQ(rec->imageSizeAt(2), QSize(1000, 600));
    EXPECT_EQ(rec->imageSizeAt(1), QSize(8, 4));
    QString cached;
    ASSERT_TRUE(small->getImagePath(cached));
    EXPECT_EQ(QFileInfo(cached).absolutePath(), store()->cacheFolder());
    EXPECT_EQ(store()->cacheFolder(), path(QStringLiteral("c.orvcache/reduced-240")));
    EXPECT_TRUE(QFileInfo(cached).isFile());
    ASSERT_EQ(store()->getStoreImage(full, 0, 2), 0);
    EXPECT_EQ(full->imageWidth(), 1000);
    ASSERT_EQ(mm->setCurrentImageIndex(0), 0);
    ASSERT_EQ(mm->getCurrentImage(again), 0);
    EXPECT_EQ(again.get(), full.get());
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();

    // Put a marker picture in the cache file: reopening must show it, not decode the photo.
    QImage marker(240, 144, QImage::Format_RGB888);
    marker.fill(QColor(0, 0, 255));
    ASSERT_TRUE(marker.save(cached, "JPEG"));
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    store()->waitForPrefetch();
    ASSERT_EQ(store()->getStoreImage(small, 0, 3), 0);
    unsigned char px[4] = {};
    ASSERT_TRUE(small->imageGetPixel(px, 120, 72, true));
    EXPECT_GT(px[0], 200);  // blue (channel 0)
    EXPECT_LT(px[2], 60);
    QString reread;
    EXPECT_TRUE(small->getImagePath(reread));
    EXPECT_EQ(reread, cached);

    // A changed photo is a new cache entry; the old one is pruned on the next open.
    store()->releaseImages();
    photo(QStringLiteral("big.jpg"), 500, 1000, Qt::darkRed);
    ASSERT_EQ(store()->getStoreImage(small, 0, 3), 0);
    EXPECT_EQ(QSize(small->imageWidth(), small->imageHeight()), QSize(120, 240));
    QString fresh;
    small->getImagePath(fresh);
    EXPECT_NE(fresh, cached);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    store()->waitForPrefetch();
    EXPECT_FALSE(QFileInfo::exists(cached));
    EXPECT_TRUE(QFileInfo::exists(fresh));
}

TEST_F(Kernel, TransparencyComesFromAlphaChannelOrMapD)
{
    makeProject(1);
    QImage rgba(4, 2, QImage::Format_ARGB32);
    rgba.fill(qRgba(10, 20, 30, 255));
    rgba.setPixel(0, 0, qRgba(10, 20, 30, 40));  // top-left = row 1 from the bottom
    QImage grey(2, 1, QImage::Format_Grayscale8);
    grey.fill(200);
    ASSERT_TRUE(grey.save(path(QStringLiteral("meshes/d.png"))));
    ASSERT_EQ(
        mm->addImage(photo(QStringLiteral("a.jpg"), 32, 32), mesh(QStringLiteral("meshes/a.obj"), rgba), QString()), 1);
    ASSERT_EQ(mm->addImage(photo(QStringLiteral("b.jpg"), 32, 32),
                           mesh(QStringLiteral("meshes/b.obj"), QImage(), QStringLiteral("d.png")), QString()),
              2);

    ref_ptr<IZimImage> a;
    EXPECT_EQ(store()->getAlphaImage(a, 0, 1, false), -1);  // opaque texture
    EXPECT_FALSE(a);
    ASSERT_EQ(store()->getAlphaImage(a, 0, 1, true), 0);
    unsigned char px[4] = {};
    ASSERT_TRUE(a->imageGetPixel(px, 0, 0, true));
    EXPECT_EQ(px[2], 255);
    ASSERT_EQ(store()->getAlphaImage(a, 1, 1, false), 0);
    ASSERT_EQ(QSize(a->imageWidth(), a->imageHeight()), QSize(4, 2));
    ASSERT_TRUE(a->imageGetPixel(px, 0, 1, true));
    EXPECT_EQ(px[2], 40);
    ASSERT_TRUE(a->imageGetPixel(px, 3, 0, true));
    EXPECT_EQ(px[2], 255);
    ASSERT_EQ(store()->getAlphaImage(a, 2, 1, false), 0);  // map_d, resampled to the 8x4 texture
    ASSERT_EQ(QSize(a->imageWidth(), a->imageHeight()), QSize(8, 4));
    ASSERT_TRUE(a->imageGetPixel(px, 7, 0, true));
    EXPECT_NEAR(px[2], 200, 2);
    EXPECT_EQ(store()->getAlphaImage(a, 1, 2, false), -1);
}

TEST_F(Kernel, MissingFilesAreReportedAndTheirImagesAnswerNothing)
{
    const QString file = makeProject(3);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("photos/photo_0.jpg"))));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("meshes/mesh_1.obj"))));
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    QStringList missing;
    ASSERT_EQ(mm->getMissingFiles(missing), 2);
    EXPECT_TRUE(missing.join(QLatin1Char(' ')).contains(QLatin1String("photo_0.jpg")));
    EXPECT_TRUE(mm->lastError().contains(QLatin1String("mesh_1.obj"))) << mm->lastError();
    ref_ptr<IZimImage> img;
    EXPECT_FALSE(store()->hasReadyImage(0));
    EXPECT_FALSE(mm->isImageAvailable(0));
    EXPECT_EQ(store()->getStoreImage(img, 0, 2), -1);
    EXPECT_EQ(store()->getStoreImage(img, 0, 3), -1);
    ref_ptr<IZimImageRecord> rec;
    ASSERT_EQ(store()->getImageRecord(rec, 0), 0);
    EXPECT_TRUE(rec->imageSizeAt(2).isEmpty());
    EXPECT_EQ(mm->setCurrentImageIndex(0), 0);
    EXPECT_EQ(mm->getCurrentImage(img), -1);
    EXPECT_FALSE(store()->hasMeshData(1));
    EXPECT_TRUE(mm->isMeshAsleepById(1));
    EXPECT_EQ(mm->wakeMesh(1, nullptr), -1);
    ref_ptr<MeshArray> textured;
    mm->getBackupMeshArray(textured);
    EXPECT_EQ(list(textured), QVector<const IZimMesh*>({meshAt(0).get(), meshAt(2).get()}));
    ref_ptr<IZimImageEntry> e;
    ASSERT_EQ(mm->getImageEntry(e, 1), 0);
    EXPECT_FALSE(e->hasMeshFile());
    EXPECT_TRUE(store()->hasReadyImage(2));
}

TEST_F(Kernel, UnknownIndicesAndClosedProjectsAnswerNothing)
{
    makeProject(1);
    const ref_ptr<IZimImageStore> s = store();
    ref_ptr<IZimImageRecord> rec;
    ASSERT_EQ(s->getImageRecord(rec, 0), 0);
    ref_ptr<IZimImage> img;
    ref_ptr<IZimMesh> m;
    ref_ptr<IZimImageEntry> e;
    for (int bad : {-1, 1, 1000}) {
        EXPECT_EQ(s->getImageRecord(rec, bad), -1);
        EXPECT_FALSE(rec);
        EXPECT_EQ(s->getStoreImage(img, bad, 2), -1);
        EXPECT_FALSE(s->hasReadyImage(bad) || s->hasSourceImage(bad) || s->hasMarks(bad) || s->hasMeshData(bad));
        EXPECT_EQ(mm->getMeshAt(m, bad), -1);
        EXPECT_EQ(mm->getImageEntry(e, bad), -1);
        EXPECT_FALSE(mm->isImageMapped(bad) || mm->isTextureShown(bad) || mm->isMeshAsleepById(bad));
        EXPECT_EQ(mm->wakeMesh(bad, nullptr), -1);
        EXPECT_EQ(mm->reorderImage(0, 2, bad), -1);
        EXPECT_FALSE(mm->sceneItemAt(bad));
        ASSERT_EQ(mm->setCurrentImageIndex(0), 0);
        int index = bad;
        EXPECT_EQ(mm->setCurrentImage(&index), bad == -1 ? 0 : -1);
        EXPECT_EQ(index, -1);
        EXPECT_EQ(mm->getCurMeshIndex(), -1);
    }
    EXPECT_EQ(s->getStoreImage(img, 0, 4), -1);
    EXPECT_EQ(mm->setCurrentImage(nullptr), -1);
    ASSERT_EQ(s->getImageRecord(rec, 0), 0);
    const ref_ptr<IZimTqState> follow = zim::newZimTqState();
    EXPECT_TRUE(follow->hasOpenProject());
    mm->closeProject();
    EXPECT_FALSE(s->isStoreReady());
    EXPECT_EQ(s->getStoreImage(img, 0, 1), -1);
    EXPECT_FALSE(rec->getMarkUVs());
    EXPECT_TRUE(rec->imageSizeAt(2).isEmpty());
    EXPECT_FALSE(follow->hasOpenProject());
    ref_ptr<IZimTqState> none;
    EXPECT_EQ(mm->getState(none), -1);
    EXPECT_FALSE(none);
    EXPECT_EQ(mm->getCurMeshIndex(), -1);
    EXPECT_EQ(mm->closeProject(), 1);
    EXPECT_EQ(zim::getSelMarkCount(nullptr), 0u);
    EXPECT_EQ(mm->addImage(QStringLiteral("a.jpg"), QStringLiteral("a.obj"), QString()), -1);
}

TEST_F(Kernel, SampleToolWritesAProjectThatReopensWithItsCounts)
{
    const QString tool = orvtest::binDir() + QStringLiteral("/orv-sample");
    ASSERT_TRUE(QFileInfo(tool).isExecutable()) << "build orv-sample first";
    const QString out = path(QStringLiteral("sample"));
    const QStringList args = {QStringLiteral("--out"),          out,
                              QStringLiteral("--tiles"),        QStringLiteral("3"),
                              QStringLiteral("--triangles"),    QStringLiteral("600"),
                              QStringLiteral("--photo-size"),   QStringLiteral("320x240"),
                              QStringLiteral("--texture-size"), QStringLiteral("64"),
                              QStringLiteral("--quiet")};
    ASSERT_EQ(QProcess::execute(tool, args + QStringList{QStringLiteral("--no-project")}), 0);
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/sample.orvproj")));
    ASSERT_EQ(QProcess::execute(tool, args), 0);

    const QJsonObject manifest =
        QJsonDocument::fromJson(orvtest::readFile(out + QStringLiteral("/manifest.json"))).object();
    const QJsonArray photos = manifest.value(QStringLiteral("photos")).toArray();
    ASSERT_EQ(mm->openProject(out + QStringLiteral("/sample.orvproj"), nullptr), 0) << mm->lastError();
    ASSERT_EQ(mm->imageCount(), photos.size());
    for (int i = 0; i < photos.size(); ++i) {
        int kinds[4] = {0, 0, 0, 0};
        for (const QJsonValue& v : photos[i].toObject().value(QStringLiteral("marks")).toArray()) {
            const QString k = v.toObject().value(QStringLiteral("kind")).toString();
            ++kinds[k == QLatin1String("control") ? 0
                    : k == QLatin1String("point") ? 1
                    : k == QLatin1String("track") ? 2
                                                  : 3];
        }
        ref_ptr<IZimImageRecord> rec;
        ASSERT_EQ(store()->getImageRecord(rec, i), 0);
        EXPECT_EQ(rec->controlPointCount(), kinds[0]);
        EXPECT_EQ(rec->getPointMarks()->count(), kinds[1]);
        EXPECT_EQ(rec->getTrackMarks()->count(), kinds[2]);
        EXPECT_EQ(rec->getSelectedMarks()->count(), kinds[3]);
        EXPECT_TRUE(mm->isImageMapped(i) && mm->isTextureShown(i));
        EXPECT_EQ(meshAt(i)->meshTriangleCount(),
                  manifest.value(QStringLiteral("meshes"))[i][QStringLiteral("triangles")].toInt());
    }
    ref_ptr<MeshArray> backup;
    mm->getBackupMeshArray(backup);
    EXPECT_EQ(backup->meshCount(), photos.size());
}

}  // namespace
