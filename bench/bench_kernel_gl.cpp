// Kernel GL: one frame of a 1,000,000-triangle textured scene (10 terrain tiles of 100,000
// triangles, each with its own 1024 x 1024 texture) drawn through the scene items, against a
// baseline of the same triangles from one bare vertex buffer with one texture bound, and the GL
// triangle selection of that scene. A real context renders into a 1920 x 1080 framebuffer
// object; every frame ends with glFinish. At the end the scene/baseline ratio is printed.
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../platform/OrvKernel64t/KernelScene.h"
#include "OrvKernel64t.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kTilesX = 5, kTilesY = 2;
constexpr int kCellsX = 250, kCellsY = 200;  // 2 * 250 * 200 = 100,000 triangles a tile
constexpr int kTexture = 1024;

struct Bench {
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    ref_ptr<IZimTrackBall> camera;
    ref_ptr<MeshArray> meshes = zim::newMeshArray();
    std::vector<ref_ptr<IZimSceneItem>> items;
    GLuint baselineBuffer = 0;
    GLuint baselineTexture = 0;
    GLsizei baselineVertices = 0;
    bool ready = false;
};
Bench* g_bench = nullptr;

ref_ptr<IZimImage> tileTexture(int seed)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    if (!image->imageCreate(kTexture, kTexture, 24, ZimImageNoMarks)) return nullptr;
    for (int y = 0; y < kTexture; ++y) {
        unsigned char* row = image->imageData(y);
        for (int x = 0; x < kTexture; ++x) {
            row[x * 3 + 0] = static_cast<unsigned char>((x * 7 + seed * 40) & 0xFF);
            row[x * 3 + 1] = static_cast<unsigned char>((y * 5 + x / 3) & 0xFF);
            row[x * 3 + 2] = static_cast<unsigned char>(((x ^ y) + seed * 25) & 0xFF);
        }
    }
    return image;
}

// A gently rolling grid tile of kCellsX x kCellsY cells at (ox, oy), 10 x 10 world units.
ref_ptr<IZimMesh> tileMesh(float ox, float oy)
{
    auto vertices = zim::newPnt3fArray();
    auto uvs = zim::newPnt2fArray();
    auto triangles = zim::newIntArray();
    for (int j = 0; j <= kCellsY; ++j) {
        for (int i = 0; i <= kCellsX; ++i) {
            const float u = float(i) / kCellsX, v = float(j) / kCellsY;
            const float x = ox + 10.0f * u, y = oy + 10.0f * v;
            vertices->append({x, y, 0.3f * std::sin(x * 0.9f) * std::cos(y * 0.7f)});
            uvs->append({u, v});
        }
    }
    triangles->reserve(kCellsX * kCellsY * 6);
    for (int j = 0; j < kCellsY; ++j) {
        for (int i = 0; i < kCellsX; ++i) {
            const int a = j * (kCellsX + 1) + i;
            for (int k : {a, a + 1, a + kCellsX + 2, a, a + kCellsX + 2, a + kCellsX + 1}) triangles->append(k);
        }
    }
    ref_ptr<IZimMesh> mesh = zim::newZimMesh();
    if (mesh->setMeshGeometry(vertices, triangles, uvs, nullptr) != 0) return nullptr;
    return mesh;
}

