// Mapping photos of a generated sample project: each photo's camera solved from its marks is
// compared with the true camera by where both put points of the photo's own tile; a planted
// mis-click is dropped and named, a disabled mark takes no part, broken marks and a missing photo
// are refused with the camera stored before kept, and the enabled flags are kept with the project.
// orvhost --map run on such a project: its lines, exit codes and the saved cameras.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>

#include "PhotoMapping.h"
#include "SampleGenerator.h"
#include "SampleProject.h"
#include "TestSupport.h"

namespace {

struct TrueCamera {
    orvsample::PhotoCamera camera;
    QString photoPath;
};

std::vector<TrueCamera> readCameras(const QString& manifest)
{
    QFile f(manifest);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    const QDir dir = QFileInfo(manifest).dir();
    std::vector<TrueCamera> out;
    for (const QJsonValue pv : root.value("photos").toArray()) {
        const QJsonObject po = pv.toObject();
        const QJsonObject c = po.value("camera").toObject();
        TrueCamera t;
        orvsample::PhotoCamera& cam = t.camera;
        cam.width = po.value("width").toInt();
        cam.height = po.value("height").toInt();
        const QJsonArray K = c.value("K").toArray();
        cam.focal = K[0][0].toDouble();
        cam.cx = K[0][2].toDouble();
        cam.cy = K[1][2].toDouble();
        cam.k1 = c.value("distortion")[0].toDouble();
        cam.k2 = c.value("distortion")[1].toDouble();
        for (int i = 0; i < 9; ++i) cam.R[i] = c.value("R")[i].toDouble();
        for (int i = 0; i < 3; ++i) cam.t[i] = c.value("t")[i].toDouble();
        cam.eye = XPnt3d(c.value("eye")[0].toDouble(), c.value("eye")[1].toDouble(), c.value("eye")[2].toDouble());
        t.photoPath = dir.filePath(po.value("path").toString());
        out.push_back(t);
    }
    return out;
}

// Pixel position of a world point through a stored camera; false behind it.
bool project(const ZimPhotoCamera& c, const XPnt3d& X, double* px, double* py)
{
    const double xc = c.R[0] * X.x + c.R[1] * X.y + c.R[2] * X.z + c.t[0];
    const double yc = c.R[3] * X.x + c.R[4] * X.y + c.R[5] * X.z + c.t[1];
    const double zc = c.R[6] * X.x + c.R[7] * X.y + c.R[8] * X.z + c.t[2];
    if (zc <= 0) return false;
    const double x = xc / zc, y = yc / zc, r2 = x * x + y * y, d = 1 + c.k1 * r2 + c.k2 * r2 * r2;
    *px = c.fx * x * d + c.cx;
    *py = c.fy * y * d + c.cy;
    return true;
}

// Points spread over the image's own mesh that the true camera puts inside the photo.
std::vector<XPnt3d> tilePoints(IZimMM* mm, int index, const orvsample::PhotoCamera& truth, int count)
{
    ref_ptr<IZimMesh> mesh;
    std::vector<XPnt3d> out;
    if (mm->getMeshAt(mesh, index) != 0 || !mesh) return out;
    const ref_ptr<Pnt3fArray> v = mesh->meshVertexSource();
    const ref_ptr<IntArray> tri = mesh->meshTriangles();
    if (!v || !tri || tri->count() < 3) return out;
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> unit(0, 1);
    const int triangles = tri->count() / 3;
    for (int attempt = 0; attempt < 50 * count && int(out.size()) < count; ++attempt) {
        const int t = std::min(triangles - 1, int(unit(rng) * triangles));
        const XPnt3d a((*v)[(*tri)[3 * t]]), b((*v)[(*tri)[3 * t + 1]]), c((*v)[(*tri)[3 * t + 2]]);
        double s = unit(rng), r = unit(rng);
        if (s + r > 1) s = 1 - s, r = 1 - r;
        const XPnt3d q(a.x + s * (b.x - a.x) + r * (c.x - a.x), a.y + s * (b.y - a.y) + r * (c.y - a.y),
                       a.z + s * (b.z - a.z) + r * (c.z - a.z));
        double px, py;
        if (truth.project(q, &px, &py) && px >= 0 && py >= 0 && px < truth.width && py < truth.height) out.push_back(q);
    }
    return out;
}

// Mean pixel distance between where the true and the stored camera put the tile's points.
double trueError(IZimMM* mm, int index, const orvsample::PhotoCamera& truth, const ZimPhotoCamera& solved)
{
    const std::vector<XPnt3d> points = tilePoints(mm, index, truth, 1000);
    EXPECT_GE(points.size(), 500u);
    double sum = 0;
    for (const XPnt3d& q : points) {
        double tx, ty, sx, sy;
        truth.project(q, &tx, &ty);
        if (!project(solved, q, &sx, &sy)) return std::numeric_limits<double>::infinity();
        sum += std::hypot(tx - sx, ty - sy);
    }
    return points.empty() ? std::numeric_limits<double>::infinity() : sum / points.size();
}

bool sameCamera(const ZimPhotoCamera& a, const ZimPhotoCamera& b)
{
    return a.width == b.width && a.height == b.height && a.fx == b.fx && a.fy == b.fy && a.cx == b.cx && a.cy == b.cy &&
           a.k1 == b.k1 && a.k2 == b.k2 && std::memcmp(a.R, b.R, sizeof a.R) == 0 &&
           std::memcmp(a.t, b.t, sizeof a.t) == 0 && a.rms == b.rms && a.residuals.size() == b.residuals.size();
}

const ZimMarkResidual* residualOf(const ZimPhotoCamera& c, int id)
{
    for (const ZimMarkResidual& r : c.residuals)
        if (r.id == id) return &r;
    return nullptr;
}

class Mapping : public ::testing::Test {
protected:
    // One sample of four photos with 12 marks each, written once; every test opens a fresh copy
    // of its project, in which no photo is mapped yet.
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        orvsample::SampleOptions o;
        o.outDir = s_dir->filePath("sample");
        o.tiles = 4;
        o.trianglesTotal = 8000;
        o.photoSize = QSize(1600, 1200);
        o.textureSize = 256;
        o.marks = 12;
        o.seed = 23;
        o.photoEffects = false;
        const orvsample::SampleResult r = orvsample::generateSample(o);
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        s_manifest = r.manifestPath;
        s_project = s_dir->filePath("sample/unmapped.orvproj");
        const orvsample::ProjectSummary p = orvsample::buildSampleProject(r.manifestPath, s_project, o.tiles);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        ASSERT_EQ(p.mapped, 0);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_FALSE(s_project.isEmpty());
        ASSERT_TRUE(tmp.isValid());
        // The copy lies beside the sample so that its relative paths still find the files.
        file = QFileInfo(s_project).dir().filePath(QStringLiteral("t%1.orvproj").arg(++s_copies));
        ASSERT_TRUE(QFile::copy(s_project, file));
        mm = zim::getMM();
        ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
        truth = readCameras(s_manifest);
        ASSERT_EQ(int(truth.size()), mm->imageCount());
    }
    void TearDown() override { mm->closeProject(); }

