// The project's data folder for paints: kept tiles bring textures of odd sizes back byte for
// byte and give the painted bytes for redo; damaged tile files and logs are refused or read as
// far as they can be, with a message; the log keeps the last 20 paints and removes the folder of
// the one that falls out; a write that fails leaves the previous file; nothing is written beside
// the project outside its data folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "AtomicFile.h"
#include "PaintLog.h"
#include "ProjectData.h"
#include "TestSupport.h"
#include "TileSnapshot.h"
#include "WorkingTextureStore.h"

using namespace orvpaint;

namespace {

// A texture in memory with padded rows, filled with random bytes (padding included, so that a
// write into the padding would show).
struct Texture {
    int width, height, channels;
    qint64 rowBytes;
    std::vector<unsigned char> bytes;

    Texture(int w, int h, int c, qint64 stride, unsigned seed)
        : width(w), height(h), channels(c), rowBytes(stride), bytes(size_t(stride * h))
    {
        std::mt19937 rng(seed);
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());
    }
    TextureView view() { return TextureView{bytes.data(), width, height, channels, rowBytes}; }
    unsigned char* texel(int x, int y) { return bytes.data() + y * rowBytes + x * channels; }
};

// Writes new random colours into every texel of the given tiles, as a paint would.
void paintTiles(Texture& t, const QVector<QPoint>& tiles, unsigned seed)
{
    std::mt19937 rng(seed);
    for (const QPoint& p : tiles) {
        const QRect r = TileSnapshot::tileRect(t.width, t.height, p.x(), p.y());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                for (int c = 0; c < t.channels; ++c)
                    t.texel(x, y)[c] = static_cast<unsigned char>(rng() | 1u) ^ t.texel(x, y)[c];
    }
}

ZimPhotoCamera sampleCamera(int i)
{
    ZimPhotoCamera c;
    c.width = 4000;
    c.height = 3000;
    c.fx = c.fy = 3100.25 + i;
    c.cx = 2001.5;
    c.cy = 1499.75;
    c.k1 = -0.0123456789;
    c.k2 = 0.000987654321;
    const double a = 0.1 * i;
    const double R[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
    std::memcpy(c.R, R, sizeof R);
    c.t[0] = 1.0 / 3.0;
    c.t[1] = -2.5;
    c.t[2] = 40.125 + i;
    c.rms = 0.61;
    c.residuals = {ZimMarkResidual{7, 0.5, true}, ZimMarkResidual{9, 3.25, false}};
    return c;
}

PaintRecord sampleRecord(const ProjectData& data, int i)
{
    PaintRecord r;
    r.name = QStringLiteral("paint-%1").arg(i, 2, 10, QLatin1Char('0'));
    r.time = QDateTime(QDate(2026, 12, 7), QTime(10, 0).addSecs(i), Qt::UTC);
    r.photoIndex = i % 5;
    r.camera = sampleCamera(i);
    r.textureKeys = QStringList{QStringLiteral("tiles/wall.png"), QStringLiteral("tiles/roof.png")};
    r.backupPicture = data.toStored(data.paintPath(r.name) + QLatin1String("/backup.png"));
    r.undoTiles = data.toStored(data.paintPath(r.name) + QLatin1String("/undo.tiles"));
    return r;
}

// Every file under dir (relative path -> bytes), leaving out the folders whose path starts with skip.
QMap<QString, QByteArray> filesUnder(const QString& dir, const QString& skip = QString())
{
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!skip.isEmpty() && path.startsWith(skip)) continue;
        out.insert(QDir(dir).relativeFilePath(path), orvtest::readFile(path));
    }
    return out;
}

// Overwrites a little-endian field of a stored file.
template <typename T>
void patch(QByteArray& bytes, int at, T value)
{
    const T le = qToLittleEndian(value);
    bytes.replace(at, int(sizeof le), reinterpret_cast<const char*>(&le), int(sizeof le));
}

class FaultGuard {
public:
    explicit FaultGuard(const char* stage) { qputenv("ORV_PAINT_STORE_FAULT", stage); }
    ~FaultGuard() { qunsetenv("ORV_PAINT_STORE_FAULT"); }
};

}  // namespace

