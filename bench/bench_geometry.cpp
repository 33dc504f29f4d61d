// Geometry hot paths, each beside a baseline measured in the same run:
//  - OBJ loading against reading the same bytes from disk;
//  - the constant-time face lookup of a million-triangle mesh against std::unordered_map;
//  - bilinear texture sampling against reading the nearest pixel.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <random>
#include <unordered_map>

#include "ZimGeometry64t.h"

namespace {

// A square grid of quads (2 triangles each) written as OBJ with texture coordinates.
QString writeGridObj(const QString& folder, int quadsPerSide)
{
    const QString path = QDir(folder).filePath(QStringLiteral("grid_%1.obj").arg(quadsPerSide));
    if (QFile::exists(path)) return path;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return QString();
    const int n = quadsPerSide + 1;
    QByteArray out;
    out.reserve(n * n * 60);
    char line[256];
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", x * 0.5, y * 0.5, 0.1 * ((x * 7 + y * 3) % 5));
            out += line;
        }
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            std::snprintf(line, sizeof line, "vt %.6f %.6f\n", double(x) / quadsPerSide, double(y) / quadsPerSide);
            out += line;
        }
    for (int y = 0; y < quadsPerSide; ++y)
        for (int x = 0; x < quadsPerSide; ++x) {
            const int a = y * n + x + 1, b = a + 1, c = a + n + 1, d = a + n;
            std::snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, b, b, c, c, a, a, c, c,
                          d, d);
            out += line;
        }
    file.write(out);
    return path;
}

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

void BM_ObjLoad(benchmark::State& state)
{
    const QString path = writeGridObj(scratch().path(), int(state.range(0)));
    for (auto _ : state) {
        QString error;
        ref_ptr<IZimMesh> mesh = zim::loadObjMesh(path, &error);
        if (!mesh) state.SkipWithError(error.toUtf8().constData());
        benchmark::DoNotOptimize(mesh.get());
    }
    state.counters["triangles"] = double(2 * state.range(0) * state.range(0));
}

void BM_ObjReadBytesBaseline(benchmark::State& state)
{
    const QString path = writeGridObj(scratch().path(), int(state.range(0)));
    for (auto _ : state) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        QByteArray bytes = file.readAll();
        benchmark::DoNotOptimize(bytes.data());
    }
}

ref_ptr<IZimMesh> bigGridMesh(int quadsPerSide)
{
    const int n = quadsPerSide + 1;
    ref_ptr<Pnt3fArray> v = zim::newPnt3fArray();
    for (int i = 0; i < n * n; ++i) v->append(XPnt3f(float(i % n), float(i / n), 0.0f));
    ref_ptr<IntArray> t = zim::newIntArray();
    for (int y = 0; y < quadsPerSide; ++y)
        for (int x = 0; x < quadsPerSide; ++x) {
            const int a = y * n + x, b = a + 1, c = a + n + 1, d = a + n;
            for (int i : {a, b, c, a, c, d}) t->append(i);
        }
    ref_ptr<IZimMesh> mesh = zim::newZimMesh();
    mesh->setMeshGeometry(v, t, nullptr, nullptr);
    return mesh;
}

std::vector<int> shuffledFaces(int count)
{
    std::vector<int> order(std::size_t(count), 0);
    for (int i = 0; i < count; ++i) order[std::size_t(i)] = i;
    std::mt19937 rng(7);
    for (int i = count - 1; i > 0; --i) std::swap(order[std::size_t(i)], order[rng() % std::uint32_t(i + 1)]);
    return order;
}

void BM_TexFaceLookup(benchmark::State& state)
{
    ref_ptr<IZimMesh> mesh = bigGridMesh(708);  // about a million triangles
    ref_ptr<IntArray> tri = mesh->meshTriangles();
    const std::vector<int> order = shuffledFaces(mesh->meshTriangleCount());
    for (auto _ : state) {
        long sum = 0;
        for (int f : order)
            sum += mesh->meshTexFace(tri->element(3 * f), tri->element(3 * f + 1), tri->element(3 * f + 2));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(order.size()));
}

void BM_UnorderedMapLookupBaseline(benchmark::State& state)
{
    ref_ptr<IZimMesh> mesh = bigGridMesh(708);
    ref_ptr<IntArray> tri = mesh->meshTriangles();
    auto key = [](int a, int b, int c) {
        return (std::uint64_t(a) << 42) ^ (std::uint64_t(b) << 21) ^ std::uint64_t(c);
    };
    std::unordered_map<std::uint64_t, int> map;
    for (int f = 0; f < mesh->meshTriangleCount(); ++f)
        map.emplace(key(tri->element(3 * f), tri->element(3 * f + 1), tri->element(3 * f + 2)), f);
    const std::vector<int> order = shuffledFaces(mesh->meshTriangleCount());
    for (auto _ : state) {
        long sum = 0;
        for (int f : order)
            sum += map.find(key(tri->element(3 * f), tri->element(3 * f + 1), tri->element(3 * f + 2)))->second;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(order.size()));
}

ref_ptr<IZimImage> noiseImage(int side)
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    unsigned char* p = image->imageCreate(side, side, 24, 0);
    std::mt19937 rng(3);
    for (int i = 0; i < image->imageRowBytes() * side; ++i) p[i] = static_cast<unsigned char>(rng());
    return image;
}

void BM_ImageSampleBilinear(benchmark::State& state)
{
    ref_ptr<IZimImage> image = noiseImage(2048);
    unsigned char out[4];
    for (auto _ : state) {
        unsigned sum = 0;
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x) {
                image->imageSample(out, x * 3.97f + 0.3f, y * 3.91f + 0.7f, 4, ZimImageBilinear, nullptr);
                sum += out[2];
            }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * 512 * 512);
}

void BM_ImageGetPixelBaseline(benchmark::State& state)
{
    ref_ptr<IZimImage> image = noiseImage(2048);
    unsigned char out[4];
    for (auto _ : state) {
        unsigned sum = 0;
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x) {
                image->imageGetPixel(out, int(x * 3.97f + 0.3f), int(y * 3.91f + 0.7f), true);
                sum += out[2];
            }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * 512 * 512);
}

}  // namespace

BENCHMARK(BM_ObjLoad)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjReadBytesBaseline)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TexFaceLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMapLookupBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageSampleBilinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageGetPixelBaseline)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
