// Camera registration measured against the true cameras of generated sample projects: each photo
// is solved from its clicked marks, and the solved camera is compared with the true one by where
// they put surface points the photo sees.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

#include "CameraSolver.h"
#include "SampleGenerator.h"

namespace {

using orvreg::SolveError;
using orvreg::SolveInput;
using orvreg::SolveResult;
using orvreg::SolveWarning;

struct ManifestMark {
    int id = 0;
    double uv[2] = {0, 0};
    double uvExact[2] = {0, 0};
    double point[3] = {0, 0, 0};
};

struct Photo {
    orvsample::PhotoCamera camera;
    QString objPath;
    std::vector<ManifestMark> marks;
    std::vector<XPnt3d> seen;  // surface points of its own tile the photo sees
};

// Triangles of an OBJ file (positions only).
std::vector<std::array<XPnt3d, 3>> readObjTriangles(const QString& path)
{
    std::vector<XPnt3d> v;
    std::vector<std::array<XPnt3d, 3>> tris;
    std::ifstream in(path.toStdString());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string key;
        s >> key;
        if (key == "v") {
            XPnt3d p;
            s >> p.x >> p.y >> p.z;
            v.push_back(p);
        } else if (key == "f") {
            std::vector<int> idx;
            std::string corner;
            while (s >> corner) idx.push_back(std::stoi(corner.substr(0, corner.find('/'))) - 1);
            for (size_t k = 2; k < idx.size(); ++k) tris.push_back({v[idx[0]], v[idx[k - 1]], v[idx[k]]});
        }
    }
    return tris;
}

XPnt3d sub(const XPnt3d& a, const XPnt3d& b) { return XPnt3d(a.x - b.x, a.y - b.y, a.z - b.z); }

// At least `count` points spread over the tile's surface (by area) that face the camera and
// project inside the photo.
std::vector<XPnt3d> seenPoints(const Photo& p, int count)
{
    const auto tris = readObjTriangles(p.objPath);
    std::vector<double> cumulative;
    double total = 0;
    for (const auto& t : tris) {
        const XPnt3d e1 = sub(t[1], t[0]), e2 = sub(t[2], t[0]);
        const double nx = e1.y * e2.z - e1.z * e2.y, ny = e1.z * e2.x - e1.x * e2.z, nz = e1.x * e2.y - e1.y * e2.x;
        total += 0.5 * std::sqrt(nx * nx + ny * ny + nz * nz);
        cumulative.push_back(total);
    }
    std::mt19937_64 rng(1234);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<XPnt3d> out;
    for (int attempt = 0; attempt < 50 * count && int(out.size()) < count; ++attempt) {
        const size_t k = std::lower_bound(cumulative.begin(), cumulative.end(), unit(rng) * total) - cumulative.begin();
        if (k >= tris.size()) continue;
        const auto& t = tris[k];
        double a = unit(rng), b = unit(rng);
        if (a + b > 1) a = 1 - a, b = 1 - b;
        const XPnt3d e1 = sub(t[1], t[0]), e2 = sub(t[2], t[0]);
        const XPnt3d q(t[0].x + a * e1.x + b * e2.x, t[0].y + a * e1.y + b * e2.y, t[0].z + a * e1.z + b * e2.z);
        const double nx = e1.y * e2.z - e1.z * e2.y, ny = e1.z * e2.x - e1.x * e2.z, nz = e1.x * e2.y - e1.y * e2.x;
        const XPnt3d toEye = sub(p.camera.eye, q);
        if (nx * toEye.x + ny * toEye.y + nz * toEye.z <= 0) continue;
        double px, py;
        if (!p.camera.project(q, &px, &py)) continue;
        if (px < 0 || py < 0 || px >= p.camera.width || py >= p.camera.height) continue;
        out.push_back(q);
    }
    return out;
}

// Mean distance in photo pixels between where the true and the solved camera put the points.
double trueError(const Photo& p, const orvreg::SolverCamera& cam)
{
    double sum = 0;
    for (const XPnt3d& q : p.seen) {
        double tx, ty, sx, sy;
        p.camera.project(q, &tx, &ty);
        const double X[3] = {q.x, q.y, q.z};
        if (!cam.project(X, &sx, &sy)) return std::numeric_limits<double>::infinity();
        sum += std::hypot(tx - sx, ty - sy);
    }
    return sum / p.seen.size();
}