TEST(PaintTiles, TouchedTilesFollowTexelsAndClipRectangles)
{
    TouchedTiles touched(130, 70);  // 3 x 2 tiles, the last column 2 texels wide, the last row 6 high
    EXPECT_EQ(touched.columns(), 3);
    EXPECT_EQ(touched.rows(), 2);
    EXPECT_TRUE(touched.isEmpty());
    touched.addTexel(130, 0);  // outside
    touched.addTexel(-1, 5);   // outside
    touched.addRect(QRect(200, 200, 5, 5));
    EXPECT_TRUE(touched.isEmpty());
    touched.addTexel(129, 69);               // the last texel
    touched.addRect(QRect(60, 60, 10, 10));  // across the corner of four tiles
    EXPECT_EQ(touched.tiles(), (QVector<QPoint>{QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1), QPoint(2, 1)}));

    EXPECT_EQ(TileSnapshot::tileRect(130, 70, 2, 1), QRect(128, 64, 2, 6));
    EXPECT_EQ(TileSnapshot::tileRect(130, 70, 1, 0), QRect(64, 0, 64, 64));
}

TEST(PaintTiles, RestoreIsByteIdenticalAndRedoGivesThePaintedBytes)
{
    struct Case {
        int width, height, channels;
        qint64 rowBytes;
    };
    // Odd sizes (partial tiles at the right and last edges), padded and tight rows, 1 to 4 channels.
    const Case cases[] = {{131, 67, 3, (131 * 3 + 3) / 4 * 4},
                          {64, 64, 4, 64 * 4},
                          {1, 200, 1, 4},
                          {257, 129, 3, 257 * 3},
                          {65, 1, 2, 140}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 x %2 x %3").arg(c.width).arg(c.height).arg(c.channels).toStdString());
        Texture wall(c.width, c.height, c.channels, c.rowBytes, seed++);
        Texture roof(c.width + 3, c.height + 5, c.channels, c.rowBytes + 12, seed++);
        const std::vector<unsigned char> wallBefore = wall.bytes, roofBefore = roof.bytes;

        // Random tiles, always with the last one (both partial edges).
        std::mt19937 rng(seed++);
        TouchedTiles wallTiles(wall.width, wall.height), roofTiles(roof.width, roof.height);
        wallTiles.addTexel(wall.width - 1, wall.height - 1);
        for (int i = 0; i < 4; ++i) {
            wallTiles.addTexel(int(rng() % unsigned(wall.width)), int(rng() % unsigned(wall.height)));
            roofTiles.addTexel(int(rng() % unsigned(roof.width)), int(rng() % unsigned(roof.height)));
        }
        TileSnapshot undo;
        QString error;
        ASSERT_TRUE(undo.capture("wall", wall.view(), wallTiles.tiles(), &error)) << error.toStdString();
        ASSERT_TRUE(undo.capture("roof", roof.view(), roofTiles.tiles(), &error)) << error.toStdString();
        EXPECT_EQ(undo.keys(), (QStringList{"wall", "roof"}));

        paintTiles(wall, wallTiles.tiles(), seed++);
        paintTiles(roof, roofTiles.tiles(), seed++);
        ASSERT_NE(wall.bytes, wallBefore);
        const std::vector<unsigned char> wallPainted = wall.bytes, roofPainted = roof.bytes;

        TileSnapshot redo;
        const QHash<QString, TextureView> views{{"wall", wall.view()}, {"roof", roof.view()}};
        ASSERT_TRUE(undo.captureAfter(views, &redo, &error)) << error.toStdString();
        EXPECT_EQ(redo.tilesOf("wall"), undo.tilesOf("wall"));

        // Through the stored form, as after a restart.
        QTemporaryDir dir;
        const QString file = dir.filePath("undo.tiles");
        ASSERT_TRUE(undo.save(file, &error)) << error.toStdString();
        TileSnapshot loaded;
        ASSERT_TRUE(TileSnapshot::load(file, &loaded, &error)) << error.toStdString();
        EXPECT_EQ(loaded.byteCount(), undo.byteCount());

        ASSERT_TRUE(loaded.restore(views, &error)) << error.toStdString();
        EXPECT_EQ(wall.bytes, wallBefore);
        EXPECT_EQ(roof.bytes, roofBefore);

        ASSERT_TRUE(redo.restore(views, &error)) << error.toStdString();
        EXPECT_EQ(wall.bytes, wallPainted);
        EXPECT_EQ(roof.bytes, roofPainted);
    }
}

