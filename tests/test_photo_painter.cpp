// The per-texel photo painter: the lens's usable radius, colour matching, the depth view's
// occlusion, the weights (grazing fade, mask), the photo levels against aliasing, the bleed and
// the tiles reported before writing; then a generated sample's exact render painted back
// through its true camera onto its own tile's texture.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <random>
#include <set>
#include <vector>

#include "ColourMatch.h"
#include "DepthView.h"
#include "PaintWeights.h"
#include "PhotoProjector.h"
#include "PhotoPyramid.h"
#include "SampleGenerator.h"
#include "TexturePaint.h"
#include "ZimGeometry64t.h"

using namespace orvpaint;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A camera at `eye` looking at `target`, world z up on the photo (or y when looking straight
// down the z axis).
PinholeCamera lookAt(const Vec3& eye, const Vec3& target, int w, int h, double f)
{
    Vec3 forward = target - eye;
    forward = forward * (1 / forward.length());
    Vec3 up(0, 0, 1);
    if (std::fabs(forward.dot(up)) > 0.99) up = Vec3(0, 1, 0);
    Vec3 right = forward.cross(up);
    right = right * (1 / right.length());
    const Vec3 down = forward.cross(right);
    PinholeCamera c;
    c.width = w, c.height = h;
    c.fx = c.fy = f;
    c.cx = w / 2.0, c.cy = h / 2.0;
    const Vec3 rows[3] = {right, down, forward};
    for (int r = 0; r < 3; ++r) {
        c.R[3 * r] = rows[r].x, c.R[3 * r + 1] = rows[r].y, c.R[3 * r + 2] = rows[r].z;
        c.t[r] = -rows[r].dot(eye);
    }
    return c;
}

// A textured quad (two triangles): corners in world metres, texture corners (s, t).
struct Quad {
    std::vector<float> positions, uvs;
    std::vector<int> triangles;

    Quad(const Vec3 corner[4], const float st[8])
    {
        for (int k = 0; k < 4; ++k) {
            positions.insert(positions.end(), {float(corner[k].x), float(corner[k].y), float(corner[k].z)});
            uvs.insert(uvs.end(), {st[2 * k], st[2 * k + 1]});
        }
        triangles = {0, 1, 2, 0, 2, 3};
    }
    MeshView view() const
    {
        MeshView m;
        m.positions = positions.data();
        m.vertexCount = 4;
        m.uvs = uvs.data();
        m.uvCount = 4;
        m.triangles = triangles.data();
        m.triangleCount = 2;
        return m;
    }
};

// A square of side `size` centred on the origin in the plane z = 0, its whole texture on it.
Quad groundSquare(double size, float s0 = 0, float s1 = 1)
{
    const double h = size / 2;
    const Vec3 c[4] = {{-h, -h, 0}, {h, -h, 0}, {h, h, 0}, {-h, h, 0}};
    const float st[8] = {s0, s0, s1, s0, s1, s1, s0, s1};
    return Quad(c, st);
}

// A texture buffer in the geometry library's layout (B, G, R, rows bottom-up, padded to 4 bytes).
struct Texture {
    int width, height, rowBytes;
    std::vector<unsigned char> bytes;

    Texture(int w, int h, unsigned char grey) : width(w), height(h), rowBytes((3 * w + 3) / 4 * 4)
    {
        bytes.assign(std::size_t(rowBytes) * h, grey);
    }
    ImageRows rows()
    {
        ImageRows r;
        r.data = bytes.data();
        r.width = width, r.height = height, r.rowBytes = rowBytes, r.channels = 3, r.bottomUp = true;
        return r;
    }
    const unsigned char* texel(int x, int y) const { return bytes.data() + std::size_t(y) * rowBytes + 3 * x; }
};

// Everything one paint needs for a scene of quads seen by one camera.
struct Painter {
    PhotoProjector projector;
    std::unique_ptr<DepthView> depth;
    std::unique_ptr<PaintWeights> weights;
    PhotoPyramid pyramid;

    Painter(const PinholeCamera& cam, const cv::Mat& photo, const std::vector<MeshView>& scene,
            const WeightOptions& wo = WeightOptions(), const cv::Mat& mask = cv::Mat(), int levels = 16)
        : projector(cam, photo.cols, photo.rows), pyramid(photo, levels)
    {
        depth = std::make_unique<DepthView>(projector);
        for (const MeshView& m : scene) depth->addMesh(m);
        depth->render();
        weights = std::make_unique<PaintWeights>(*depth, wo, mask);
    }
    PaintStats paint(const MeshView& mesh, Texture& tex, const PaintOptions& o = PaintOptions()) const
    {
        return TexturePaint::paint(mesh, tex.rows(), pyramid, projector, *depth, *weights, o);
    }
};

}  // namespace