    ref_ptr<MarkArray> marksOf(int index, int kind)
    {
        ref_ptr<IZimTqState> state;
        ref_ptr<IZimImageStore> store;
        ref_ptr<IZimImageRecord> record;
        if (mm->getState(state) == 0) state->getImageStore(store);
        if (store) store->getImageRecord(record, index);
        return record ? record->getMarks(kind) : ref_ptr<MarkArray>();
    }
    // Changes the point-kind mark at `position` of an image.
    template <class Change>
    void changeMark(int index, int position, Change change)
    {
        ref_ptr<MarkArray> marks = marksOf(index, ZimMarkPoint);
        ASSERT_TRUE(marks && position < marks->count());
        change((*marks)[position]);
        ASSERT_EQ(mm->setImageMarks(index, ZimMarkPoint, marks), 0);
    }
    // Keeps only the first `count` marks of the image (any kinds).
    void keepMarks(int index, int count)
    {
        for (int kind = ZimMarkControl; kind <= ZimMarkSelected; ++kind) {
            ref_ptr<MarkArray> marks = marksOf(index, kind);
            ref_ptr<MarkArray> kept(new MarkArray());
            for (int i = 0; i < marks->count() && count > 0; ++i, --count) kept->append((*marks)[i]);
            ASSERT_EQ(mm->setImageMarks(index, kind, kept), 0);
        }
    }