std::vector<Photo> readManifest(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    const QDir dir = QFileInfo(path).dir();
    const QJsonArray meshes = root.value("meshes").toArray();
    std::vector<Photo> photos;
    for (const QJsonValue pv : root.value("photos").toArray()) {
        const QJsonObject po = pv.toObject();
        Photo p;
        const QJsonObject c = po.value("camera").toObject();
        orvsample::PhotoCamera& cam = p.camera;
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
        p.objPath = dir.filePath(meshes[po.value("mesh").toInt()].toObject().value("obj").toString());
        for (const QJsonValue mv : po.value("marks").toArray()) {
            const QJsonObject mo = mv.toObject();
            ManifestMark m;
            m.id = mo.value("id").toInt();
            for (int i = 0; i < 2; ++i) {
                m.uv[i] = mo.value("uv")[i].toDouble();
                m.uvExact[i] = mo.value("uvExact")[i].toDouble();
            }
            for (int i = 0; i < 3; ++i) m.point[i] = mo.value("point")[i].toDouble();
            p.marks.push_back(m);
        }
        p.seen = seenPoints(p, 2000);
        photos.push_back(std::move(p));
    }
    return photos;
}

// The solver's input from the first `count` clicked marks of a photo.
SolveInput inputOf(const Photo& p, int count)
{
    SolveInput in;
    in.width = p.camera.width;
    in.height = p.camera.height;
    for (int k = 0; k < count && k < int(p.marks.size()); ++k) {
        orvreg::RegMark m;
        m.id = p.marks[k].id;
        m.u = p.marks[k].uv[0];
        m.v = p.marks[k].uv[1];
        std::copy(p.marks[k].point, p.marks[k].point + 3, m.point);
        in.marks.push_back(m);
    }
    return in;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

bool hasWarning(const SolveResult& r, SolveWarning w)
{
    return std::find(r.warnings.begin(), r.warnings.end(), w) != r.warnings.end();
}

// A generated sample, shared by the tests of one suite.
struct Sample {
    std::unique_ptr<QTemporaryDir> dir;
    std::vector<Photo> photos;
};

Sample makeSample(double k1, double k2, int marks)
{
    Sample s;
    s.dir = std::make_unique<QTemporaryDir>();
    orvsample::SampleOptions o;
    o.outDir = s.dir->filePath("sample");
    o.tiles = 6;
    o.marks = marks;
    o.k1 = k1;
    o.k2 = k2;
    o.seed = 19;
    o.photoEffects = false;  // the images themselves play no part here
    const orvsample::SampleResult r = orvsample::generateSample(o);
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    if (r.ok) s.photos = readManifest(r.manifestPath);
    for (const Photo& p : s.photos) EXPECT_GE(p.seen.size(), 2000u);
    return s;
}

// Solves every photo from its first `count` marks; prints and returns the true errors.
std::vector<double> solveAll(const Sample& s, int count, const char* label,
                             std::optional<bool> focalKnown = std::nullopt)
{
    std::vector<double> errors;
    for (size_t i = 0; i < s.photos.size(); ++i) {
        const Photo& p = s.photos[i];
        SolveInput in = inputOf(p, count);
        if (focalKnown.value_or(false)) in.focalPixels = p.camera.focal;
        const SolveResult r = orvreg::solveCamera(in);
        EXPECT_TRUE(r.ok) << label << " photo " << i << ": " << r.message;
        if (!r.ok) continue;
        EXPECT_TRUE(r.outliers.empty()) << label << " photo " << i << " dropped a good mark";
        errors.push_back(trueError(p, r.camera));
        std::printf(
            "[%s] photo %zu: %d marks, rms %.2f px, focal %.1f (true %.1f), k1 %.4f (true "
            "%.4f), true error %.3f px\n",
            label, i, r.marksUsed, r.rms, r.camera.focal(), p.camera.focal, r.camera.k1, p.camera.k1, errors.back());
    }
    if (!errors.empty())
        std::printf("[%s] true error median %.3f px, max %.3f px over %zu photos\n", label, median(errors),
                    *std::max_element(errors.begin(), errors.end()), errors.size());
    return errors;
}

class Registration : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_sample = new Sample(makeSample(0, 0, 12)); }
    static void TearDownTestSuite()
    {
        delete s_sample;
        s_sample = nullptr;
    }
    static const Sample& sample() { return *s_sample; }
    static Sample* s_sample;
};
Sample* Registration::s_sample = nullptr;