TEST(PhotoProjector, ScalesWithThePhotoAndRefusesPointsTheLensFoldsBack)
{
    PinholeCamera cam = lookAt(Vec3(0, 0, 50), Vec3(0, 0, 0), 800, 600, 700);
    cam.k1 = -0.3;  // the distorted radius stops growing at r^2 = 1 / (3 * 0.3)
    const PhotoProjector full(cam), half(cam, 400, 300);
    ASSERT_TRUE(full.isValid() && half.isValid());
    EXPECT_NEAR(full.maxRadius2(), 1 / 0.9, 1e-12);
    double lastRadius = -1;
    int refused = 0;
    for (double x = 0; x < 80; x += 0.5) {
        double px = 0, py = 0, hx = 0, hy = 0;
        const Vec3 p(x, 3, 0);
        const bool ok = full.project(p, px, py);
        EXPECT_EQ(ok, half.project(p, hx, hy));
        if (!ok) {
            ++refused;
            continue;
        }
        EXPECT_NEAR(hx, px / 2, 1e-9);
        EXPECT_NEAR(hy, py / 2, 1e-9);
        // While accepted, farther points land farther from the centre.
        const double r = std::hypot(px - 400, py - 300);
        EXPECT_GT(r, lastRadius) << "x " << x;
        lastRadius = r;
    }
    EXPECT_GT(refused, 0) << "points beyond the fold must be refused";
    double px = 0, py = 0;
    EXPECT_FALSE(full.project(Vec3(0, 0, 60), px, py)) << "behind the camera";
    PinholeCamera bad = cam;
    bad.R[0] = 2;
    EXPECT_FALSE(PhotoProjector(bad).isValid());
}

TEST(ColourMatch, RecoversGainAndOffsetDespiteOutliersAndClipping)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(10, 240);
    std::normal_distribution<float> noise(0, 1.0f);
    const double gain[3] = {1.2, 0.9, 1.05}, offset[3] = {-5, 12, 3};
    std::vector<cv::Vec3f> photo, reference;
    for (int i = 0; i < 5000; ++i) {
        cv::Vec3f p, r;
        for (int c = 0; c < 3; ++c) {
            const float truth = value(rng);
            // The photo is the reference under another exposure, clipped like a sensor.
            p[c] = std::min(255.0f, float((truth - offset[c]) / gain[c]) + noise(rng));
            r[c] = truth;
        }
        // Something that changed in the scene since the textures were made.
        if (i % 7 == 0) r = cv::Vec3f(255, 255, 255) - r;
        photo.push_back(p);
        reference.push_back(r);
    }
    ColourMatch match;
    ASSERT_TRUE(match.fitSamples(photo, reference));
    EXPECT_FALSE(match.isIdentity());
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(match.channel(c).gain, gain[c], 0.01) << "channel " << c;
        EXPECT_NEAR(match.channel(c).offset, offset[c], 1.5) << "channel " << c;
    }
    float bgr[3] = {100, 100, 100};
    match.apply(bgr);
    EXPECT_NEAR(bgr[0], 1.2 * 100 - 5, 1.5);

    // Too little to go on, or two pictures that cannot show the same thing: the identity stays.
    ColourMatch few;
    EXPECT_FALSE(few.fitSamples(std::vector<cv::Vec3f>(photo.begin(), photo.begin() + 50),
                                std::vector<cv::Vec3f>(reference.begin(), reference.begin() + 50)));
    EXPECT_TRUE(few.isIdentity());
    std::vector<cv::Vec3f> dark(photo.size());
    for (std::size_t i = 0; i < photo.size(); ++i) dark[i] = photo[i] * 0.05f + cv::Vec3f(2, 2, 2);
    ColourMatch absurd;
    EXPECT_FALSE(absurd.fitSamples(dark, reference));
    EXPECT_TRUE(absurd.isIdentity());

    // The picture form: a photo at twice the reference's size, its sky masked out.
    cv::Mat ref(60, 80, CV_8UC3), big;
    cv::randu(ref, 20, 200);
    cv::Mat brighter;
    ref.convertTo(brighter, CV_8UC3, 1.25, 4);
    cv::resize(brighter, big, cv::Size(160, 120), 0, 0, cv::INTER_NEAREST);
    cv::Mat mask(60, 80, CV_8U, cv::Scalar(255));
    mask.rowRange(0, 10).setTo(0);
    big.rowRange(0, 20).setTo(cv::Scalar(250, 250, 250));
    ColourMatch pictures;
    ASSERT_TRUE(pictures.fit(big, ref, mask));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pictures.channel(c).gain, 1 / 1.25, 0.01);
}