TEST(PaintTiles, KernelImagesAreRestoredThroughTheirView)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    ASSERT_NE(image->imageCreate(131, 67, 24, ZimImageNoMarks), nullptr);
    std::mt19937 rng(11);
    for (int y = 0; y < 67; ++y)
        for (int x = 0; x < 131; ++x) image->imageSetPixel(x, y, int(rng() & 0xffffff), false);
    const QImage before = image->imageToQImage();

    const TextureView view = textureViewOf(image.get());
    ASSERT_TRUE(view.isValid());
    EXPECT_EQ(view.channels, 3);
    EXPECT_EQ(view.rowBytes, 396);  // 131 * 3 padded to 4
    TouchedTiles touched(view.width, view.height);
    touched.addRect(QRect(100, 60, 31, 7));  // the picture's top right corner: the last tiles
    TileSnapshot undo;
    QString error;
    ASSERT_TRUE(undo.capture("wall", view, touched.tiles(), &error)) << error.toStdString();
    for (int y = 60; y < 67; ++y)
        for (int x = 100; x < 131; ++x) image->imageSetPixel(x, y, 0x00ff00, false);
    ASSERT_NE(image->imageToQImage(), before);
    ASSERT_TRUE(undo.restore("wall", textureViewOf(image.get()), &error)) << error.toStdString();
    EXPECT_EQ(image->imageToQImage(), before);

    // Nothing to write into: no image, an empty one, a picture decoded at a reduced size.
    EXPECT_FALSE(textureViewOf(nullptr).isValid());
    EXPECT_FALSE(textureViewOf(zim::newZimImage().get()).isValid());
    QTemporaryDir dir;
    ASSERT_TRUE(before.save(dir.filePath("wall.png")));
    ref_ptr<IZimImage> reduced = zim::newZimImage();
    ASSERT_EQ(reduced->imageLoadScaled(dir.filePath("wall.png"), 40), 0);
    ASSERT_TRUE(reduced->imageFullSize().isValid());
    EXPECT_FALSE(textureViewOf(reduced.get()).isValid());
}

