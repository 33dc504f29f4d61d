// The paint commands in the host's window on a generated sample: painting a mapped photo is one
// undo step that gives back the textures byte for byte, survives a save and a reopen through the
// kept tiles and the saved working textures, refuses what it cannot do without changing
// anything; an edited backup picture is mapped back onto the textures; textures are exported.
#include <IOrv3DViewer.h>
#include <IOrvMainFrame.h>
#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>
#include <cstring>
#include <memory>

#include "CoreBackup.h"
#include "HostWindow.h"
#include "PaintCommands.h"
#include "ProjectData.h"
#include "SampleGenerator.h"
#include "SampleProject.h"
#include "TileSnapshot.h"

using namespace orvCore;

namespace {

constexpr int kTiles = 4;

QByteArray fileDigest(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

// A texture's pixel bytes as they lie in memory (rows bottom-up, padding included).
struct Pixels {
    int width = 0, height = 0, rowBytes = 0, channels = 0;
    QByteArray bytes;
    bool operator==(const Pixels& o) const
    {
        return width == o.width && height == o.height && rowBytes == o.rowBytes && bytes == o.bytes;
    }
    bool operator!=(const Pixels& o) const { return !(*this == o); }
};

class PaintCommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        ASSERT_TRUE(s_dir->isValid());
        orvsample::SampleOptions o;
        o.outDir = s_dir->filePath(QStringLiteral("sample"));
        o.tiles = kTiles;
        o.trianglesTotal = 2000;
        o.photoSize = QSize(800, 600);
        o.textureSize = 256;
        o.seed = 7;
        o.marks = 8;
        const orvsample::SampleResult made = orvsample::generateSample(o);
        ASSERT_TRUE(made.ok) << made.error.toStdString();
        s_manifest = made.manifestPath;
        s_textureFiles.clear();
        for (const QString& f : made.otherFiles)
            if (!f.endsWith(QLatin1String(".mtl"))) s_textureFiles << f;
        ASSERT_EQ(s_textureFiles.size(), kTiles) << made.otherFiles.join(' ').toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        qApp->setProperty("orvHeadless", true);
        // A project of its own for every test (its data folder lies beside it); the last photo
        // is left unmapped.
        projectPath = QDir(tmp.path()).filePath(QStringLiteral("site.orvproj"));
        const orvsample::ProjectSummary project = orvsample::buildSampleProject(s_manifest, projectPath, 1);
        ASSERT_TRUE(project.ok) << project.error.toStdString();
        window = std::make_unique<orvHost::HostWindow>(true);
        QString error;
        ASSERT_TRUE(window->create(&error)) << error.toStdString();
        ASSERT_TRUE(window->prepareBackupView(QSize(800, 600), &error)) << error.toStdString();
        window->show();
        openProject();
        for (const QString& f : s_textureFiles) textureDigests.insert(f, fileDigest(f));
    }
    void TearDown() override
    {
        if (window) window->shutDown();
        if (mm) mm->closeProject();
        qApp->setProperty("orvHeadless", QVariant());
        QTimer::singleShot(0, []() { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    void openProject()
    {
        ASSERT_TRUE(window->openProject(projectPath));
        vm = orvUI::getVM();
        mm = vm->getModelMan();
        viewer = window->frame()->get3DViewer(orvHost::Id3DViewer);
        ASSERT_NE(viewer, nullptr);
        QElapsedTimer clock;
        clock.start();
        while ((viewer->drawScene(false) != 0 || viewer->viewWidth() != 800) && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_EQ(viewer->viewWidth(), 800);
        vm->clearUndo();
    }

    Pixels pixels(int index) const
    {
        Pixels p;
        ref_ptr<IZimMesh> mesh;
        if (mm->getMeshAt(mesh, index) != 0 || !mesh) return p;
        ref_ptr<IZimImage> image = mesh->meshTexture();
        if (!image) return p;
        p.width = image->imageWidth();
        p.height = image->imageHeight();
        p.rowBytes = image->imageRowBytes();
        p.channels = image->imageBits() / 8;
        p.bytes = QByteArray(reinterpret_cast<const char*>(image->imageData(0)), p.rowBytes * p.height);
        return p;
    }
    QVector<Pixels> allPixels() const
    {
        QVector<Pixels> out;
        for (int i = 0; i < kTiles; ++i) out.append(pixels(i));
        return out;
    }
    // Texels whose bytes differ between two states of one texture.
    static qint64 texelsDiffering(const Pixels& a, const Pixels& b)
    {
        qint64 n = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                if (std::memcmp(a.bytes.constData() + y * a.rowBytes + x * a.channels,
                                b.bytes.constData() + y * b.rowBytes + x * b.channels, size_t(a.channels)) != 0)
                    ++n;
        return n;
    }
    void expectUserTexturesUntouched() const
    {
        for (auto it = textureDigests.constBegin(); it != textureDigests.constEnd(); ++it)
            EXPECT_EQ(fileDigest(it.key()), it.value()) << it.key().toStdString();
    }

    TextureRefresh recorder()
    {
        return [this](const QVector<int>& meshes) { refreshed = meshes; };
    }

    static QTemporaryDir* s_dir;
    static QString s_manifest;
    static QStringList s_textureFiles;
    QTemporaryDir tmp;
    QString projectPath;
    std::unique_ptr<orvHost::HostWindow> window;
    ref_ptr<orvUI::IOrvViewerMan> vm;
    ref_ptr<IZimMM> mm;
    orvUI::IOrv3DViewer* viewer = nullptr;
    QHash<QString, QByteArray> textureDigests;
    QVector<int> refreshed;
};

QTemporaryDir* PaintCommandsTest::s_dir = nullptr;
QString PaintCommandsTest::s_manifest;
QStringList PaintCommandsTest::s_textureFiles;

}  // namespace

TEST_F(PaintCommandsTest, PaintUndoRedoSaveReopenAndRestore)
{
    const QVector<Pixels> before = allPixels();
    PaintRequest request;
    request.photo = 0;
    const TextureOutcome outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, request, nullptr, recorder());
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    const QVector<Pixels> painted = allPixels();

    // The counts are those of the bytes that changed.
    qint64 texels = 0;
    QVector<int> changed;
    for (int i = 0; i < kTiles; ++i) {
        const qint64 n = texelsDiffering(before[i], painted[i]);
        texels += n;
        if (n > 0) changed.append(i);
        EXPECT_EQ(mm->isTextureEdited(i), n > 0) << i;
    }
    EXPECT_GT(texels, 0);
    EXPECT_EQ(outcome.texels, texels);
    EXPECT_EQ(outcome.meshes, changed.size());
    EXPECT_EQ(refreshed, changed);
    EXPECT_EQ(
        paintDoneText(outcome),
        QString("Painted photo tile_000.jpg onto %1 textures: %2 texels changed").arg(changed.size()).arg(texels));

    // The paint's files: its backup with the records beside it, and both kept states, whose
    // tiles hold every texel that changed (the painter's tile rows are the store's).
    const orvpaint::ProjectData data(projectPath);
    EXPECT_TRUE(QFileInfo(outcome.backupPicture).isFile());
    EXPECT_TRUE(data.contains(outcome.backupPicture));
    EXPECT_TRUE(QFileInfo(QFileInfo(outcome.backupPicture).dir().filePath("backup.orvbackup")).isFile());
    orvpaint::TileSnapshot kept;
    QString error;
    ASSERT_TRUE(orvpaint::TileSnapshot::load(QDir(data.paintPath(outcome.name)).filePath("undo.tiles"), &kept, &error))
        << error.toStdString();
    for (int i : changed) {
        const QVector<QPoint> tiles = kept.tilesOf(QString::number(i));
        const Pixels& a = before[i];
        const Pixels& b = painted[i];
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                if (std::memcmp(a.bytes.constData() + y * a.rowBytes + x * a.channels,
                                b.bytes.constData() + y * b.rowBytes + x * b.channels, size_t(a.channels)) != 0) {
                    ASSERT_TRUE(tiles.contains(QPoint(x / orvpaint::kTileSize, y / orvpaint::kTileSize)))
                        << "texel " << x << "," << y << " of texture " << i;
                }
    }
    // The database names the log.
    int size = 0;
    mm->readProjectData("paint", "log", nullptr, 0, &size);
    EXPECT_GT(size, 0);

    // Undo gives the bytes back, redo the painted ones.
    ASSERT_TRUE(vm->canUndo());
    refreshed.clear();
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(allPixels(), before);
    EXPECT_EQ(refreshed, changed);
    ASSERT_EQ(vm->redo(), 0);
    EXPECT_EQ(allPixels(), painted);

    // Saved: each changed texture has its working copy in the data folder, holding the painted
    // texels; the user's files are as they were.
    ASSERT_TRUE(saveWorkingTextures(mm.get(), &error)) << error.toStdString();
    for (int i = 0; i < kTiles; ++i) {
        ref_ptr<IZimMesh> mesh;
        ASSERT_EQ(mm->getMeshAt(mesh, i), 0);
        if (!changed.contains(i)) {
            EXPECT_TRUE(mm->workingTexture(i).isEmpty()) << i;
            continue;
        }
        const QString saved = mm->workingTexture(i);
        EXPECT_TRUE(data.contains(saved)) << saved.toStdString();
        EXPECT_EQ(QImage(saved).convertToFormat(QImage::Format_RGB888),
                  mesh->meshTexture()->imageToQImage().convertToFormat(QImage::Format_RGB888))
            << i;
    }
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    EXPECT_FALSE(mm->isModified());
    expectUserTexturesUntouched();

    // Closed and opened again: a mesh whose working copy the project names shows the painted
    // texels.
    mm->closeProject();
    openProject();
    const QVector<Pixels> reopened = allPixels();
    for (int i = 0; i < kTiles; ++i) {
        if (!mm->workingTexture(i).isEmpty()) {
            EXPECT_EQ(texelsDiffering(reopened[i], painted[i]), 0) << i;
        }
    }
    QString warning;
    const QVector<KeptPaint> paints = keptPaints(mm.get(), &warning);
    EXPECT_TRUE(warning.isEmpty()) << warning.toStdString();
    ASSERT_EQ(paints.size(), 1);
    EXPECT_EQ(paints[0].name, outcome.name);
    EXPECT_EQ(paints[0].photo, 0);
    EXPECT_EQ(paints[0].textures, changed.size());

    // Restoring the kept paint puts back the textures as they were before it; undone, the
    // painted ones return.
    const TextureOutcome restored = restorePaintUndoable(mm.get(), vm.get(), outcome.name, recorder());
    ASSERT_TRUE(restored.ok) << restored.error.toStdString();
    qint64 restoredTexels = 0;
    for (int i = 0; i < kTiles; ++i) {
        const Pixels now = pixels(i);
        EXPECT_EQ(texelsDiffering(now, before[i]), 0) << i;
        restoredTexels += texelsDiffering(now, reopened[i]);
    }
    EXPECT_EQ(restored.texels, restoredTexels);
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(allPixels(), reopened);
    EXPECT_FALSE(restorePaintUndoable(mm.get(), vm.get(), "paint-none", recorder()).ok);
}

TEST_F(PaintCommandsTest, RefusalsChangeNothing)
{
    const QVector<Pixels> before = allPixels();
    const orvpaint::ProjectData data(projectPath);
    const auto refused = [&](const PaintRequest& request) {
        const TextureOutcome outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, request, nullptr, recorder());
        EXPECT_FALSE(outcome.ok);
        EXPECT_FALSE(outcome.error.isEmpty());
        EXPECT_FALSE(vm->canUndo());
        EXPECT_EQ(allPixels(), before);
        EXPECT_TRUE(refreshed.isEmpty());
        EXPECT_FALSE(QDir(data.paintsPath()).exists() && !QDir(data.paintsPath()).isEmpty());
        return outcome.error;
    };
    PaintRequest unmapped;
    unmapped.photo = kTiles - 1;
    EXPECT_TRUE(refused(unmapped).contains("not mapped"));
    PaintRequest unknown;
    unknown.photo = kTiles + 5;
    refused(unknown);
    PaintRequest badMask;
    badMask.photo = 0;
    badMask.maskPath = QDir(tmp.path()).filePath("mask.png");
    QFile f(badMask.maskPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture");
    f.close();
    EXPECT_TRUE(refused(badMask).contains("mask"));
    PaintRequest noViewer;
    noViewer.photo = 0;
    const TextureOutcome outcome = paintPhotoUndoable(mm.get(), vm.get(), nullptr, noViewer, nullptr, recorder());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(allPixels(), before);
    // A mask that paints nowhere leaves nothing painted.
    PaintRequest black;
    black.photo = 0;
    black.maskPath = QDir(tmp.path()).filePath("black.png");
    QImage none(80, 60, QImage::Format_Grayscale8);
    none.fill(0);
    ASSERT_TRUE(none.save(black.maskPath));
    refused(black);
}

TEST_F(PaintCommandsTest, AMaskLimitsThePaint)
{
    const QVector<Pixels> before = allPixels();
    // Paints the left half of the photo only.
    PaintRequest half;
    half.photo = 0;
    half.maskPath = QDir(tmp.path()).filePath("half.png");
    QImage mask(80, 60, QImage::Format_Grayscale8);
    mask.fill(0);
    QPainter(&mask).fillRect(0, 0, 40, 60, Qt::white);
    ASSERT_TRUE(mask.save(half.maskPath));
    const TextureOutcome masked = paintPhotoUndoable(mm.get(), vm.get(), viewer, half, nullptr, recorder());
    ASSERT_TRUE(masked.ok) << masked.error.toStdString();
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(allPixels(), before);
    PaintRequest whole;
    whole.photo = 0;
    const TextureOutcome full = paintPhotoUndoable(mm.get(), vm.get(), viewer, whole, nullptr, recorder());
    ASSERT_TRUE(full.ok) << full.error.toStdString();
    EXPECT_LT(masked.texels, full.texels);
    EXPECT_GT(masked.texels, 0);
}

TEST_F(PaintCommandsTest, EditedBackupRoundTrip)
{
    ZimPhotoCamera camera;
    ASSERT_EQ(mm->getImageCamera(0, camera), 0);
    ASSERT_EQ(viewer->lookThroughCamera(camera), 0);
    const QString original = QDir(tmp.path()).filePath("view.png");
    const BackupResult backup = takeBackup(mm.get(), viewer, original);
    ASSERT_TRUE(backup.ok) << backupFailureText(backup, original).toStdString();
    const QVector<Pixels> before = allPixels();

    // An unedited copy changes nothing and pushes no step.
    const QString copy = QDir(tmp.path()).filePath("copy.png");
    ASSERT_TRUE(QFile::copy(original, copy));
    TextureOutcome outcome = applyEditedBackupUndoable(mm.get(), vm.get(), copy, original, recorder());
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(outcome.texels, 0);
    EXPECT_FALSE(applyDoneText(outcome).isEmpty());
    EXPECT_FALSE(vm->canUndo());
    EXPECT_EQ(allPixels(), before);

    // Another picture size is refused.
    const QString smaller = QDir(tmp.path()).filePath("smaller.png");
    ASSERT_TRUE(QImage(original).scaled(400, 300).save(smaller));
    outcome = applyEditedBackupUndoable(mm.get(), vm.get(), smaller, original, recorder());
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.isEmpty());
    EXPECT_EQ(allPixels(), before);
    // A picture without records is refused.
    outcome = applyEditedBackupUndoable(mm.get(), vm.get(), copy, copy, recorder());
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(vm->canUndo());

    // A red square painted in the middle changes the textures; undo gives them back.
    QImage edited(original);
    QPainter(&edited).fillRect(QRect(350, 250, 100, 100), Qt::red);
    const QString editedPath = QDir(tmp.path()).filePath("edited.png");
    ASSERT_TRUE(edited.save(editedPath));
    outcome = applyEditedBackupUndoable(mm.get(), vm.get(), editedPath, original, recorder());
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    const QVector<Pixels> after = allPixels();
    qint64 texels = 0;
    for (int i = 0; i < kTiles; ++i) texels += texelsDiffering(before[i], after[i]);
    EXPECT_GT(texels, 0);
    EXPECT_EQ(outcome.texels, texels);
    EXPECT_FALSE(refreshed.isEmpty());
    ASSERT_TRUE(vm->canUndo());
    ASSERT_EQ(vm->undo(), 0);
    EXPECT_EQ(allPixels(), before);
    ASSERT_EQ(vm->redo(), 0);
    EXPECT_EQ(allPixels(), after);

    // The same picture brought to another project (a copy of this one at another path) is
    // refused there.
    mm->closeProject();
    const QString otherPath = QDir(tmp.path()).filePath("other/site.orvproj");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(otherPath).path()));
    ASSERT_TRUE(QFile::copy(projectPath, otherPath));
    ASSERT_EQ(mm->openProject(otherPath, nullptr), 0) << mm->lastError().toStdString();
    vm->clearUndo();
    const QVector<Pixels> other = allPixels();
    outcome = applyEditedBackupUndoable(mm.get(), vm.get(), editedPath, original, recorder());
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.isEmpty());
    EXPECT_EQ(allPixels(), other);
    EXPECT_FALSE(vm->canUndo());
}