TEST(DepthView, TheNearestSurfaceHidesWhatIsBehindItAndItsEdgeIsNotVisibleArea)
{
    // A 40 m ground square and a 10 m roof 8 m above its middle, seen from straight above.
    const PinholeCamera cam = lookAt(Vec3(0, 0, 60), Vec3(0, 0, 0), 400, 400, 500);
    const Quad ground = groundSquare(40);
    const Vec3 roofCorners[4] = {{-5, -5, 8}, {5, -5, 8}, {5, 5, 8}, {-5, 5, 8}};
    const float st[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    const Quad roof(roofCorners, st);
    const PhotoProjector projector(cam);
    DepthView depth(projector, 0.5);
    EXPECT_EQ(depth.width(), 200);
    depth.addMesh(ground.view());
    depth.addMesh(roof.view());
    depth.render();

    auto seen = [&](const Vec3& p) {
        double px = 0, py = 0, z = 0;
        EXPECT_TRUE(projector.project(p, px, py, &z));
        return depth.isNearest(px, py, z, 0.005);
    };
    EXPECT_TRUE(seen(Vec3(2, 1, 8))) << "the roof";
    EXPECT_FALSE(seen(Vec3(2, 1, 0))) << "the ground under the roof";
    EXPECT_TRUE(seen(Vec3(12, -9, 0))) << "open ground";
    double px = 0, py = 0;
    ASSERT_TRUE(projector.project(Vec3(12, -9, 0), px, py));
    EXPECT_NEAR(depth.depthAt(px, py), 60, 0.01);
    ASSERT_TRUE(projector.project(Vec3(22, 0, 0), px, py));
    ASSERT_LT(px, 400);
    EXPECT_EQ(depth.depthAt(px, py), DepthView::kEmpty) << "beyond the ground";

    const cv::Mat visible = depth.visibleArea(0.03);
    auto visibleAt = [&](const Vec3& p) {
        double x = 0, y = 0;
        projector.project(p, x, y);
        return visible.at<unsigned char>(int(y * 0.5), int(x * 0.5)) != 0;
    };
    EXPECT_TRUE(visibleAt(Vec3(0, 0, 8)));
    EXPECT_TRUE(visibleAt(Vec3(12, -9, 0)));
    // Along the roof's edge the depth jumps by 8 m of 60: an occluding edge on both sides.
    int edge = 0;
    for (double y = -4; y <= 4; y += 1) edge += !visibleAt(Vec3(5.0 * 60 / 52, y, 0)) || !visibleAt(Vec3(4.99, y, 8));
    EXPECT_EQ(edge, 9);
    EXPECT_FALSE(visibleAt(Vec3(22, 0, 0)));
}

TEST(PaintWeights, GrazingFacesFadeToNothingAndTheMaskLimitsThePaint)
{
    // A uniform wall colour seen head-on and ever more obliquely: the texture starts at 100, the
    // photo shows 200, so a texel's new value tells the weight it took.
    const cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(200, 200, 200));
    double last = 2;
    for (double angle : {0.0, 30.0, 55.0, 65.0, 70.0, 75.0, 79.0, 82.0, 86.0}) {
        SCOPED_TRACE(testing::Message() << angle << " degrees");
        const double a = angle * kPi / 180;
        // The camera 50 m from the square's centre, tilted off its normal by `angle`.
        const Vec3 eye(0, -50 * std::sin(a), 50 * std::cos(a));
        const Quad wall = groundSquare(400);
        Painter p(lookAt(eye, Vec3(0, 0, 0), 400, 300, 300), photo, {wall.view()});
        Texture tex(256, 256, 100);
        std::vector<float> weight;
        PaintOptions o;
        o.weightOut = &weight;
        const PaintStats s = p.paint(wall.view(), tex, o);
        ASSERT_TRUE(s.ok) << s.error;
        // The texel under the photo's centre.
        const int cx = 128, cy = 128;
        const double w = weight[std::size_t(cy) * 256 + cx];
        const int value = tex.texel(cx, cy)[1];
        EXPECT_NEAR(value, 100 + 100 * w, 0.6);
        if (angle <= 55) {
            EXPECT_NEAR(w, 1.0, 1e-6);
        } else if (angle >= 65 && angle <= 75) {
            EXPECT_TRUE(w > 0.02 && w < 0.98) << w;
        } else if (angle >= 82) {
            EXPECT_EQ(value, 100);
        }
        EXPECT_LE(w, last + 1e-9) << "the weight grows with the angle";
        last = w;
    }

    // A mask that allows only the photo's right half.
    const Quad ground = groundSquare(100);
    cv::Mat mask(30, 40, CV_8U, cv::Scalar(0));
    mask.colRange(20, 40).setTo(255);
    Painter p(lookAt(Vec3(0, 0, 50), Vec3(0, 0, 0), 400, 300, 300), photo, {ground.view()}, WeightOptions(), mask);
    Texture tex(256, 256, 100);
    ASSERT_TRUE(p.paint(ground.view(), tex).ok);
    int leftChanged = 0, rightPainted = 0;
    for (int y = 100; y < 156; ++y)
        for (int x = 100; x < 156; ++x) {
            // Seen from above with y up on the photo, world x grows to the right.
            if (x < 124) leftChanged += tex.texel(x, y)[0] != 100;
            if (x > 132) rightPainted += tex.texel(x, y)[0] == 200;
        }
    EXPECT_EQ(leftChanged, 0);
    EXPECT_EQ(rightPainted, 23 * 56);
}