    static QTemporaryDir* s_dir;
    static QString s_manifest, s_project;
    static int s_copies;
    QTemporaryDir tmp;
    QString file;
    ref_ptr<IZimMM> mm;
    std::vector<TrueCamera> truth;
};
QTemporaryDir* Mapping::s_dir = nullptr;
QString Mapping::s_manifest;
QString Mapping::s_project;
int Mapping::s_copies = 0;

TEST_F(Mapping, EveryPhotoMapsCloseToItsTrueCameraAndKeepsItThroughASave)
{
    QVector<ZimPhotoCamera> cameras;
    for (int i = 0; i < mm->imageCount(); ++i) {
        EXPECT_FALSE(mm->isImageMapped(i));
        QElapsedTimer timer;
        timer.start();
        const orvmap::MapOutcome o = orvmap::mapPhoto(mm.get(), i);
        const qint64 ms = timer.elapsed();
        ASSERT_TRUE(o.ok) << i << ": " << o.message.toStdString();
        EXPECT_TRUE(o.message.isEmpty());
        EXPECT_EQ(o.marksUsed, 12);
        EXPECT_TRUE(o.outliers.isEmpty());
        EXPECT_TRUE(mm->isImageMapped(i));
        ZimPhotoCamera stored;
        ASSERT_EQ(mm->getImageCamera(i, stored), 0);
        EXPECT_TRUE(sameCamera(stored, o.camera));
        EXPECT_EQ(stored.width, 1600);
        EXPECT_EQ(stored.height, 1200);
        EXPECT_EQ(stored.residuals.size(), 12);
        // The worst mark is the used one farthest from its solved position.
        double worst = 0;
        for (const ZimMarkResidual& r : stored.residuals)
            if (r.used) worst = std::max(worst, r.pixels);
        EXPECT_EQ(o.worstPixels, worst);
        EXPECT_EQ(residualOf(stored, o.worstId)->pixels, worst);
        EXPECT_EQ(orvmap::summary(o), QStringLiteral("12 marks, rms %1 px, worst mark %2 (%3 px)")
                                          .arg(o.rms, 0, 'f', 2)
                                          .arg(o.worstId)
                                          .arg(o.worstPixels, 0, 'f', 2));
        const double error = trueError(mm.get(), i, truth[size_t(i)].camera, stored);
        std::printf("photo %d: %s, true error %.3f px, mapped in %lld ms\n", i, qPrintable(orvmap::summary(o)), error,
                    static_cast<long long>(ms));
        EXPECT_LE(error, 2.0) << "photo " << i;
        cameras.append(stored);
    }
    EXPECT_TRUE(mm->isModified());
    ASSERT_EQ(mm->saveProject(), 0) << mm->lastError().toStdString();
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    for (int i = 0; i < cameras.size(); ++i) {
        ZimPhotoCamera stored;
        ASSERT_EQ(mm->getImageCamera(i, stored), 0);
        EXPECT_TRUE(sameCamera(stored, cameras[i])) << i;
        EXPECT_TRUE(mm->isImageMapped(i));
    }
}