bool setUp(Bench& b)
{
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    b.context = std::make_unique<QOpenGLContext>();
    b.context->setFormat(format);
    b.surface = std::make_unique<QOffscreenSurface>();
    b.surface->setFormat(format);
    b.surface->create();
    if (!b.context->create() || !b.context->makeCurrent(b.surface.get())) return false;
    b.fbo = std::make_unique<QOpenGLFramebufferObject>(kWidth, kHeight, QOpenGLFramebufferObject::Depth);
    if (!b.fbo->isValid() || !b.fbo->bind()) return false;

    Enve3d box;
    for (int ty = 0; ty < kTilesY; ++ty) {
        for (int tx = 0; tx < kTilesX; ++tx) {
            ref_ptr<IZimMesh> mesh = tileMesh(10.0f * tx, 10.0f * ty);
            ref_ptr<IZimImage> texture = tileTexture(ty * kTilesX + tx);
            if (!mesh || !texture) return false;
            mesh->setMeshTextureImage(texture);
            Enve3d tileBox;
            mesh->meshBox(tileBox);
            box.expand(tileBox);
            b.items.push_back(zim::kernel::newMeshSceneItem(b.meshes->appendMesh(mesh), mesh, nullptr));
        }
    }
    b.camera = zim::newTrackBall();
    b.camera->setViewport(kWidth, kHeight);
    b.camera->setLookAt({25, 10, 40}, {25, 10, 0}, {0, 1, 0});
    b.camera->fitToBox(box, 1);

    // Baseline: every triangle corner of every tile in one buffer, position and uv interleaved.
    std::vector<float> corners;
    corners.reserve(std::size_t(b.meshes->meshCount()) * kCellsX * kCellsY * 6 * 5);
    for (int m = 0; m < b.meshes->meshCount(); ++m) {
        ref_ptr<IZimMesh> mesh = b.meshes->meshAt(m);
        const XPnt3f* v = mesh->meshVertexSource()->data();
        const XPnt2f* uv = mesh->meshTexCoords()->data();
        for (int index : *mesh->meshTriangles())
            corners.insert(corners.end(), {v[index].x, v[index].y, v[index].z, uv[index].x, uv[index].y});
    }
    b.baselineVertices = GLsizei(corners.size() / 5);
    QOpenGLFunctions* f = b.context->functions();
    f->glGenBuffers(1, &b.baselineBuffer);
    f->glBindBuffer(GL_ARRAY_BUFFER, b.baselineBuffer);
    f->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(corners.size() * sizeof(float)), corners.data(), GL_STATIC_DRAW);
    f->glBindBuffer(GL_ARRAY_BUFFER, 0);

    // The baseline's texture is set up as the scene items set up theirs (mipmapped, trilinear).
    ref_ptr<IZimImage> texture = b.meshes->meshAt(0)->meshTexture();
    glGenTextures(1, &b.baselineTexture);
    glBindTexture(GL_TEXTURE_2D, b.baselineTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, kTexture, kTexture, 0, GL_BGR, GL_UNSIGNED_BYTE, texture->imageData(0));
    glBindTexture(GL_TEXTURE_2D, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glClearColor(0.2f, 0.2f, 0.25f, 1.0f);
    return glGetError() == GL_NO_ERROR;
}

void beginFrame(Bench& b)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    b.camera->applyView();
}

bool drawScene(Bench& b)
{
    beginFrame(b);
    for (auto& item : b.items)
        if (item->drawSceneItem(1, nullptr) != 0) return false;
    glFinish();
    return true;
}

void drawBaseline(Bench& b)
{
    beginFrame(b);
    QOpenGLFunctions* f = b.context->functions();
    f->glBindBuffer(GL_ARRAY_BUFFER, b.baselineBuffer);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, b.baselineTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 5 * sizeof(float), nullptr);
    glTexCoordPointer(2, GL_FLOAT, 5 * sizeof(float), reinterpret_cast<const void*>(3 * sizeof(float)));
    glDrawArrays(GL_TRIANGLES, 0, b.baselineVertices);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_TEXTURE_2D);
    f->glBindBuffer(GL_ARRAY_BUFFER, 0);
    glFinish();
}

void BM_BaselineBareVbo(benchmark::State& state)
{
    if (!g_bench || !g_bench->ready) return state.SkipWithError("no GL context");
    drawBaseline(*g_bench);
    for (auto _ : state) drawBaseline(*g_bench);
    state.counters["triangles"] = double(g_bench->baselineVertices / 3);
}

void BM_SceneItemsFrame(benchmark::State& state)
{
    if (!g_bench || !g_bench->ready) return state.SkipWithError("no GL context");
    if (!drawScene(*g_bench)) return state.SkipWithError("a scene item failed to draw");  // uploads
    for (auto _ : state) drawScene(*g_bench);
    state.counters["triangles"] = double(g_bench->baselineVertices / 3);
}