TEST(PaintWeights, BlocksTakenAsFullWeightReadNothingBelowIt)
{
    // A ground square with a roof above its middle, seen from above: the feather ramps down at the
    // ground's border and around the roof's occluding edge, and is full in between.
    const PinholeCamera cam = lookAt(Vec3(0, 0, 60), Vec3(0, 0, 0), 400, 400, 500);
    const Quad ground = groundSquare(40);
    const Vec3 roofCorners[4] = {{-5, -5, 8}, {5, -5, 8}, {5, 5, 8}, {-5, 5, 8}};
    const float st[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    const Quad roof(roofCorners, st);
    const cv::Mat photo(400, 400, CV_8UC3, cv::Scalar(90, 90, 90));
    const Painter p(cam, photo, {ground.view(), roof.view()});
    const PaintWeights& weights = *p.weights;
    const int block = PaintWeights::kFullBlock;
    int full = 0, partial = 0, wrong = 0;
    for (int by = 0; by * block < weights.map().rows; ++by)
        for (int bx = 0; bx * block < weights.map().cols; ++bx) {
            if (!weights.isFullAt(bx * block, by * block)) {
                ++partial;
                continue;
            }
            ++full;
            // Every look-up that starts in the block, up to the next block's first pixels.
            for (double my = by * block; my < (by + 1) * block; my += 0.25)
                for (double mx = bx * block; mx < (bx + 1) * block; mx += 0.25)
                    wrong += weights.featherAt(mx + 0.5, my + 0.5) != 1.0f;
        }
    EXPECT_GT(full, 100);
    EXPECT_GT(partial, 100);
    EXPECT_EQ(wrong, 0);
    // Blocks touching the roof's edge are not full.
    double px = 0, py = 0;
    ASSERT_TRUE(p.projector.project(Vec3(5.0 * 60 / 52, 0, 0), px, py));
    EXPECT_FALSE(weights.isFullAt(int(px), int(py)));
    EXPECT_LT(weights.featherAt(px, py), 1.0f);
}

TEST(TexturePaint, ATexelCoveringManyPhotoPixelsTakesTheirAverage)
{
    // A 1-pixel checkerboard photographed on a ground square whose 32 x 32 texels each span about
    // 9 photo pixels: without reduced levels every texel would come out black or white.
    cv::Mat photo(600, 800, CV_8UC3);
    for (int y = 0; y < photo.rows; ++y)
        for (int x = 0; x < photo.cols; ++x)
            photo.at<cv::Vec3b>(y, x) = (x + y) % 2 ? cv::Vec3b(255, 255, 255) : cv::Vec3b(0, 0, 0);
    const Quad ground = groundSquare(40);
    const PinholeCamera cam = lookAt(Vec3(0, 0, 60), Vec3(0, 0, 0), 800, 600, 400);
    for (int levels : {16, 1}) {
        Painter p(cam, photo, {ground.view()}, WeightOptions(), cv::Mat(), levels);
        Texture tex(32, 32, 0);
        std::vector<float> weight;
        PaintOptions o;
        o.weightOut = &weight;
        ASSERT_TRUE(p.paint(ground.view(), tex, o).ok);
        int full = 0, near = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                if (weight[std::size_t(y) * 32 + x] < 0.999f) continue;
                ++full;
                near += std::abs(tex.texel(x, y)[0] - 127) <= 10;
            }
        ASSERT_GT(full, 200);
        if (levels > 1)
            EXPECT_EQ(near, full);
        else
            EXPECT_LT(near, full / 2) << "a single level must alias (else this photo proves nothing)";
    }
}