TEST_F(Mapping, APlantedMisclickIsDroppedAndNamed)
{
    int id = 0;
    changeMark(1, 2, [&](MarkRecord& r) {
        id = r.id;
        r.uv.x += 60.0 / 1600;  // 60 px to the right
        r.uv.y = std::min(1.0, r.uv.y + 25.0 / 1200);
    });
    const orvmap::MapOutcome o = orvmap::mapPhoto(mm.get(), 1);
    ASSERT_TRUE(o.ok) << o.message.toStdString();
    EXPECT_EQ(o.outliers, QVector<int>{id});
    EXPECT_EQ(o.marksUsed, 11);
    EXPECT_NE(o.worstId, id);
    EXPECT_TRUE(std::any_of(o.warnings.begin(), o.warnings.end(), [&](const QString& w) {
        return w.contains(QStringLiteral("Mark %1 ").arg(id));
    })) << o.warnings.join('\n').toStdString();
    const ZimMarkResidual* r = residualOf(o.camera, id);
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->used);
    EXPECT_GT(r->pixels, 40.0);
    EXPECT_LE(trueError(mm.get(), 1, truth[1].camera, o.camera), 2.0);
}

TEST_F(Mapping, ADisabledMarkTakesNoPartAndTheFlagIsKeptWithTheProject)
{
    const QVector<orvmap::PhotoMark> before = orvmap::photoMarks(mm.get(), 2);
    ASSERT_EQ(before.size(), 12);
    for (const orvmap::PhotoMark& m : before) {
        EXPECT_TRUE(m.enabled);
        EXPECT_TRUE(m.hasPhotoPosition() && m.hasPoint());
    }
    // Kinds in order, each in its array order.
    for (int k = 1; k < before.size(); ++k)
        EXPECT_TRUE(before[k - 1].kind < before[k].kind ||
                    (before[k - 1].kind == before[k].kind && before[k - 1].position + 1 == before[k].position));

    // A mark clicked 80 px off and disabled: used, it would be dropped as an outlier instead.
    int id = 0;
    changeMark(2, 0, [&](MarkRecord& r) {
        id = r.id;
        r.uv.y = std::max(0.0, r.uv.y - 80.0 / 1200);
    });
    EXPECT_EQ(orvmap::setMarkEnabled(mm.get(), 2, id, false), 0);
    EXPECT_FALSE(orvmap::isMarkEnabled(mm.get(), 2, id));
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), 2, id + 1000));
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), 1, id)) << "flags belong to one photo";

    const orvmap::MapOutcome o = orvmap::mapPhoto(mm.get(), 2);
    ASSERT_TRUE(o.ok) << o.message.toStdString();
    EXPECT_EQ(o.marksUsed, 11);
    EXPECT_TRUE(o.outliers.isEmpty());
    const ZimMarkResidual* r = residualOf(o.camera, id);
    ASSERT_NE(r, nullptr) << "a disabled complete mark is still measured";
    EXPECT_FALSE(r->used);
    EXPECT_GT(r->pixels, 60.0);
    EXPECT_LE(trueError(mm.get(), 2, truth[2].camera, o.camera), 2.0);

    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_FALSE(orvmap::isMarkEnabled(mm.get(), 2, id));
    int disabled = 0;
    for (const orvmap::PhotoMark& m : orvmap::photoMarks(mm.get(), 2)) disabled += m.enabled ? 0 : 1;
    EXPECT_EQ(disabled, 1);
    // Enabled again, it takes part (and, off as it is, is dropped as mis-clicked).
    EXPECT_EQ(orvmap::setMarkEnabled(mm.get(), 2, id, true), 0);
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), 2, id));
    const orvmap::MapOutcome again = orvmap::mapPhoto(mm.get(), 2);
    ASSERT_TRUE(again.ok) << again.message.toStdString();
    EXPECT_EQ(again.outliers, QVector<int>{id});

    // Damaged flags enable everything; bad images and a closed project are refused.
    EXPECT_EQ(mm->writeProjectData(QStringLiteral("marks"), QStringLiteral("disabled/2"), "abc", 3), 0);
    EXPECT_TRUE(orvmap::isMarkEnabled(mm.get(), 2, id));
    EXPECT_EQ(orvmap::setMarkEnabled(mm.get(), 9, id, false), -1);
    EXPECT_EQ(orvmap::setMarkEnabled(mm.get(), -1, id, false), -1);
    mm->closeProject();
    EXPECT_EQ(orvmap::setMarkEnabled(mm.get(), 2, id, false), -1);
    EXPECT_TRUE(orvmap::photoMarks(mm.get(), 2).isEmpty());
}