TEST_F(PaintCommandsTest, ExportWritesTheTexturesAndRefusesExistingFiles)
{
    PaintRequest request;
    request.photo = 0;
    ASSERT_TRUE(paintPhotoUndoable(mm.get(), vm.get(), viewer, request, nullptr, recorder()).ok);
    const QString folder = QDir(tmp.path()).filePath("export");
    ASSERT_TRUE(QDir().mkpath(folder));
    QStringList written;
    QString error;
    ASSERT_TRUE(exportTextures(mm.get(), folder, &written, &error)) << error.toStdString();
    ASSERT_EQ(written.size(), kTiles);
    for (int i = 0; i < kTiles; ++i) {
        ref_ptr<IZimMesh> mesh;
        ASSERT_EQ(mm->getMeshAt(mesh, i), 0);
        QString name;
        mesh->meshTextureName(name);
        const QString path = QDir(folder).filePath(name + ".png");
        ASSERT_TRUE(written.contains(path)) << path.toStdString();
        const QImage file(path);
        ASSERT_FALSE(file.isNull());
        const QImage texture = mesh->meshTexture()->imageToQImage();
        EXPECT_EQ(file.convertToFormat(QImage::Format_RGB888), texture.convertToFormat(QImage::Format_RGB888)) << i;
    }
    // A second export would write over them: refused, the files kept.
    const QByteArray first = fileDigest(written.first());
    QStringList again;
    EXPECT_FALSE(exportTextures(mm.get(), folder, &again, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(again.isEmpty());
    EXPECT_EQ(fileDigest(written.first()), first);
    // Nor beside the user's own textures, over the files the project is made of.
    for (const QString& texture : s_textureFiles) {
        EXPECT_FALSE(exportTextures(mm.get(), QFileInfo(texture).path(), &again, &error));
        EXPECT_TRUE(again.isEmpty());
    }
    expectUserTexturesUntouched();
}

TEST_F(PaintCommandsTest, AFailedSaveOfTheKeptTilesUndoesThePaint)
{
    const QVector<Pixels> before = allPixels();
    const orvpaint::ProjectData data(projectPath);
    qputenv("ORV_PAINT_STORE_FAULT", "commit");
    PaintRequest request;
    request.photo = 0;
    const TextureOutcome outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, request, nullptr, recorder());
    qunsetenv("ORV_PAINT_STORE_FAULT");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.error.contains("fault injected")) << outcome.error.toStdString();
    EXPECT_EQ(allPixels(), before);
    EXPECT_FALSE(vm->canUndo());
    EXPECT_TRUE(QDir(data.paintsPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    QString warning;
    EXPECT_TRUE(keptPaints(mm.get(), &warning).isEmpty());

    // Painted, the working textures cannot be saved while the data folder refuses writes: the
    // caller is told, naming the file, and the project keeps pointing at the user's textures.
    ASSERT_TRUE(paintPhotoUndoable(mm.get(), vm.get(), viewer, request, nullptr, recorder()).ok);
    qputenv("ORV_PAINT_STORE_FAULT", "write");
    QString error;
    EXPECT_FALSE(saveWorkingTextures(mm.get(), &error));
    qunsetenv("ORV_PAINT_STORE_FAULT");
    EXPECT_TRUE(error.contains(".png")) << error.toStdString();
    for (int i = 0; i < kTiles; ++i) EXPECT_TRUE(mm->workingTexture(i).isEmpty()) << i;
}

TEST_F(PaintCommandsTest, ColourMatchingBringsThePhotoToTheTextures)
{
    // The sample's photos carry exposure and white balance of their own; matched to the
    // textures, the painted texels stay closer to what the textures held.
    const QVector<Pixels> before = allPixels();
    const auto meanChange = [&]() {
        double sum = 0;
        qint64 n = 0;
        for (int i = 0; i < kTiles; ++i) {
            const Pixels now = pixels(i);
            for (int k = 0; k < now.bytes.size(); ++k) {
                const int d = std::abs(int(uchar(now.bytes[k])) - int(uchar(before[i].bytes[k])));
                sum += d;
                n += d > 0 ? 1 : 0;
            }
        }
        return n > 0 ? sum / double(n) : 0.0;
    };
    PaintRequest plain;
    plain.photo = 0;
    plain.colourMatch = false;
    TextureOutcome outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, plain, nullptr, recorder());
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    const double unmatched = meanChange();
    ASSERT_EQ(vm->undo(), 0);
    PaintRequest matched = plain;
    matched.colourMatch = true;
    outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, matched, nullptr, recorder());
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_TRUE(outcome.warnings.isEmpty()) << outcome.warnings.join('\n').toStdString();
    EXPECT_LT(meanChange(), unmatched);
}