TEST(TexturePaint, BleedsPastTheIslandAndReportsTheTouchedTilesBeforeWriting)
{
    // A 40 m patch of ground whose texture occupies texels 64..191 of a 256 texture (the rest
    // belongs to no triangle), lying on wider ground that is not painted.
    const cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(30, 160, 220));
    const Quad ground = groundSquare(40, 0.25f, 0.75f);
    Quad around = groundSquare(300);
    for (std::size_t k = 2; k < around.positions.size(); k += 3) around.positions[k] = -0.01f;
    Painter p(lookAt(Vec3(0, 0, 60), Vec3(0, 0, 0), 400, 300, 250), photo, {ground.view(), around.view()});
    Texture tex(256, 256, 90);
    const std::vector<unsigned char> before = tex.bytes;
    std::vector<TileKey> seen;
    int calls = 0;
    PaintOptions o;
    o.bleedTexels = 3;
    o.beforeWrite = [&](const std::vector<TileKey>& tiles) {
        ++calls;
        seen = tiles;
        EXPECT_TRUE(tex.bytes == before) << "the texture changed before its tiles were reported";
    };
    const PaintStats s = p.paint(ground.view(), tex, o);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(seen == s.touchedTiles);

    // The island is painted; three rings around it are bled; beyond that nothing changes.
    auto painted = [&](int x, int y) { return tex.texel(x, y)[2] > 200 && tex.texel(x, y)[0] < 50; };
    for (int k : {70, 128, 185}) {
        EXPECT_TRUE(painted(k, 128)) << k;
        EXPECT_TRUE(painted(128, k)) << k;
    }
    // The texels around the island's left edge (texel centres 63.5 .. 64.5 are the border).
    for (int x : {61, 62, 63}) EXPECT_TRUE(painted(x, 128)) << "bleed at " << x;
    for (int x : {57, 58, 59}) EXPECT_EQ(tex.texel(x, 128)[0], 90) << "beyond the bleed at " << x;
    for (int y : {192, 193, 194}) EXPECT_TRUE(painted(128, y)) << "bleed at row " << y;
    EXPECT_EQ(tex.texel(128, 198)[0], 90);
    EXPECT_EQ(s.texelsInTriangles, 128 * 128);
    EXPECT_GT(s.texelsBled, 3 * 4 * 128);

    // Exactly the tiles whose bytes differ are reported, and every changed texel is counted.
    std::set<std::pair<int, int>> differ;
    long long changed = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (std::memcmp(tex.texel(x, y), before.data() + std::size_t(y) * tex.rowBytes + 3 * x, 3) != 0) {
                differ.insert({x / 64, y / 64});
                ++changed;
            }
    std::set<std::pair<int, int>> reported;
    for (const TileKey& t : s.touchedTiles) reported.insert({t.x, t.y});
    EXPECT_EQ(reported, differ);
    EXPECT_EQ(reported.size(), 16u) << "the bled rings reach into the outer tiles";
    EXPECT_EQ(s.texelsChanged, changed);

    // Painting the same photo again changes nothing and reports no tile.
    calls = 0;
    const PaintStats again = p.paint(ground.view(), tex, o);
    EXPECT_EQ(again.texelsChanged, 0);
    EXPECT_TRUE(again.touchedTiles.empty());
    EXPECT_EQ(calls, 0);
}

TEST(TexturePaint, RefusesAPhotoOfAnotherSizeThanItsCamera)
{
    const cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(1, 2, 3));
    const Quad ground = groundSquare(40);
    const PinholeCamera cam = lookAt(Vec3(0, 0, 30), Vec3(0, 0, 0), 400, 300, 250);
    Painter p(cam, photo, {ground.view()});
    const PhotoPyramid small(cv::Mat(150, 200, CV_8UC3, cv::Scalar(1, 2, 3)));
    Texture tex(64, 64, 9);
    const PaintStats s = TexturePaint::paint(ground.view(), tex.rows(), small, p.projector, *p.depth, *p.weights);
    EXPECT_FALSE(s.ok);
    EXPECT_FALSE(s.error.empty());
    EXPECT_EQ(tex.bytes, std::vector<unsigned char>(tex.bytes.size(), 9));
}

// ---- a generated sample painted back through its true camera ----------------------------------