TEST_F(Mapping, RefusalsNameTheMarkAndKeepThePreviousCamera)
{
    ASSERT_TRUE(orvmap::mapPhoto(mm.get(), 0).ok);
    ZimPhotoCamera previous;
    ASSERT_EQ(mm->getImageCamera(0, previous), 0);
    const ref_ptr<MarkArray> original = marksOf(0, ZimMarkPoint);
    ASSERT_GE(original->count(), 3);
    const int id = (*original)[1].id;

    const auto expectRefused = [&](const char* what, const QString& named) {
        const orvmap::MapOutcome o = orvmap::mapPhoto(mm.get(), 0);
        EXPECT_FALSE(o.ok) << what;
        EXPECT_FALSE(o.message.isEmpty()) << what;
        EXPECT_EQ(orvmap::summary(o), o.message) << what;
        if (!named.isEmpty()) {
            EXPECT_TRUE(o.message.contains(named)) << what << ": " << o.message.toStdString();
        }
        ZimPhotoCamera now;
        EXPECT_EQ(mm->getImageCamera(0, now), 0) << what;
        EXPECT_TRUE(sameCamera(now, previous)) << what;
        EXPECT_TRUE(mm->isImageMapped(0)) << what;
        ASSERT_EQ(mm->setImageMarks(0, ZimMarkPoint, original), 0);
    };
    const QString mark = QStringLiteral("Mark %1 ").arg(id);

    changeMark(0, 1, [](MarkRecord& r) { r.uv.x = std::numeric_limits<double>::quiet_NaN(); });
    expectRefused("NaN photo position", mark);
    changeMark(0, 1, [](MarkRecord& r) { r.uv.x = 1.2; });
    expectRefused("outside the photo", mark);
    changeMark(0, 1, [](MarkRecord& r) { r.point.y = std::numeric_limits<double>::infinity(); });
    expectRefused("infinite point", mark);
    changeMark(0, 1, [](MarkRecord& r) { r.point.z += 40; });  // 40 m above the ground
    expectRefused("point off every mesh", QStringLiteral("mark %1 ").arg(id));
    const int other = (*original)[2].id;
    changeMark(0, 1, [&](MarkRecord& r) { r.id = other; });
    expectRefused("duplicate id", QString::number(other));

    // Marks without a photo position or without a point do not count; too few remain.
    ref_ptr<MarkArray> halves(new MarkArray());
    for (int i = 0; i < original->count(); ++i) {
        MarkRecord r = (*original)[i];
        if (i % 2)
            r.uv = XPnt2d(-1, -1);
        else
            r.point.setInvalid();
        halves->append(r);
    }
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkPoint, halves), 0);
    keepMarks(0, 3);
    {
        const orvmap::MapOutcome o = orvmap::mapPhoto(mm.get(), 0);
        EXPECT_FALSE(o.ok);
        // Its own earlier camera lends no focal length: no other photo is mapped yet.
        EXPECT_TRUE(o.message.contains(QStringLiteral(": 1 of the 6 needed"))) << o.message.toStdString();
        ZimPhotoCamera now;
        EXPECT_EQ(mm->getImageCamera(0, now), 0);
        EXPECT_TRUE(sameCamera(now, previous));
    }

    // A missing photo file: the project opens, the photo is refused, its camera stays.
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkPoint, original), 0);
    ASSERT_TRUE(orvmap::mapPhoto(mm.get(), 1).ok);
    ASSERT_EQ(mm->getImageCamera(1, previous), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();
    const QString photo = truth[1].photoPath, aside = photo + QStringLiteral(".aside");
    ASSERT_TRUE(QFile::rename(photo, aside));
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    const orvmap::MapOutcome missing = orvmap::mapPhoto(mm.get(), 1);
    EXPECT_FALSE(mm->isModified());
    mm->closeProject();
    ASSERT_TRUE(QFile::rename(aside, photo));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.message.contains(QFileInfo(photo).fileName())) << missing.message.toStdString();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    ZimPhotoCamera now;
    EXPECT_EQ(mm->getImageCamera(1, now), 0);
    EXPECT_TRUE(sameCamera(now, previous));
    EXPECT_TRUE(mm->isImageMapped(1));
}