TEST(PaintTiles, KeepsTheFirstStateAndRefusesAnotherTexture)
{
    Texture t(100, 90, 3, 300, 42);
    const std::vector<unsigned char> before = t.bytes;
    TileSnapshot undo;
    QString error;
    ASSERT_TRUE(undo.capture("t", t.view(), {QPoint(1, 1)}, &error));
    paintTiles(t, {QPoint(1, 1)}, 5);
    // A second capture of the same tile within one paint must not replace the state before it.
    ASSERT_TRUE(undo.capture("t", t.view(), {QPoint(1, 1), QPoint(0, 0)}, &error));
    EXPECT_EQ(undo.tiles().size(), 2);
    ASSERT_TRUE(undo.restore("t", t.view(), &error));
    EXPECT_EQ(t.bytes, before);

    // A tile outside, a texture of another size or channel count: refused, nothing changes.
    EXPECT_FALSE(undo.capture("t", t.view(), {QPoint(2, 0)}, &error));
    EXPECT_FALSE(error.isEmpty());
    Texture wider(101, 90, 3, 304, 43);
    const std::vector<unsigned char> widerBefore = wider.bytes;
    error.clear();
    EXPECT_FALSE(undo.restore("t", wider.view(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(wider.bytes, widerBefore);
    EXPECT_FALSE(undo.capture("t", wider.view(), {QPoint(0, 0)}, &error));
    EXPECT_EQ(undo.tiles().size(), 2);

    // All or nothing: with one texture missing, the other is not touched either.
    Texture other(70, 70, 1, 72, 44);
    ASSERT_TRUE(undo.capture("other", other.view(), {QPoint(1, 1)}, &error));
    paintTiles(t, {QPoint(0, 0)}, 6);
    const std::vector<unsigned char> painted = t.bytes;
    error.clear();
    EXPECT_FALSE(undo.restore(QHash<QString, TextureView>{{"t", t.view()}}, &error));
    EXPECT_TRUE(error.contains("other"));
    EXPECT_EQ(t.bytes, painted);
    TileSnapshot redo;
    EXPECT_FALSE(undo.captureAfter(QHash<QString, TextureView>{{"t", t.view()}}, &redo, &error));
    EXPECT_TRUE(redo.isEmpty());
}

TEST(PaintTiles, DamagedFilesAreRefusedWithAMessage)
{
    Texture t(150, 70, 3, 452, 7);
    TileSnapshot kept;
    QString error;
    ASSERT_TRUE(kept.capture("k", t.view(), {QPoint(0, 0), QPoint(2, 1)}, &error));
    const QByteArray good = kept.toBytes();
    TileSnapshot check;
    ASSERT_TRUE(TileSnapshot::fromBytes(good, &check, &error)) << error.toStdString();

    // The tile record's column lies at a known place in the body: key length, key "k", three
    // sizes, then the tile's texture and column.
    QByteArray body = qUncompress(good.mid(28));
    ASSERT_EQ(body.size(), 17 + 12 + 64 * 64 * 3 + 12 + 22 * 6 * 3);
    patch<quint32>(body, 21, 9);
    QByteArray outside = good.left(28) + qCompress(body);

    QByteArray newer = good;
    patch<quint32>(newer, 8, 2);
    QByteArray flipped = good;
    flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x5a);
    QByteArray wrongSize = good;
    patch<quint64>(wrongSize, 20, 12345);

    const QMap<QString, QByteArray> damaged{{"empty", QByteArray()},
                                            {"foreign", QByteArray("PNG and something else entirely, long enough")},
                                            {"cut in the header", good.left(20)},
                                            {"cut in the body", good.left(good.size() - 10)},
                                            {"newer", newer},
                                            {"flipped byte", flipped},
                                            {"size in the header", wrongSize},
                                            {"tile outside", outside}};
    QTemporaryDir dir;
    for (auto it = damaged.constBegin(); it != damaged.constEnd(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        const QString file = dir.filePath("bad.tiles");
        ASSERT_TRUE(orvtest::writeFile(file, it.value()));
        TileSnapshot out = kept;
        error.clear();
        EXPECT_FALSE(TileSnapshot::load(file, &out, &error));
        EXPECT_TRUE(error.contains("bad.tiles")) << error.toStdString();
        EXPECT_EQ(out.byteCount(), kept.byteCount());  // left as it was
    }
    error.clear();
    EXPECT_FALSE(TileSnapshot::load(dir.filePath("missing.tiles"), &check, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(PaintData, FolderBesideTheProjectAndStoredPathsStayInside)
{
    QTemporaryDir dir;
    const ProjectData data(dir.filePath("my.site.orvproj"));
    EXPECT_EQ(data.rootPath(), QDir::cleanPath(dir.filePath("my.site.orvdata")));
    EXPECT_FALSE(QFileInfo::exists(data.rootPath()));  // made on demand only

    EXPECT_TRUE(data.fromStored("../my.site.orvproj").isEmpty());
    EXPECT_TRUE(data.fromStored("paints/../../x.png").isEmpty());
    EXPECT_TRUE(data.fromStored(dir.filePath("my.site.orvdata/paints/a")).isEmpty());
    EXPECT_EQ(data.fromStored("paints/a/undo.tiles"), data.rootPath() + "/paints/a/undo.tiles");
    EXPECT_EQ(data.toStored(data.rootPath() + "/paints/a/undo.tiles"), "paints/a/undo.tiles");
    EXPECT_TRUE(data.toStored(dir.filePath("my.site.orvdata-other/x")).isEmpty());
    EXPECT_FALSE(ProjectData::isValidName("../x"));
    EXPECT_FALSE(ProjectData::isValidName(".hidden"));
    EXPECT_TRUE(data.paintPath("a/b").isEmpty());

    QString error;
    const QDateTime when(QDate(2026, 12, 7), QTime(14, 5, 9), Qt::UTC);
    const QString first = data.newPaintName(when);
    EXPECT_EQ(first, "paint-20261207-140509");
    ASSERT_TRUE(data.ensurePaint(first, &error)) << error.toStdString();
    EXPECT_EQ(data.newPaintName(when), "paint-20261207-140509-2");

    // A file where the folder should be is reported, not replaced.
    const ProjectData blocked(dir.filePath("blocked.orvproj"));
    ASSERT_TRUE(orvtest::writeFile(dir.filePath("blocked.orvdata"), "user file"));
    EXPECT_FALSE(blocked.ensureTextures(&error));
    EXPECT_TRUE(error.contains("blocked.orvdata"));
    EXPECT_EQ(orvtest::readFile(dir.filePath("blocked.orvdata")), QByteArray("user file"));
}

TEST(PaintData, LogKeepsTheLastTwentyPaintsAndRemovesTheOldestFolder)
{
    QTemporaryDir dir;
    const ProjectData data(dir.filePath("site.orvproj"));
    PaintLog log(data);
    QString error, warning;
    for (int i = 0; i < 21; ++i) {
        const PaintRecord r = sampleRecord(data, i);
        ASSERT_TRUE(data.ensurePaint(r.name, &error));
        ASSERT_TRUE(orvtest::writeFile(data.fromStored(r.undoTiles), "tiles"));
        ASSERT_TRUE(log.append(r, &error, &warning)) << error.toStdString();
        EXPECT_TRUE(warning.isEmpty());
    }
    ASSERT_EQ(log.paints().size(), PaintLog::kMaxPaints);
    EXPECT_EQ(log.paints().first().name, "paint-01");
    EXPECT_EQ(log.paints().last().name, "paint-20");
    EXPECT_FALSE(QFileInfo::exists(data.paintPath("paint-00")));
    EXPECT_TRUE(QFileInfo::exists(data.paintPath("paint-01") + "/undo.tiles"));
    EXPECT_FALSE(log.append(sampleRecord(data, 20), &error));  // the name is listed already
    EXPECT_EQ(log.paints().size(), PaintLog::kMaxPaints);

    PaintLog reread(data);
    ASSERT_TRUE(reread.load(&warning));
    EXPECT_TRUE(warning.isEmpty()) << warning.toStdString();
    ASSERT_EQ(reread.paints().size(), PaintLog::kMaxPaints);
    for (int i = 0; i < PaintLog::kMaxPaints; ++i) {
        const PaintRecord& a = log.paints()[i];
        const PaintRecord& b = reread.paints()[i];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.time, b.time);
        EXPECT_EQ(a.photoIndex, b.photoIndex);
        EXPECT_EQ(a.textureKeys, b.textureKeys);
        EXPECT_EQ(a.undoTiles, b.undoTiles);
        EXPECT_EQ(a.backupPicture, b.backupPicture);
        EXPECT_EQ(std::memcmp(a.camera.R, b.camera.R, sizeof a.camera.R), 0);
        EXPECT_EQ(std::memcmp(a.camera.t, b.camera.t, sizeof a.camera.t), 0);
        EXPECT_EQ(a.camera.fx, b.camera.fx);
        EXPECT_EQ(a.camera.k1, b.camera.k1);
        EXPECT_EQ(a.camera.k2, b.camera.k2);
        ASSERT_EQ(b.camera.residuals.size(), 2);
        EXPECT_EQ(b.camera.residuals[1].pixels, 3.25);
        EXPECT_FALSE(b.camera.residuals[1].used);
    }

    ASSERT_TRUE(reread.remove("paint-05", &error)) << error.toStdString();
    EXPECT_EQ(reread.find("paint-05"), nullptr);
    EXPECT_FALSE(QFileInfo::exists(data.paintPath("paint-05")));
    EXPECT_EQ(reread.paints().size(), PaintLog::kMaxPaints - 1);
}

TEST(PaintData, DamagedOrEditedLogLoadsWhatItCan)
{
    QTemporaryDir dir;
    const ProjectData data(dir.filePath("site.orvproj"));
    PaintLog log(data);
    QString error, warning;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(log.append(sampleRecord(data, i), &error)) << error.toStdString();
    const QByteArray written = orvtest::readFile(log.path());

    // Entry 1 leads out of the folder, entry 2 has a camera that is not a rotation, entry 3 is fine;
    // a fourth entry is no object at all.
    QJsonObject root = QJsonDocument::fromJson(written).object();
    QJsonArray paints = root.value("paints").toArray();
    QJsonObject first = paints[0].toObject();
    first.insert("undoTiles", "../../site.orvproj");
    QJsonObject second = paints[1].toObject();
    QJsonObject camera = second.value("camera").toObject();
    camera.insert("R", QJsonArray{2, 0, 0, 0, 1, 0, 0, 0, 1});
    second.insert("camera", camera);
    paints[0] = first;
    paints[1] = second;
    paints.append(QStringLiteral("not a paint"));
    root.insert("paints", paints);
    ASSERT_TRUE(orvtest::writeFile(log.path(), QJsonDocument(root).toJson()));
    PaintLog edited(data);
    EXPECT_TRUE(edited.load(&warning));
    ASSERT_EQ(edited.paints().size(), 1);
    EXPECT_EQ(edited.paints()[0].name, "paint-02");
    EXPECT_TRUE(warning.contains("entry 1")) << warning.toStdString();
    EXPECT_TRUE(warning.contains("entry 2")) << warning.toStdString();
    EXPECT_TRUE(warning.contains("entry 4")) << warning.toStdString();

    const QByteArray broken[] = {written.left(written.size() / 2), QByteArray("\x00\x01garbage", 9),
                                 QByteArray("[1, 2, 3]"), QByteArray(R"({"format": "other", "version": 1})"),
                                 QByteArray(R"({"format": "orv-paint-log", "version": 9, "paints": []})")};
    for (const QByteArray& bytes : broken) {
        ASSERT_TRUE(orvtest::writeFile(log.path(), bytes));
        PaintLog damaged(data);
        warning.clear();
        EXPECT_FALSE(damaged.load(&warning));
        EXPECT_TRUE(damaged.paints().isEmpty());
        EXPECT_TRUE(warning.contains("paints.json")) << warning.toStdString();
    }
}

TEST(PaintData, FailedWritesLeaveThePreviousFiles)
{
    QTemporaryDir dir;
    const ProjectData data(dir.filePath("site.orvproj"));
    QString error;

    // The log.
    PaintLog log(data);
    ASSERT_TRUE(log.append(sampleRecord(data, 0), &error));
    const QByteArray logBefore = orvtest::readFile(log.path());
    const QStringList rootBefore =
        QDir(data.rootPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const char* stage : {"write", "commit"}) {
        FaultGuard fault(stage);
        error.clear();
        EXPECT_FALSE(log.append(sampleRecord(data, 1), &error));
        EXPECT_TRUE(error.contains("paints.json")) << error.toStdString();
        EXPECT_EQ(log.paints().size(), 1);
    }
    EXPECT_EQ(orvtest::readFile(log.path()), logBefore);
    EXPECT_EQ(QDir(data.rootPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), rootBefore);

    // A tile file.
    Texture t(80, 80, 3, 240, 3);
    TileSnapshot first, second;
    ASSERT_TRUE(first.capture("t", t.view(), {QPoint(0, 0)}, &error));
    ASSERT_TRUE(second.capture("t", t.view(), {QPoint(1, 1)}, &error));
    const QString tiles = dir.filePath("site.orvdata/undo.tiles");
    ASSERT_TRUE(first.save(tiles, &error));
    {
        FaultGuard fault("commit");
        EXPECT_FALSE(second.save(tiles, &error));
    }
    EXPECT_EQ(orvtest::readFile(tiles), first.toBytes());

    // A working texture saved before.
    WorkingTextureStore store(data);
    QImage red(33, 17, QImage::Format_RGB888);
    red.fill(Qt::red);
    ASSERT_TRUE(store.save("wall", "wall.jpg", red, &error)) << error.toStdString();
    const QByteArray pngBefore = orvtest::readFile(store.savedPath("wall"));
    const QByteArray indexBefore = orvtest::readFile(store.indexPath());
    QImage blue = red;
    blue.fill(Qt::blue);
    {
        FaultGuard fault("write");
        EXPECT_FALSE(store.save("wall", "wall.jpg", blue, &error));
        EXPECT_FALSE(store.save("roof", "roof.jpg", blue, &error));
    }
    EXPECT_EQ(orvtest::readFile(store.savedPath("wall")), pngBefore);
    EXPECT_EQ(orvtest::readFile(store.indexPath()), indexBefore);
    EXPECT_TRUE(store.savedPath("roof").isEmpty());
    EXPECT_EQ(QDir(data.texturesPath()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"wall.png", "working.json"}));
}

TEST(PaintData, WorkingTexturesGetUniqueNamesAndTheMapPersists)
{
    QTemporaryDir dir;
    const ProjectData data(dir.filePath("site.orvproj"));
    WorkingTextureStore store(data);
    QString error, warning;
    QImage a(40, 30, QImage::Format_RGB888), b(40, 30, QImage::Format_ARGB32);
    a.fill(QColor(10, 200, 30));
    b.fill(QColor(200, 10, 30, 128));
    ASSERT_TRUE(store.save("/photos/a/wall.jpg", "wall.jpg", a, &error)) << error.toStdString();
    ASSERT_TRUE(store.save("/photos/b/wall.jpg", "wall.jpg", b, &error));
    ASSERT_TRUE(store.save("/photos/c/Wall.JPG", "Wall.JPG", a, &error));
    ASSERT_TRUE(store.save("odd", "../../x y?.tif", a, &error));
    ASSERT_TRUE(store.save("map", "working.png", a, &error));
    EXPECT_EQ(store.storedPath("/photos/a/wall.jpg"), "textures/wall.png");
    EXPECT_EQ(store.storedPath("/photos/b/wall.jpg"), "textures/wall-2.png");
    EXPECT_EQ(store.storedPath("/photos/c/Wall.JPG"), "textures/Wall-3.png");
    EXPECT_EQ(store.storedPath("odd"), "textures/x_y_.png");
    EXPECT_EQ(store.storedPath("map"), "textures/textureworking.png");

    // Saving a texture again replaces its own file.
    ASSERT_TRUE(store.save("/photos/a/wall.jpg", "wall.jpg", b, &error));
    EXPECT_EQ(store.storedPath("/photos/a/wall.jpg"), "textures/wall.png");
    EXPECT_EQ(QImage(store.savedPath("/photos/a/wall.jpg")).convertToFormat(QImage::Format_ARGB32),
              b.convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(QImage(store.savedPath("/photos/b/wall.jpg")).convertToFormat(QImage::Format_ARGB32),
              b.convertToFormat(QImage::Format_ARGB32));

    WorkingTextureStore reread(data);
    ASSERT_TRUE(reread.load(&warning));
    EXPECT_TRUE(warning.isEmpty());
    EXPECT_EQ(reread.keys(), store.keys());
    for (const QString& key : store.keys()) EXPECT_EQ(reread.savedPath(key), store.savedPath(key));

    // A hand-edited map that points out of the folder loses that entry only.
    QJsonObject root = QJsonDocument::fromJson(orvtest::readFile(store.indexPath())).object();
    QJsonArray entries = root.value("textures").toArray();
    entries.append(QJsonObject{{"key", "evil"}, {"file", "../site.orvproj"}});
    root.insert("textures", entries);
    ASSERT_TRUE(orvtest::writeFile(store.indexPath(), QJsonDocument(root).toJson()));
    ASSERT_TRUE(reread.load(&warning));
    EXPECT_TRUE(reread.savedPath("evil").isEmpty());
    EXPECT_EQ(reread.keys().size(), 5);
    EXPECT_FALSE(warning.isEmpty());
}

TEST(PaintData, NothingIsWrittenBesideTheProjectOutsideItsDataFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(orvtest::writeFile(dir.filePath("site.orvproj"), "project database"));
    ASSERT_TRUE(orvtest::writeFile(dir.filePath("photos/p1.jpg"), "photo"));
    QImage texture(90, 70, QImage::Format_RGB888);
    texture.fill(QColor(1, 2, 3));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("tiles")));
    ASSERT_TRUE(texture.save(dir.filePath("tiles/wall.png")));
    const QString dataRoot = QDir::cleanPath(dir.filePath("site.orvdata"));
    const QMap<QString, QByteArray> before = filesUnder(dir.path());

    // A whole paint: its folder, kept tiles before and after, the log, the saved working texture.
    const ProjectData data(dir.filePath("site.orvproj"));
    QString error;
    const QString name = data.newPaintName(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC));
    ASSERT_TRUE(data.ensurePaint(name, &error));
    Texture t(90, 70, 3, 272, 9);
    const std::vector<unsigned char> original = t.bytes;
    TileSnapshot undo, redo;
    ASSERT_TRUE(undo.capture("tiles/wall.png", t.view(), {QPoint(1, 1)}, &error));
    paintTiles(t, {QPoint(1, 1)}, 10);
    ASSERT_TRUE(undo.captureAfter(QHash<QString, TextureView>{{"tiles/wall.png", t.view()}}, &redo, &error));
    ASSERT_TRUE(undo.save(data.paintPath(name) + "/undo.tiles", &error));
    ASSERT_TRUE(redo.save(data.paintPath(name) + "/redo.tiles", &error));
    PaintRecord r = sampleRecord(data, 1);
    r.name = name;
    r.undoTiles = data.toStored(data.paintPath(name) + "/undo.tiles");
    r.redoTiles = data.toStored(data.paintPath(name) + "/redo.tiles");
    PaintLog log(data);
    ASSERT_TRUE(log.append(r, &error)) << error.toStdString();
    WorkingTextureStore store(data);
    ASSERT_TRUE(store.save("tiles/wall.png", dir.filePath("tiles/wall.png"), texture, &error));

    const std::vector<unsigned char> painted = t.bytes;

    // Reopened: the paint is found in the log and its textures come back, then the paint again.
    PaintLog reopened(data);
    ASSERT_TRUE(reopened.load(&error));
    ASSERT_NE(reopened.find(name), nullptr);
    TileSnapshot kept;
    ASSERT_TRUE(loadPaintTiles(data, *reopened.find(name), false, &kept, &error)) << error.toStdString();
    ASSERT_TRUE(kept.restore(QHash<QString, TextureView>{{"tiles/wall.png", t.view()}}, &error));
    EXPECT_EQ(t.bytes, original);
    ASSERT_TRUE(loadPaintTiles(data, *reopened.find(name), true, &kept, &error)) << error.toStdString();
    ASSERT_TRUE(kept.restore(QHash<QString, TextureView>{{"tiles/wall.png", t.view()}}, &error));
    EXPECT_EQ(t.bytes, painted);
    PaintRecord withoutRedo = *reopened.find(name);
    withoutRedo.redoTiles.clear();
    error.clear();
    EXPECT_FALSE(loadPaintTiles(data, withoutRedo, true, &kept, &error));
    EXPECT_FALSE(error.isEmpty());

    EXPECT_EQ(filesUnder(dir.path(), dataRoot + "/"), before);
    const QMap<QString, QByteArray> inside = filesUnder(dataRoot);
    EXPECT_EQ(inside.keys(),
              (QStringList{"paints.json", "paints/" + name + "/redo.tiles", "paints/" + name + "/undo.tiles",
                           "textures/wall.png", "textures/working.json"}));
}