namespace {

// Tile 0 of a four-tile sample, its exact render (no photo effects) and the true camera of it.
class SamplePaint : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        orvsample::SampleOptions& o = options();
        o.outDir = s_dir->filePath(QStringLiteral("sample"));
        o.tiles = 4;
        o.trianglesTotal = 8000;
        o.photoSize = QSize(1280, 960);
        o.textureSize = 256;
        o.seed = 5;
        o.photoEffects = false;
        s_result = new orvsample::SampleResult(orvsample::generateSample(o));
    }
    static void TearDownTestSuite()
    {
        delete s_result;
        delete s_dir;
        s_result = nullptr;
        s_dir = nullptr;
    }
    static orvsample::SampleOptions& options()
    {
        static orvsample::SampleOptions o;
        return o;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_result && s_result->ok) << (s_result ? s_result->error.toStdString() : "");
        for (const QString& path : s_result->meshFiles) {
            QString error;
            ref_ptr<IZimMesh> m = zim::loadObjMesh(path, &error);
            ASSERT_TRUE(m) << error.toStdString();
            MeshView v;
            v.positions = reinterpret_cast<const float*>(m->meshVertexSource()->data());
            v.vertexCount = m->meshVertexCount();
            v.uvs = reinterpret_cast<const float*>(m->meshTexCoords()->data());
            v.uvCount = m->meshTexCoords()->count();
            v.triangles = m->meshTriangles()->data();
            v.triangleCount = m->meshTriangleCount();
            v.uvTriangles = m->hasTexIndices() ? m->meshTexIndices()->data() : nullptr;
            meshes.push_back(m);
            views.push_back(v);
        }
        ref_ptr<IZimImage> image = meshes[0]->meshTexture();
        ASSERT_TRUE(image && image->imageBits() == 24);
        original = std::make_unique<Texture>(image->imageWidth(), image->imageHeight(), 0);
        ASSERT_EQ(original->rowBytes, image->imageRowBytes());
        std::memcpy(original->bytes.data(), image->imageData(0), original->bytes.size());

        terrain = std::make_unique<orvsample::SampleTerrain>(4, 8000, 5u);
        truth = orvsample::photoCamera(*terrain, 0, options());
        camera.width = truth.width, camera.height = truth.height;
        camera.fx = camera.fy = truth.focal;
        camera.cx = truth.cx, camera.cy = truth.cy;
        camera.k1 = truth.k1, camera.k2 = truth.k2;
        std::copy(truth.R, truth.R + 9, camera.R);
        std::copy(truth.t, truth.t + 3, camera.t);

        const QImage rgb = QImage(s_result->photoFiles[0]).convertToFormat(QImage::Format_RGB888);
        ASSERT_EQ(rgb.width(), 1280);
        const cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                              std::size_t(rgb.bytesPerLine()));
        cv::cvtColor(wrapped, photo, cv::COLOR_RGB2BGR);
        findDenseTexels();
    }

    // Texels whose neighbours one texel away land at least a photo pixel away in both directions,
    // all inside the photo: there the photo holds at least the texture's detail.
    void findDenseTexels()
    {
        const int W = original->width, H = original->height;
        dense.assign(std::size_t(W) * H, 0);
        auto project = [&](double s, double t, double& px, double& py) {
            return truth.project(terrain->surfacePoint(0, s, t), &px, &py) && px >= 0 && py >= 0 && px < truth.width &&
                   py < truth.height;
        };
        for (int j = 0; j < H; ++j)
            for (int i = 0; i < W; ++i) {
                const double s = (i + 0.5) / W, t = (j + 0.5) / H, hs = 0.5 / W, ht = 0.5 / H;
                double ax = 0, ay = 0, bx = 0, by = 0, cx = 0, cy = 0, dx = 0, dy = 0;
                if (!project(s - hs, t, ax, ay) || !project(s + hs, t, bx, by) || !project(s, t - ht, cx, cy) ||
                    !project(s, t + ht, dx, dy))
                    continue;
                if (std::hypot(bx - ax, by - ay) >= 1 && std::hypot(dx - cx, dy - cy) >= 1)
                    dense[std::size_t(j) * W + i] = 1;
            }
    }

    struct Differences {
        double mean = 0, p99 = 0;
        long long texels = 0;
    };
    // Channel differences between a painted texture and the original over dense texels whose
    // weight is at least minWeight.
    Differences compare(const Texture& painted, const std::vector<float>& weight, float minWeight) const
    {
        std::vector<int> d;
        const int W = original->width;
        for (int j = 0; j < original->height; ++j)
            for (int i = 0; i < W; ++i) {
                const std::size_t k = std::size_t(j) * W + i;
                if (!dense[k] || weight[k] < minWeight) continue;
                for (int c = 0; c < 3; ++c) d.push_back(std::abs(painted.texel(i, j)[c] - original->texel(i, j)[c]));
            }
        Differences out;
        if (d.empty()) return out;
        out.texels = (long long)(d.size() / 3);
        double sum = 0;
        for (int v : d) sum += v;
        out.mean = sum / double(d.size());
        std::nth_element(d.begin(), d.begin() + std::ptrdiff_t(d.size() * 99 / 100), d.end());
        out.p99 = d[d.size() * 99 / 100];
        return out;
    }

    std::unique_ptr<Painter> painter(const cv::Mat& picture) const
    {
        std::vector<MeshView> scene(views.begin(), views.end());
        return std::make_unique<Painter>(camera, picture, scene);
    }

    static QTemporaryDir* s_dir;
    static orvsample::SampleResult* s_result;

    std::vector<ref_ptr<IZimMesh>> meshes;
    std::vector<MeshView> views;
    std::unique_ptr<Texture> original;
    std::unique_ptr<orvsample::SampleTerrain> terrain;
    orvsample::PhotoCamera truth;
    PinholeCamera camera;
    cv::Mat photo;
    std::vector<unsigned char> dense;
};