TEST_F(Registration, RecoversEveryCameraWithFocalFree)
{
    ASSERT_FALSE(sample().photos.empty());
    for (int count : {12, 8}) {
        const std::string label = std::to_string(count) + " marks";
        const auto errors = solveAll(sample(), count, label.c_str());
        ASSERT_EQ(errors.size(), sample().photos.size());
        EXPECT_LE(median(errors), 1.0) << label;
        for (double e : errors) EXPECT_LE(e, 2.0) << label;
    }
    // Six marks are the least the focal length can be found from; the error grows but stays small.
    const auto six = solveAll(sample(), 6, "6 marks");
    ASSERT_EQ(six.size(), sample().photos.size());
    EXPECT_LE(median(six), 5.0);
}

TEST_F(Registration, SolvedFocalAndPoseMatchTheTruth)
{
    for (const Photo& p : sample().photos) {
        const SolveResult r = orvreg::solveCamera(inputOf(p, 12));
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_TRUE(r.focalSolved);
        EXPECT_NEAR(r.camera.focal(), p.camera.focal, 0.03 * p.camera.focal);
        EXPECT_DOUBLE_EQ(r.camera.K[2], p.camera.width / 2.0);
        EXPECT_DOUBLE_EQ(r.camera.K[5], p.camera.height / 2.0);
        double eye[3];
        r.camera.eye(eye);
        const double dist = std::hypot(eye[0] - p.camera.eye.x, eye[1] - p.camera.eye.y, eye[2] - p.camera.eye.z);
        EXPECT_LT(dist, 3.0) << "eye off by " << dist << " m";
        ASSERT_EQ(r.residuals.size(), 12u);
        double sum = 0;
        for (const auto& m : r.residuals) sum += m.pixels * m.pixels;
        EXPECT_NEAR(std::sqrt(sum / 12), r.rms, 1e-9);
        EXPECT_LT(r.rms, 1.5);
        EXPECT_FALSE(hasWarning(r, SolveWarning::FewMarks));
        EXPECT_FALSE(hasWarning(r, SolveWarning::HighRms));
        EXPECT_GT(r.coverage, 0);
        EXPECT_EQ(hasWarning(r, SolveWarning::SmallCoverage), r.coverage < 0.5);
        // The solved camera puts each mark's point where the mark is, within the click noise.
        for (size_t k = 0; k < 12; ++k) {
            const auto& m = p.marks[k];
            double px, py;
            ASSERT_TRUE(r.camera.project(m.point, &px, &py));
            EXPECT_NEAR(px, m.uvExact[0] * p.camera.width, 3.0);
            EXPECT_NEAR(py, (1 - m.uvExact[1]) * p.camera.height, 3.0);
        }
    }
}

TEST_F(Registration, MisclickedMarkIsDroppedAndNamed)
{
    for (int count : {8, 12}) {
        for (size_t i = 0; i < sample().photos.size(); ++i) {
            const Photo& p = sample().photos[i];
            SolveInput in = inputOf(p, count);
            // Move the third mark 40 px, towards the photo centre so that it stays inside.
            orvreg::RegMark& bad = in.marks[2];
            const double px = bad.u * in.width, py = (1 - bad.v) * in.height;
            const double dx = in.width / 2.0 - px, dy = in.height / 2.0 - py;
            const double len = std::hypot(dx, dy);
            ASSERT_GT(len, 40.0);
            bad.u = (px + 40 * dx / len) / in.width;
            bad.v = 1 - (py + 40 * dy / len) / in.height;
            const SolveResult r = orvreg::solveCamera(in);
            ASSERT_TRUE(r.ok) << count << " marks, photo " << i << ": " << r.message;
            EXPECT_EQ(r.outliers, std::vector<int>{bad.id}) << count << " marks, photo " << i;
            EXPECT_EQ(r.marksUsed, count - 1);
            for (const auto& m : r.residuals) {
                EXPECT_EQ(m.used, m.id != bad.id);
                // The dropped mark is about as far off as it was moved; the others within noise.
                if (m.id == bad.id)
                    EXPECT_NEAR(m.pixels, 40.0, 5.0);
                else
                    EXPECT_LT(m.pixels, 3.0);
            }
            EXPECT_LE(trueError(p, r.camera), 2.0);
        }
    }
}