TEST_F(Mapping, TooFewMarksSayHowManyAreNeeded)
{
    keepMarks(3, 5);
    const orvmap::MapOutcome five = orvmap::mapPhoto(mm.get(), 3);
    EXPECT_FALSE(five.ok);
    EXPECT_TRUE(five.message.contains(QStringLiteral(": 5 of the 6 needed (4 when"))) << five.message.toStdString();
    EXPECT_FALSE(mm->isImageMapped(3));

    // Once a photo of the same size is mapped its focal length is taken and five marks do.
    ASSERT_TRUE(orvmap::mapPhoto(mm.get(), 0).ok);
    ZimPhotoCamera sibling;
    ASSERT_EQ(mm->getImageCamera(0, sibling), 0);
    const orvmap::MapOutcome known = orvmap::mapPhoto(mm.get(), 3);
    ASSERT_TRUE(known.ok) << known.message.toStdString();
    EXPECT_EQ(known.marksUsed, 5);
    EXPECT_EQ(known.camera.fx, sibling.fx);
    EXPECT_FALSE(known.warnings.isEmpty()) << "five marks cannot be checked against each other";
    EXPECT_TRUE(mm->isImageMapped(3));

    EXPECT_FALSE(orvmap::mapPhoto(mm.get(), 4).ok);
    EXPECT_FALSE(orvmap::mapPhoto(nullptr, 0).ok);
}

}  // namespace