QTemporaryDir* SamplePaint::s_dir = nullptr;
orvsample::SampleResult* SamplePaint::s_result = nullptr;

long long count(const std::vector<unsigned char>& v)
{
    return std::count_if(v.begin(), v.end(), [](unsigned char c) { return c != 0; });
}

}  // namespace

TEST_F(SamplePaint, ThePhotoPaintedOntoItsOwnTextureChangesItLittleAndRestoresAGreyOne)
{
    const long long denseTexels = count(dense);
    ASSERT_GT(denseTexels, long(dense.size() / 5)) << "the photo must see much of its tile in detail";
    const std::unique_ptr<Painter> p = painter(photo);

    // Onto the texture the photo was rendered from.
    Texture own = *original;
    std::vector<float> weight;
    PaintOptions o;
    o.weightOut = &weight;
    const PaintStats s = p->paint(views[0], own, o);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_GT(s.texelsChanged, 0);
    const Differences all = compare(own, weight, 0.0f);
    EXPECT_EQ(all.texels, denseTexels);
    EXPECT_LE(all.mean, 3.0);
    EXPECT_LE(all.p99, 12.0);
    long long full = 0;
    for (std::size_t k = 0; k < dense.size(); ++k) full += dense[k] && weight[k] >= 0.999f;
    EXPECT_GT(full, denseTexels / 2) << "most of the detailed area must be painted at full weight";

    // Onto a grey texture: where painted fully the photo brings the texture back.
    Texture grey(original->width, original->height, 128);
    ASSERT_TRUE(p->paint(views[0], grey, o).ok);
    const Differences restored = compare(grey, weight, 0.999f);
    EXPECT_EQ(restored.texels, full);
    EXPECT_LE(restored.mean, 3.0);
    EXPECT_LE(restored.p99, 12.0);
}

TEST_F(SamplePaint, ColourMatchingTakesOutAnExposureGain)
{
    // The same photo 20 % brighter, clipped as a sensor would; the reference is what the camera
    // sees of the current textures, which is the exact render itself.
    cv::Mat brighter;
    photo.convertTo(brighter, CV_8UC3, 1.2);
    const std::unique_ptr<Painter> p = painter(brighter);
    ColourMatch match;
    ASSERT_TRUE(match.fit(brighter, photo, p->depth->visibleArea(0.03)));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(match.channel(c).gain, 1 / 1.2, 0.03) << "channel " << c;

    for (bool matched : {true, false}) {
        SCOPED_TRACE(matched ? "matched" : "not matched");
        Texture grey(original->width, original->height, 128);
        std::vector<float> weight;
        PaintOptions o;
        o.weightOut = &weight;
        o.colourMatch = matched ? &match : nullptr;
        ASSERT_TRUE(p->paint(views[0], grey, o).ok);
        const Differences d = compare(grey, weight, 0.999f);
        ASSERT_GT(d.texels, count(dense) / 2);
        if (matched) {
            EXPECT_LE(d.mean, 3.0);
            EXPECT_LE(d.p99, 12.0);
        } else {
            EXPECT_GT(d.mean, 6.0) << "the gain must show without matching, or this photo proves nothing";
        }
    }
}