TEST_F(Registration, FewMarksNeedAKnownFocalLength)
{
    for (int count : {4, 5}) {
        std::vector<double> errors;
        for (const Photo& p : sample().photos) {
            SolveInput in = inputOf(p, count);
            const SolveResult refused = orvreg::solveCamera(in);
            EXPECT_FALSE(refused.ok);
            EXPECT_EQ(refused.error, SolveError::TooFewMarks);
            EXPECT_NE(refused.message.find("at least 6"), std::string::npos) << refused.message;

            in.focalPixels = p.camera.focal;
            const SolveResult r = orvreg::solveCamera(in);
            ASSERT_TRUE(r.ok) << r.message;
            EXPECT_FALSE(r.focalSolved);
            EXPECT_DOUBLE_EQ(r.camera.focal(), p.camera.focal);
            EXPECT_TRUE(hasWarning(r, SolveWarning::FewMarks));
            EXPECT_TRUE(r.outliers.empty());
            errors.push_back(trueError(p, r.camera));
        }
        std::printf("[%d marks, known focal] true error median %.3f px, max %.3f px\n", count, median(errors),
                    *std::max_element(errors.begin(), errors.end()));
        EXPECT_LE(median(errors), 3.0);
    }
    // Three marks are not enough even with the focal length.
    SolveInput three = inputOf(sample().photos[0], 3);
    three.focalPixels = sample().photos[0].camera.focal;
    const SolveResult r = orvreg::solveCamera(three);
    EXPECT_EQ(r.error, SolveError::TooFewMarks);
    EXPECT_NE(r.message.find("at least 4"), std::string::npos) << r.message;
}

TEST_F(Registration, BadInputIsRefusedWithItsReason)
{
    const Photo& p = sample().photos[0];
    const SolveInput good = inputOf(p, 12);
    auto expectRefused = [](const SolveInput& in, SolveError error, const std::string& text) {
        const SolveResult r = orvreg::solveCamera(in);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, error) << r.message;
        EXPECT_NE(r.message.find(text), std::string::npos) << r.message;
    };
    SolveInput in = good;
    in.marks[4].u = std::nan("");
    expectRefused(in, SolveError::NotFinite, "mark " + std::to_string(in.marks[4].id));
    in = good;
    in.marks[7].point[2] = std::numeric_limits<double>::infinity();
    expectRefused(in, SolveError::NotFinite, "mark " + std::to_string(in.marks[7].id));
    in = good;
    in.marks[3].v = 1.2;
    expectRefused(in, SolveError::OutsidePhoto, "mark " + std::to_string(in.marks[3].id));
    in = good;
    in.marks[5].id = in.marks[1].id;
    expectRefused(in, SolveError::DuplicateId, "same id " + std::to_string(in.marks[1].id));
    in = good;
    in.marks[5].enabled = false;  // a disabled mark still may not share an id
    in.marks[5].id = in.marks[1].id;
    expectRefused(in, SolveError::DuplicateId, "same id");
    in = good;
    for (int k = 0; k < 7; ++k) in.marks[k].enabled = false;
    expectRefused(in, SolveError::TooFewMarks, "the photo has 5");
    in = good;
    in.focalPixels = -3;
    expectRefused(in, SolveError::BadFocal, "focal");
    in = good;
    in.width = 0;
    expectRefused(in, SolveError::BadPhotoSize, "size");

    // Disabled marks take no part: a wild disabled mark changes nothing.
    in = good;
    in.marks[0].u = 0.01;
    in.marks[0].enabled = false;
    const SolveResult without = orvreg::solveCamera(in);
    ASSERT_TRUE(without.ok);
    EXPECT_EQ(without.marksUsed, 11);
    EXPECT_TRUE(without.outliers.empty());
    EXPECT_LE(trueError(p, without.camera), 2.0);
}

// Marks whose 3D points lie on one line: the true projections of points along a straight
// stretch of the tile, clicked with the same noise as the sample's marks.
TEST_F(Registration, CollinearPointsAreRefused)
{
    const Photo& p = sample().photos[1];
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 0.5);
    const double* a = p.marks[0].point;
    const double* b = p.marks[1].point;
    for (double offMetres : {0.0, 0.3}) {  // exactly on the line, and nearly
        SolveInput in;
        in.width = p.camera.width;
        in.height = p.camera.height;
        in.focalPixels = p.camera.focal;
        for (int k = 0; k < 10; ++k) {
            const double s = k / 9.0;
            orvreg::RegMark m;
            m.id = 100 + k;
            for (int i = 0; i < 3; ++i) m.point[i] = a[i] + s * (b[i] - a[i]);
            m.point[2] += (k % 2 ? offMetres : -offMetres);
            double px, py;
            ASSERT_TRUE(p.camera.project(XPnt3d(m.point[0], m.point[1], m.point[2]), &px, &py));
            m.u = (px + noise(rng)) / in.width;
            m.v = 1 - (py + noise(rng)) / in.height;
            in.marks.push_back(m);
        }
        const SolveResult r = orvreg::solveCamera(in);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, SolveError::Degenerate) << r.message;
        EXPECT_NE(r.message.find("one line"), std::string::npos) << r.message;
    }
}

