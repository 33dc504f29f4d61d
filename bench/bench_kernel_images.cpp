// Reduced level (thumbnail) of project photographs: 200 photos of 4000 x 3000 pixels, read
// through the image store (getStoreImage(index, 3)) with the disk cache empty (cold) and filled
// (warm), against the plain way: decode the whole photo and scale it down with QImage::scaled.
// Two kinds of pictures (argument 0 and 1): smooth renders like the sample generator's photos
// (about 0.5 MB a file), and the same with sensor-like grain (about 3 MB), where the entropy
// decoding that no reduced decode can skip weighs more. Prints the speed-ups at the end.
//
//   bench_kernel_images [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "OrvKernel64t.h"

namespace {

constexpr int kPhotos = 200;
constexpr int kDistinct = 8;  // different pictures; the others are hard links to them
const QSize kPhotoSize(4000, 3000);

// A photo-like picture: a sky-to-ground gradient, many overlapping shapes and, when grainy,
// noise of +-6 levels on every pixel.
QImage makePhoto(quint32 seed, bool grainy)
{
    QRandomGenerator rng(seed);
    QImage img(kPhotoSize, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, kPhotoSize.height());
    g.setColorAt(0, QColor(120, 160, 210));
    g.setColorAt(0.45, QColor(200, 210, 220));
    g.setColorAt(0.5, QColor(90, 110, 60));
    g.setColorAt(1, QColor(60, 50, 40));
    p.fillRect(img.rect(), g);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 2500; ++i) {
        const QColor c(rng.bounded(256), rng.bounded(256), rng.bounded(256), 60 + rng.bounded(160));
        p.setBrush(c);
        p.setPen(QPen(c.darker(150), 1 + rng.bounded(4)));
        const QRect r(rng.bounded(kPhotoSize.width()), rng.bounded(kPhotoSize.height()), 10 + rng.bounded(300),
                      10 + rng.bounded(200));
        if (i % 2)
            p.drawEllipse(r);
        else
            p.drawRect(r);
    }
    p.end();
    for (int y = 0; grainy && y < img.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int n = int(rng.bounded(13u)) - 6;
            const QRgb c = row[x];
            row[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255), qBound(0, qBlue(c) + n, 255));
        }
    }
    return img;
}

struct Photos {
    QTemporaryDir dir;
    QStringList paths;
    QString project;
};

// The photos and project of one kind, made on first use; that project is then the open one.
Photos& photos(int kind)
{
    static std::unique_ptr<Photos> sets[2];
    static int open = -1;
    std::unique_ptr<Photos>& s = sets[kind];
    const ref_ptr<IZimMM> mm = zim::getMM();
    if (s) {
        if (open != kind) {
            mm->closeProject();
            mm->openProject(s->project, nullptr);
            open = kind;
        }
        return *s;
    }
    s = std::make_unique<Photos>();
    const QDir d(s->dir.path());
    std::vector<std::thread> workers;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int k = int(t); k < kDistinct; k += int(threads))
                makePhoto(quint32(1000 + k), kind == 1)
                    .save(d.filePath(QStringLiteral("base_%1.jpg").arg(k)), "JPEG", 90);
        });
    }
    for (auto& w : workers) w.join();
    // One tiny mesh per image (the store's images belong to meshes).
    QImage tex(4, 4, QImage::Format_RGB32);
    tex.fill(Qt::gray);
    tex.save(d.filePath(QStringLiteral("m.png")));
    QFile mtl(d.filePath(QStringLiteral("m.mtl")));
    mtl.open(QIODevice::WriteOnly);
    mtl.write("newmtl m\nmap_Kd m.png\n");
    mtl.close();
    for (int i = 0; i < kPhotos; ++i) {
        const QString base = d.filePath(QStringLiteral("base_%1.jpg").arg(i % kDistinct));
        const QString photo = d.filePath(QStringLiteral("photo_%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
        if (::link(QFile::encodeName(base).constData(), QFile::encodeName(photo).constData()) != 0)
            QFile::copy(base, photo);
        s->paths << photo;
        QFile obj(d.filePath(QStringLiteral("mesh_%1.obj").arg(i)));
        obj.open(QIODevice::WriteOnly);
        obj.write("mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nusemtl m\nf 1/1 2/2 3/3\n");
    }
    // The project, without work ahead of time: the benchmarks decode on the calling thread.
    s->project = d.filePath(QStringLiteral("bench.orvproj"));
    mm->closeProject();
    mm->createProject(s->project);
    open = kind;
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    mm->getState(state);
    state->getImageStore(store);
    store->setPrefetch(false);
    for (int i = 0; i < kPhotos; ++i)
        mm->addImage(s->paths[i], d.filePath(QStringLiteral("mesh_%1.obj").arg(i)), QString());
    mm->saveProject();
    return *s;
}

ref_ptr<IZimImageStore> store()
{
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> s;
    if (zim::getMM()->getState(state) == 0) state->getImageStore(s);
    return s;
}

void emptyCache()
{
    QDir cache(store()->cacheFolder());
    for (const QString& f : cache.entryList(QDir::Files)) cache.remove(f);
    store()->releaseImages();
}

// Milliseconds per photo, by picture kind.
double g_fullMs[2], g_coldMs[2], g_warmMs[2], g_prefetchMs[2];

double msPerItem(std::chrono::steady_clock::duration d, int items)
{
    return std::chrono::duration<double, std::milli>(d).count() / items;
}

void BM_FullDecodeThenScale(benchmark::State& state)
{
    const int kind = int(state.range(0));
    Photos& p = photos(kind);
    int i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        QImageReader reader(p.paths[i++ % kPhotos]);
        const QImage thumb = reader.read().scaled(ZimReducedLevelSide, ZimReducedLevelSide, Qt::KeepAspectRatio,
                                                  Qt::SmoothTransformation);
        benchmark::DoNotOptimize(thumb.constBits());
    }
    g_fullMs[kind] = msPerItem(std::chrono::steady_clock::now() - start, i);
}