namespace {

using orvtest::ProcessRun;

// orvhost --map run as a script would, without a display, on a sample project whose photos are
// not mapped yet.
class MapCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        orvsample::SampleOptions o;
        o.outDir = s_dir->filePath("sample");
        o.tiles = 3;
        o.trianglesTotal = 3000;
        o.photoSize = QSize(800, 600);
        o.textureSize = 128;
        o.seed = 5;
        o.photoEffects = false;
        const orvsample::SampleResult r = orvsample::generateSample(o);
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        s_project = s_dir->filePath("sample/plain.orvproj");
        ASSERT_TRUE(orvsample::buildSampleProject(r.manifestPath, s_project, o.tiles).ok);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(s_project.isEmpty());
        file = QFileInfo(s_project).dir().filePath(QStringLiteral("m%1.orvproj").arg(++s_copies));
        ASSERT_TRUE(QFile::copy(s_project, file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        mm = zim::getMM();
    }
    void TearDown() override { mm->closeProject(); }

    static ProcessRun map(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return orvtest::runProcess(orvtest::binDir() + QStringLiteral("/orvhost"), args, env);
    }
    static QStringList lines(const QString& text) { return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

    int mappedWithCamera()
    {
        int n = 0;
        for (int i = 0; i < mm->imageCount(); ++i) {
            ZimPhotoCamera c;
            if (mm->isImageMapped(i) && mm->getImageCamera(i, c) == 0 && c.isValid()) ++n;
        }
        return n;
    }

    static QTemporaryDir* s_dir;
    static QString s_project;
    static int s_copies;
    QString file;
    ref_ptr<IZimMM> mm;
};
QTemporaryDir* MapCommand::s_dir = nullptr;
QString MapCommand::s_project;
int MapCommand::s_copies = 0;

TEST_F(MapCommand, OnePhotoPrintsItsLineAndWithoutSaveTheFileStaysAsItWas)
{
    const QByteArray before = orvtest::readFile(file);
    const ProcessRun r = map({file, QStringLiteral("--map"), QStringLiteral("1")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList out = lines(r.out);
    ASSERT_FALSE(out.isEmpty()) << r.err.toStdString();
    const QRegularExpression line(
        QStringLiteral(R"(^photo 1 \(tile_001\.jpg\): 12 marks, rms \d+\.\d\d px, worst mark \d+ \(\d+\.\d\d px\)$)"));
    EXPECT_TRUE(line.match(out.first()).hasMatch()) << out.first().toStdString();
    EXPECT_EQ(orvtest::readFile(file), before) << "nothing saved without --save";
}

TEST_F(MapCommand, AllWithSaveMapsEveryPhotoIntoTheFile)
{
    const ProcessRun r = map({file, QStringLiteral("--map"), QStringLiteral("all"), QStringLiteral("--save")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList out = lines(r.out);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(out.filter(QStringLiteral("photo %1 (tile_00%1.jpg): 12 marks, rms").arg(i)).size() == 1)
            << r.out.toStdString();
    EXPECT_TRUE(out.last().startsWith(QStringLiteral("saved "))) << r.out.toStdString();
    ASSERT_EQ(mm->openProject(file, nullptr), 0) << mm->lastError().toStdString();
    EXPECT_TRUE(mm->openNotice().isEmpty()) << mm->openNotice().toStdString();
    EXPECT_EQ(mappedWithCamera(), 3);
}

TEST_F(MapCommand, PhotosWithTooFewMarksAreSkippedByAllAndRefusedByIndex)
{
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    for (int kind = ZimMarkControl; kind <= ZimMarkSelected; ++kind) ASSERT_EQ(mm->setImageMarks(2, kind, {}), 0);
    ASSERT_EQ(mm->saveProject(), 0);
    mm->closeProject();

    const ProcessRun one = map({file, QStringLiteral("--map"), QStringLiteral("2"), QStringLiteral("--save")});
    ASSERT_TRUE(one.finished);
    EXPECT_EQ(one.exitCode, 4);
    EXPECT_TRUE(one.out.startsWith(QStringLiteral("photo 2 (tile_002.jpg): not mapped: "))) << one.out.toStdString();
    EXPECT_FALSE(one.out.contains(QStringLiteral("saved"))) << "nothing mapped, nothing saved";

    const ProcessRun all = map({file, QStringLiteral("--map"), QStringLiteral("all"), QStringLiteral("--save")});
    ASSERT_TRUE(all.finished);
    EXPECT_EQ(all.exitCode, 0) << all.err.toStdString();
    EXPECT_TRUE(all.out.contains(QStringLiteral("photo 2 (tile_002.jpg): skipped, 0 of the"))) << all.out.toStdString();
    ASSERT_EQ(mm->openProject(file, nullptr), 0);
    EXPECT_EQ(mappedWithCamera(), 2);
    EXPECT_FALSE(mm->isImageMapped(2));
}

TEST_F(MapCommand, BadProjectsIndicesAndCommandLinesFailWithTheirCodes)
{
    ProcessRun r = map({file, QStringLiteral("--map"), QStringLiteral("3")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no photo 3"))) << r.err.toStdString();
    r = map({file + QStringLiteral(".missing"), QStringLiteral("--map"), QStringLiteral("0")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.err.isEmpty());
    for (const QStringList& args :
         {QStringList{file, QStringLiteral("--map"), QStringLiteral("first")},
          QStringList{file, QStringLiteral("--map"), QStringLiteral("-1")}, QStringList{file, QStringLiteral("--save")},
          QStringList{QStringLiteral("--map"), QStringLiteral("0")},
          QStringList{file, QStringLiteral("--map"), QStringLiteral("0"), QStringLiteral("--backup"),
                      QStringLiteral("x.png")}}) {
        r = map(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString() << ": " << r.err.toStdString();
    }

    // A save that fails (the kernel's fault injection, before the commit): mapped, reported, exit 5,
    // and the file as it was.
    const QByteArray before = orvtest::readFile(file);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("ORV_KERNEL_SAVE_FAULT"), QStringLiteral("commit"));
    r = orvtest::runProcess(orvtest::binDir() + QStringLiteral("/orvhost"),
                            {file, QStringLiteral("--map"), QStringLiteral("0"), QStringLiteral("--save")}, env);
    EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("photo 0 (tile_000.jpg): 12 marks"))) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot save"))) << r.err.toStdString();
    EXPECT_EQ(orvtest::readFile(file), before);
}

}  // namespace