// Baseline and scene frames alternate, so load from elsewhere on the machine hits both alike;
// the reported time is the scene frame's, the counters hold both medians and their ratio.
void BM_SceneItemsVsBaseline(benchmark::State& state)
{
    if (!g_bench || !g_bench->ready) return state.SkipWithError("no GL context");
    if (!drawScene(*g_bench)) return state.SkipWithError("a scene item failed to draw");
    drawBaseline(*g_bench);
    std::vector<double> base, scene;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        drawBaseline(*g_bench);
        const auto t1 = Clock::now();
        drawScene(*g_bench);
        const auto t2 = Clock::now();
        base.push_back(std::chrono::duration<double>(t1 - t0).count());
        scene.push_back(std::chrono::duration<double>(t2 - t1).count());
        state.SetIterationTime(scene.back());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    const double b = median(base), s = median(scene);
    state.counters["baseline_ms"] = b * 1e3;
    state.counters["scene_ms"] = s * 1e3;
    state.counters["ratio"] = b > 0 ? s / b : 0.0;
}

void BM_SelectTrianglesByGl(benchmark::State& state)
{
    if (!g_bench || !g_bench->ready) return state.SkipWithError("no GL context");
    ref_ptr<ByteArrayArray> flags;
    const Enve2d region(0, kWidth, 0, kHeight);
    long selected = zim::tqSelectTriByOpenGL(g_bench->camera, true, g_bench->meshes, region, flags, nullptr);
    if (selected <= 0) return state.SkipWithError("nothing selected");
    for (auto _ : state) {
        selected = zim::tqSelectTriByOpenGL(g_bench->camera, true, g_bench->meshes, region, flags, nullptr);
        benchmark::DoNotOptimize(selected);
    }
    state.counters["selected"] = double(selected);
}

// ---- coincident triangles ----------------------------------------------------------------------
//
// N triangles stacked on one another (N / 2 copies of one 10 x 10 square) against N ordinary
// triangles of a grid over the same square, both textured and fitted to the view: one frame of
// the scene item, and the GL triangle selection. The goal is at most 3x the ordinary cost.

struct Stack {
    ref_ptr<MeshArray> meshes = zim::newMeshArray();
    ref_ptr<IZimSceneItem> item;
    ref_ptr<IZimTrackBall> camera;
};

ref_ptr<IZimMesh> squareMesh(int triangles, bool coincident)
{
    auto vertices = zim::newPnt3fArray();
    auto uvs = zim::newPnt2fArray();
    auto indices = zim::newIntArray();
    if (coincident) {
        for (const XPnt2f c : {XPnt2f(0, 0), XPnt2f(1, 0), XPnt2f(1, 1), XPnt2f(0, 1)}) {
            vertices->append({10.0f * c.x, 10.0f * c.y, 0.0f});
            uvs->append(c);
        }
        for (int q = 0; q < triangles / 2; ++q)
            for (int k : {0, 1, 2, 0, 2, 3}) indices->append(k);
    } else {
        // Cells as square as the count allows: cx * cy * 2 == triangles.
        int cx = int(std::sqrt(double(triangles / 2)));
        while (cx > 1 && (triangles / 2) % cx != 0) --cx;
        const int cy = triangles / 2 / cx;
        for (int j = 0; j <= cy; ++j)
            for (int i = 0; i <= cx; ++i) {
                const float u = float(i) / cx, v = float(j) / cy;
                vertices->append({10.0f * u, 10.0f * v, 0.0f});
                uvs->append({u, v});
            }
        for (int j = 0; j < cy; ++j)
            for (int i = 0; i < cx; ++i) {
                const int a = j * (cx + 1) + i;
                for (int k : {a, a + 1, a + cx + 2, a, a + cx + 2, a + cx + 1}) indices->append(k);
            }
    }
    ref_ptr<IZimMesh> mesh = zim::newZimMesh();
    if (mesh->setMeshGeometry(vertices, indices, uvs, nullptr) != 0) return nullptr;
    mesh->setMeshTextureImage(tileTexture(3));
    return mesh;
}