TEST_F(SamplePaint, TexelsHiddenBehindBuildingsAreNeverPainted)
{
    // Every triangle of the scene, for rays from the tile's surface towards the camera.
    struct Tri {
        Vec3 a, e1, e2, lo, hi;
    };
    std::vector<Tri> tris;
    for (const MeshView& v : views)
        for (int t = 0; t < v.triangleCount; ++t) {
            Vec3 p[3];
            for (int k = 0; k < 3; ++k) {
                const float* q = v.positions + 3 * std::size_t(v.triangles[3 * t + k]);
                p[k] = Vec3(q[0], q[1], q[2]);
            }
            Tri tri{p[0], p[1] - p[0], p[2] - p[0], {}, {}};
            tri.lo = Vec3(std::min({p[0].x, p[1].x, p[2].x}), std::min({p[0].y, p[1].y, p[2].y}),
                          std::min({p[0].z, p[1].z, p[2].z}));
            tri.hi = Vec3(std::max({p[0].x, p[1].x, p[2].x}), std::max({p[0].y, p[1].y, p[2].y}),
                          std::max({p[0].z, p[1].z, p[2].z}));
            tris.push_back(tri);
        }
    const Vec3 eye(truth.eye.x, truth.eye.y, truth.eye.z);
    // Hidden: something lies on the ray to the camera clearly in front of the point (2 m, and 2 %
    // of the way, more than any depth tolerance).
    auto hidden = [&](const Vec3& p) {
        const Vec3 d = eye - p;
        const double L = d.length();
        const Vec3 dir = d * (1 / L);
        const double from = std::max(2.0, 0.02 * L);
        const Vec3 lo(std::min(p.x, eye.x), std::min(p.y, eye.y), std::min(p.z, eye.z));
        const Vec3 hi(std::max(p.x, eye.x), std::max(p.y, eye.y), std::max(p.z, eye.z));
        for (const Tri& t : tris) {
            if (t.hi.x < lo.x || t.lo.x > hi.x || t.hi.y < lo.y || t.lo.y > hi.y || t.hi.z < lo.z || t.lo.z > hi.z)
                continue;
            const Vec3 pv = dir.cross(t.e2);
            const double det = t.e1.dot(pv);
            if (std::fabs(det) < 1e-12) continue;
            const Vec3 tv = p - t.a;
            const double u = tv.dot(pv) / det;
            if (u < 0 || u > 1) continue;
            const Vec3 qv = tv.cross(t.e1);
            const double v = dir.dot(qv) / det;
            if (v < 0 || u + v > 1) continue;
            const double dist = t.e2.dot(qv) / det;
            if (dist > from && dist < L) return true;
        }
        return false;
    };

    const std::unique_ptr<Painter> p = painter(photo);
    Texture grey(original->width, original->height, 128);
    std::vector<float> weight;
    PaintOptions o;
    o.weightOut = &weight;
    const PaintStats s = p->paint(views[0], grey, o);
    ASSERT_TRUE(s.ok) << s.error;
    const int W = grey.width, H = grey.height;
    int hiddenTexels = 0, paintedHidden = 0, seenPainted = 0, seen = 0;
    for (int j = 1; j < H; j += 3)
        for (int i = 1; i < W; i += 3) {
            const orvsample::PhotoCamera& c = truth;
            const XPnt3d q = terrain->surfacePoint(0, (i + 0.5) / W, (j + 0.5) / H);
            double px = 0, py = 0;
            if (!c.project(q, &px, &py) || px < 0 || py < 0 || px >= c.width || py >= c.height) continue;
            const bool painted = weight[std::size_t(j) * W + i] > 0 || grey.texel(i, j)[0] != 128 ||
                                 grey.texel(i, j)[1] != 128 || grey.texel(i, j)[2] != 128;
            if (hidden(Vec3(q.x, q.y, q.z))) {
                ++hiddenTexels;
                paintedHidden += painted;
            } else {
                ++seen;
                seenPainted += painted;
            }
        }
    EXPECT_GE(hiddenTexels, 20) << "the photo must look behind some building";
    EXPECT_EQ(paintedHidden, 0);
    EXPECT_GT(seenPainted, seen * 3 / 4);
}

TEST_F(SamplePaint, BothSidesOfASeamBetweenTilesArePaintedAlike)
{
    // Tile 1 lies east of tile 0 and shares its border vertices; its faces carry their own texture
    // indices. Painted from grey, the texels either side of the shared edge must differ as little
    // as the original textures do there: the paint adds no step.
    ref_ptr<IZimImage> image = meshes[1]->meshTexture();
    ASSERT_TRUE(image && image->imageBits() == 24 && image->imageWidth() == original->width);
    Texture east(image->imageWidth(), image->imageHeight(), 0);
    std::memcpy(east.bytes.data(), image->imageData(0), east.bytes.size());
    ASSERT_TRUE(views[1].uvTriangles != nullptr);

    const std::unique_ptr<Painter> p = painter(photo);
    Texture west(original->width, original->height, 128), eastPainted(east.width, east.height, 128);
    std::vector<float> wWest, wEast;
    PaintOptions o;
    o.weightOut = &wWest;
    ASSERT_TRUE(p->paint(views[0], west, o).ok);
    o.weightOut = &wEast;
    ASSERT_TRUE(p->paint(views[1], eastPainted, o).ok);
    const int W = west.width;
    int rows = 0;
    double step = 0;
    for (int j = 0; j < west.height; ++j) {
        const std::size_t a = std::size_t(j) * W + (W - 1), b = std::size_t(j) * W;
        if (wWest[a] < 0.999f || wEast[b] < 0.999f) continue;
        ++rows;
        for (int c = 0; c < 3; ++c) {
            const int painted = west.texel(W - 1, j)[c] - eastPainted.texel(0, j)[c];
            const int truthStep = original->texel(W - 1, j)[c] - east.texel(0, j)[c];
            step += std::abs(painted - truthStep) / 3.0;
        }
    }
    ASSERT_GE(rows, 30) << "the photo must see the shared edge";
    EXPECT_LE(step / rows, 3.0);
}