void BM_ReducedLevelCold(benchmark::State& state)
{
    const int kind = int(state.range(0));
    photos(kind);
    emptyCache();
    int i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ref_ptr<IZimImage> img;
        if (store()->getStoreImage(img, i++, 3) != 0) state.SkipWithError("no reduced level");
        benchmark::DoNotOptimize(img.get());
    }
    g_coldMs[kind] = msPerItem(std::chrono::steady_clock::now() - start, i);
}

void BM_ReducedLevelWarm(benchmark::State& state)
{
    const int kind = int(state.range(0));
    photos(kind);
    int i = 0;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        if (i % kPhotos == 0) {
            state.PauseTiming();
            store()->releaseImages();  // from the disk cache, not from memory
            state.ResumeTiming();
        }
        const auto t0 = std::chrono::steady_clock::now();
        ref_ptr<IZimImage> img;
        if (store()->getStoreImage(img, i++ % kPhotos, 3) != 0) state.SkipWithError("no reduced level");
        benchmark::DoNotOptimize(img.get());
        spent += std::chrono::steady_clock::now() - t0;
    }
    g_warmMs[kind] = msPerItem(spent, i);
}

// The way a thumbnail grid meets it: the project opens with an empty cache, the levels are
// prepared on worker threads while the calling thread asks for them in order.
void BM_ReducedLevelColdWithPrefetch(benchmark::State& state)
{
    const int kind = int(state.range(0));
    photos(kind);
    for (auto _ : state) {
        emptyCache();
        const auto start = std::chrono::steady_clock::now();
        zim::getMM()->closeProject();
        zim::getMM()->openProject(photos(kind).project, nullptr);
        for (int i = 0; i < kPhotos; ++i) {
            ref_ptr<IZimImage> img;
            store()->getStoreImage(img, i, 3);
            benchmark::DoNotOptimize(img.get());
        }
        g_prefetchMs[kind] = msPerItem(std::chrono::steady_clock::now() - start, kPhotos);
        store()->setPrefetch(false);
    }
}

BENCHMARK(BM_FullDecodeThenScale)->Arg(0)->Arg(1)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReducedLevelCold)->Arg(0)->Arg(1)->Iterations(kPhotos)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReducedLevelWarm)->Arg(0)->Arg(1)->Iterations(2 * kPhotos)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReducedLevelColdWithPrefetch)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const char* names[2] = {"smooth", "grainy"};
    for (int k = 0; k < 2; ++k) {
        if (g_fullMs[k] <= 0) continue;
        std::printf(
            "\n%s photos, per photo: full decode + scale %.2f ms, reduced cold %.2f ms, warm %.3f ms, "
            "cold with prefetch %.2f ms\n",
            names[k], g_fullMs[k], g_coldMs[k], g_warmMs[k], g_prefetchMs[k]);
        if (g_coldMs[k] > 0) std::printf("  cold speed-up: %.1fx (target >= 5x)\n", g_fullMs[k] / g_coldMs[k]);
        if (g_warmMs[k] > 0) std::printf("  warm speed-up: %.1fx (target >= 50x)\n", g_fullMs[k] / g_warmMs[k]);
        if (g_prefetchMs[k] > 0)
            std::printf("  cold with prefetch speed-up: %.1fx (%u cores)\n", g_fullMs[k] / g_prefetchMs[k],
                        std::thread::hardware_concurrency());
    }
    zim::getMM()->closeProject();
    return 0;
}