TEST_F(PaintCommandsTest, StepsAndRestoresRefuseWhatNoLongerFits)
{
    PaintRequest request;
    request.photo = 0;
    const TextureOutcome outcome = paintPhotoUndoable(mm.get(), vm.get(), viewer, request, nullptr, recorder());
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();

    // A texture replaced by one of another size: the kept paint cannot be put back on it.
    ref_ptr<IZimMesh> mesh;
    ASSERT_EQ(mm->getMeshAt(mesh, 0), 0);
    ref_ptr<IZimImage> other = mesh->meshTexture()->imageClone();
    ASSERT_EQ(other->imageResize(128, 128, ZimImageResizeFast, 0), 0);
    mesh->setMeshTextureImage(other);
    const Pixels resized = pixels(0);
    const TextureOutcome restored = restorePaintUndoable(mm.get(), vm.get(), outcome.name, recorder());
    EXPECT_FALSE(restored.ok);
    EXPECT_FALSE(restored.error.isEmpty());
    EXPECT_EQ(pixels(0), resized);

    // Once its project is closed the paint's step refuses, also when the same file is opened
    // again: redone there, it would write into textures it never saw.
    mesh->releaseMeshTexture();
    ASSERT_EQ(vm->undo(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(projectPath, nullptr), 0) << mm->lastError().toStdString();
    const QVector<Pixels> reopened = allPixels();
    ASSERT_TRUE(vm->canRedo());
    vm->redo();
    EXPECT_EQ(allPixels(), reopened);
}