Stack makeStack(int triangles, bool coincident)
{
    Stack s;
    ref_ptr<IZimMesh> mesh = squareMesh(triangles, coincident);
    if (!mesh) return s;
    s.item = zim::kernel::newMeshSceneItem(s.meshes->appendMesh(mesh), mesh, nullptr);
    Enve3d box;
    mesh->meshBox(box);
    s.camera = zim::newTrackBall();
    s.camera->setViewport(kWidth, kHeight);
    s.camera->setLookAt({5, 5, 20}, {5, 5, 0}, {0, 1, 0});
    s.camera->fitToBox(box, 1);
    return s;
}

void BM_StackFrame(benchmark::State& state)
{
    if (!g_bench || !g_bench->ready) return state.SkipWithError("no GL context");
    const Stack s = makeStack(int(state.range(0)), state.range(1) != 0);
    if (!s.item) return state.SkipWithError("no mesh");
    auto frame = [&]() {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        s.camera->applyView();
        const int rc = s.item->drawSceneItem(1, nullptr);
        glFinish();
        return rc;
    };
    if (frame() != 0) return state.SkipWithError("the scene item failed to draw");  // uploads
    for (auto _ : state) frame();
    state.SetLabel(state.range(1) ? "coincident" : "ordinary");
}

void BM_StackSelect(benchmark::State& state)
{
    if (!g_bench || !g_bench->ready) return state.SkipWithError("no GL context");
    const Stack s = makeStack(int(state.range(0)), state.range(1) != 0);
    if (!s.item) return state.SkipWithError("no mesh");
    ref_ptr<ByteArrayArray> flags;
    const Enve2d region(0, kWidth, 0, kHeight);
    long selected = zim::tqSelectTriByOpenGL(s.camera, true, s.meshes, region, flags, nullptr);
    if (selected <= 0) return state.SkipWithError("nothing selected");
    for (auto _ : state) {
        selected = zim::tqSelectTriByOpenGL(s.camera, true, s.meshes, region, flags, nullptr);
        benchmark::DoNotOptimize(selected);
    }
    state.counters["selected"] = double(selected);
    state.SetLabel(state.range(1) ? "coincident" : "ordinary");
}

BENCHMARK(BM_StackFrame)->Args({20000, 0})->Args({20000, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StackSelect)->Args({20000, 0})->Args({20000, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_BaselineBareVbo)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SceneItemsFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SceneItemsVsBaseline)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(4.0);
BENCHMARK(BM_SelectTrianglesByGl)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Prints the runs as usual and remembers each one's real time for the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred) {
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
                const auto ratio = run.counters.find("ratio");
                if (ratio != run.counters.end()) interleavedRatio = ratio->second;
            }
    }
    // Real time of the first run whose name starts with `name`; 0 when there is none.
    double timeOf(const std::string& name) const
    {
        for (const auto& entry : times)
            if (entry.first.compare(0, name.size(), name) == 0) return entry.second;
        return 0.0;
    }
    std::map<std::string, double> times;
    double interleavedRatio = 0.0;
};

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Bench bench;
    bench.ready = setUp(bench);
    if (!bench.ready) std::fprintf(stderr, "cannot set up a GL context with a 1920x1080 framebuffer\n");
    g_bench = &bench;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double base = reporter.timeOf("BM_BaselineBareVbo"), scene = reporter.timeOf("BM_SceneItemsFrame");
    if (base > 0 && scene > 0)
        std::printf("scene items / bare VBO baseline: %.3f separately, %.3f interleaved (goal <= 1.2)\n", scene / base,
                    reporter.interleavedRatio);
    g_bench = nullptr;
    bench.items.clear();
    if (bench.context && QOpenGLContext::currentContext() == bench.context.get()) {
        QOpenGLFunctions* f = bench.context->functions();
        f->glDeleteBuffers(1, &bench.baselineBuffer);
        glDeleteTextures(1, &bench.baselineTexture);
        bench.fbo.reset();
        bench.context->doneCurrent();
    }
    return 0;
}