TEST_F(Registration, WarningsForFewMarksSmallCoverageAndHighRms)
{
    const Photo& p = sample().photos[2];
    const SolveResult seven = orvreg::solveCamera(inputOf(p, 7));
    ASSERT_TRUE(seven.ok) << seven.message;
    EXPECT_TRUE(hasWarning(seven, SolveWarning::FewMarks));
    ASSERT_EQ(seven.warnings.size(), seven.warningTexts.size());

    // Twelve marks crowded into a small part of the photo: true projections of points near one
    // spot of the tile, clicked with noise.
    SolveInput crowd;
    crowd.width = p.camera.width;
    crowd.height = p.camera.height;
    std::mt19937 rng(8);
    std::normal_distribution<double> noise(0, 0.5);
    const XPnt3d c(p.marks[0].point[0], p.marks[0].point[1], p.marks[0].point[2]);
    std::uniform_real_distribution<double> off(-8, 8);
    for (int k = 0; k < 12; ++k) {
        orvreg::RegMark m;
        m.id = 200 + k;
        m.point[0] = c.x + off(rng);
        m.point[1] = c.y + off(rng);
        m.point[2] = c.z + off(rng) / 4;
        double px, py;
        ASSERT_TRUE(p.camera.project(XPnt3d(m.point[0], m.point[1], m.point[2]), &px, &py));
        m.u = std::clamp((px + noise(rng)) / crowd.width, 0.0, 1.0);
        m.v = std::clamp(1 - (py + noise(rng)) / crowd.height, 0.0, 1.0);
        crowd.marks.push_back(m);
    }
    crowd.focalPixels = p.camera.focal;
    const SolveResult r = orvreg::solveCamera(crowd);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_LT(r.coverage, 0.5);
    EXPECT_TRUE(hasWarning(r, SolveWarning::SmallCoverage));

    // A sloppy hand: twelve marks clicked 3 px off on average. The camera is still solved and no
    // mark singled out, but the RMS says the marks need a look.
    SolveInput sloppy = inputOf(p, 12);
    std::normal_distribution<double> shake(0, 2.5);
    for (size_t k = 0; k < sloppy.marks.size(); ++k) {
        sloppy.marks[k].u = p.marks[k].uvExact[0] + shake(rng) / sloppy.width;
        sloppy.marks[k].v = p.marks[k].uvExact[1] + shake(rng) / sloppy.height;
    }
    const SolveResult rough = orvreg::solveCamera(sloppy);
    ASSERT_TRUE(rough.ok) << rough.message;
    EXPECT_GT(rough.rms, 1.5);
    EXPECT_TRUE(rough.outliers.empty());
    ASSERT_TRUE(hasWarning(rough, SolveWarning::HighRms));
    const size_t at =
        std::find(rough.warnings.begin(), rough.warnings.end(), SolveWarning::HighRms) - rough.warnings.begin();
    EXPECT_NE(rough.warningTexts[at].find("rms "), std::string::npos) << rough.warningTexts[at];
    EXPECT_FALSE(hasWarning(orvreg::solveCamera(inputOf(p, 12)), SolveWarning::HighRms));
}

TEST(RegistrationDistortion, RecoversCamerasWithLensDistortion)
{
    const Sample s = makeSample(-0.05, 0.01, 12);
    ASSERT_FALSE(s.photos.empty());
    const auto errors = solveAll(s, 12, "distortion, 12 marks");
    ASSERT_EQ(errors.size(), s.photos.size());
    EXPECT_LE(median(errors), 1.0);
    for (double e : errors) EXPECT_LE(e, 2.0);
}

// ---- EXIF focal length, from JPEGs whose EXIF block the test builds

void addRational(ExifData* ed, ExifIfd ifd, ExifTag tag, ExifRational value)
{
    ExifEntry* e = exif_entry_new();
    e->tag = tag;
    e->format = EXIF_FORMAT_RATIONAL;
    e->components = 1;
    e->size = exif_format_get_size(EXIF_FORMAT_RATIONAL);
    e->data = static_cast<unsigned char*>(calloc(1, e->size));
    exif_set_rational(e->data, exif_data_get_byte_order(ed), value);
    exif_content_add_entry(ed->ifd[ifd], e);
    exif_entry_unref(e);
}

void addShort(ExifData* ed, ExifIfd ifd, ExifTag tag, ExifShort value)
{
    ExifEntry* e = exif_entry_new();
    e->tag = tag;
    e->format = EXIF_FORMAT_SHORT;
    e->components = 1;
    e->size = exif_format_get_size(EXIF_FORMAT_SHORT);
    e->data = static_cast<unsigned char*>(calloc(1, e->size));
    exif_set_short(e->data, exif_data_get_byte_order(ed), value);
    exif_content_add_entry(ed->ifd[ifd], e);
    exif_entry_unref(e);
}

// A small JPEG with the EXIF block `fill` makes (none when fill is empty).
QString writeJpeg(const QTemporaryDir& dir, const QString& name, const std::function<void(ExifData*)>& fill)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPG"));
    if (fill) {
        ExifData* ed = exif_data_new();
        exif_data_set_byte_order(ed, EXIF_BYTE_ORDER_INTEL);
        fill(ed);
        unsigned char* bytes = nullptr;
        unsigned int size = 0;
        exif_data_save_data(ed, &bytes, &size);
        EXPECT_GT(size, 0u);
        // APP1 segment right after the start-of-image marker.
        QByteArray app1("\xFF\xE1", 2);
        app1.append(char((size + 2) >> 8)).append(char((size + 2) & 0xFF));
        app1.append(reinterpret_cast<const char*>(bytes), int(size));
        jpeg.insert(2, app1);
        free(bytes);
        exif_data_unref(ed);
    }
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(jpeg);
    return path;
}

TEST(ExifFocal, FocalLengthInPixelsFromTheExifBlock)
{
    QTemporaryDir dir;
    // 50 mm on a sensor of 36 mm for 6000 pixels: 6000 / 36 * 25.4 pixels per inch.
    const QString sensor = writeJpeg(dir, "sensor.jpg", [](ExifData* ed) {
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, {50, 1});
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_X_RESOLUTION, {6000 * 254, 36 * 10});
        addShort(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT, 2);
    });
    auto f = orvreg::exifFocalPixels(sensor.toStdString(), 6000, 4000);
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(*f, 50.0 * 6000 / 36, 1e-6);

    // The same in millimetres, for a photo scaled down to half its sensor width.
    const QString scaled = writeJpeg(dir, "scaled.jpg", [](ExifData* ed) {
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, {35, 1});
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_X_RESOLUTION, {4000, 24});
        addShort(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT, 4);
        addShort(ed, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, 4000);
    });
    f = orvreg::exifFocalPixels(scaled.toStdString(), 2000, 1500);
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(*f, 35.0 * 4000 / 24 / 2, 1e-6);

    // Only the 35 mm equivalent: relative to the 43.27 mm diagonal of a full frame.
    const QString equiv = writeJpeg(
        dir, "equiv.jpg", [](ExifData* ed) { addShort(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM, 28); });
    f = orvreg::exifFocalPixels(equiv.toStdString(), 4000, 3000);
    ASSERT_TRUE(f.has_value());
    EXPECT_NEAR(*f, 28.0 * 5000 / std::hypot(36.0, 24.0), 1e-6);

    // A focal length without the sensor's pixel density says nothing about pixels.
    const QString bare = writeJpeg(dir, "bare.jpg", [](ExifData* ed) {
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, {50, 1});
    });
    EXPECT_FALSE(orvreg::exifFocalPixels(bare.toStdString(), 4000, 3000).has_value());
    // A zero denominator is no number.
    const QString zero = writeJpeg(dir, "zero.jpg", [](ExifData* ed) {
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, {50, 0});
        addRational(ed, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_PLANE_X_RESOLUTION, {4000, 24});
    });
    EXPECT_FALSE(orvreg::exifFocalPixels(zero.toStdString(), 4000, 3000).has_value());
    const QString none = writeJpeg(dir, "none.jpg", {});
    EXPECT_FALSE(orvreg::exifFocalPixels(none.toStdString(), 4000, 3000).has_value());
    EXPECT_FALSE(orvreg::exifFocalPixels(dir.filePath("missing.jpg").toStdString(), 4000, 3000));
    EXPECT_FALSE(orvreg::exifFocalPixels(sensor.toStdString(), 0, 3000));
}

}  // namespace
