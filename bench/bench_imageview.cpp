// Painting a 4000 x 3000 photo in the 2D view at 1280 x 1024: fitted to the window, and zoomed
// in 4x while panning, moving (no smoothing) and still (smooth). The baseline, in the same run,
// is the cheapest possible frame: QPainter::drawImage of a picture scaled beforehand to the
// widget's size. For comparison, the plain way (the whole photo drawn smoothly into its display
// rectangle on every paint) is measured too, and the whole viewer widget rendered through its
// paint event. Prints the ratios to the baseline at the end.
//
//   xvfb-run -a bench_imageview [--benchmark_repetitions=5] [--benchmark_filter=...]
//
// The summary takes the best repetition of each case.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "CNormImageDrawer.h"
#include "COrv2DSymbol.h"
#include "COrvImageViewer.h"
#include "NormImageGeometry.h"
#include "PhotoRenderer.h"

using namespace orvUI;

namespace {

const QSize kPhoto(4000, 3000);
const QSize kView(1280, 1024);

// A photo-like picture: a gradient with many overlapping translucent shapes.
const QImage& photo()
{
    static const QImage image = [] {
        QRandomGenerator rng(7);
        QImage img(kPhoto, QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, 0, kPhoto.height());
        g.setColorAt(0, QColor(120, 160, 210));
        g.setColorAt(0.5, QColor(90, 110, 60));
        g.setColorAt(1, QColor(60, 50, 40));
        p.fillRect(img.rect(), g);
        for (int i = 0; i < 1500; ++i) {
            const QColor c(rng.bounded(256), rng.bounded(256), rng.bounded(256), 60 + rng.bounded(160));
            p.setBrush(c);
            p.setPen(QPen(c.darker(150), 2));
            p.drawRect(rng.bounded(kPhoto.width()), rng.bounded(kPhoto.height()), 10 + rng.bounded(300),
                       10 + rng.bounded(200));
        }
        return img;
    }();
    return image;
}

NormImageGeometry fitted()
{
    NormImageGeometry g;
    g.setWidgetSize(kView.width(), kView.height());
    g.setImageSize(kPhoto.width(), kPhoto.height());
    g.fitToWindow();
    return g;
}

NormImageGeometry zoomed4x()
{
    NormImageGeometry g;
    g.setWidgetSize(kView.width(), kView.height());
    g.setImageSize(kPhoto.width(), kPhoto.height());
    g.setScale(4.0);
    g.setOrigin(XPnt2d(-6000, -4500));
    return g;
}

// A step of a pan that sweeps back and forth over a few hundred pixels.
XPnt2d panStep(std::int64_t i)
{
    const int phase = int(i % 200);
    return phase < 100 ? XPnt2d(7, 5) : XPnt2d(-7, -5);
}

std::map<std::string, double> g_seconds;

void record(benchmark::State& state, const char* name, double seconds)
{
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    // The best repetition: memory-bound frames suffer most from other work on the machine.
    const double perFrame = seconds / double(state.iterations());
    const auto it = g_seconds.find(name);
    if (it == g_seconds.end() || perFrame < it->second) g_seconds[name] = perFrame;
}

template <class Paint>
void runFrames(benchmark::State& state, const char* name, Paint paint)
{
    QImage canvas(kView, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    auto start = std::chrono::steady_clock::now();
    std::int64_t i = 0;
    for (auto _ : state) {
        QPainter p(&canvas);
        paint(p, i++);
        p.end();
        benchmark::DoNotOptimize(canvas.constBits());
    }
    record(state, name, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

void BM_Baseline_PrescaledBlit(benchmark::State& state)
{
    const QImage prescaled =
        photo().scaled(kView, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
    runFrames(state, "baseline", [&](QPainter& p, std::int64_t) { p.drawImage(0, 0, prescaled); });
}
BENCHMARK(BM_Baseline_PrescaledBlit)->Unit(benchmark::kMillisecond);

void BM_Fit_Still(benchmark::State& state)
{
    PhotoRenderer renderer;
    renderer.setPicture(photo());
    const NormImageGeometry g = fitted();
    runFrames(state, "fit still", [&](QPainter& p, std::int64_t) { renderer.paint(p, g, true); });
}
BENCHMARK(BM_Fit_Still)->Unit(benchmark::kMillisecond);

void BM_Fit_Moving(benchmark::State& state)
{
    PhotoRenderer renderer;
    renderer.setPicture(photo());
    NormImageGeometry g = fitted();
    runFrames(state, "fit moving", [&](QPainter& p, std::int64_t i) {
        g.panBy(panStep(i));
        renderer.paint(p, g, false);
    });
}
BENCHMARK(BM_Fit_Moving)->Unit(benchmark::kMillisecond);

void BM_Zoom4x_Panning_Moving(benchmark::State& state)
{
    PhotoRenderer renderer;
    renderer.setPicture(photo());
    NormImageGeometry g = zoomed4x();
    runFrames(state, "4x panning moving", [&](QPainter& p, std::int64_t i) {
        g.panBy(panStep(i));
        renderer.paint(p, g, false);
    });
}
BENCHMARK(BM_Zoom4x_Panning_Moving)->Unit(benchmark::kMillisecond);

void BM_Zoom4x_Panning_Still(benchmark::State& state)
{
    PhotoRenderer renderer;
    renderer.setPicture(photo());
    NormImageGeometry g = zoomed4x();
    runFrames(state, "4x panning still", [&](QPainter& p, std::int64_t i) {
        g.panBy(panStep(i));
        renderer.paint(p, g, true);
    });
}
BENCHMARK(BM_Zoom4x_Panning_Still)->Unit(benchmark::kMillisecond);

// The one-off cost of the first still frame at a new zoomed-out scale: the smooth copy is made
// again on every frame here (the scale alternates between two levels).
void BM_Fit_Still_NewScaleEveryFrame(benchmark::State& state)
{
    PhotoRenderer renderer;
    renderer.setPicture(photo());
    NormImageGeometry g = fitted();
    const double fit = g.scale();
    runFrames(state, "fit still, new scale", [&](QPainter& p, std::int64_t i) {
        g.setScale(i % 2 ? fit : fit * 0.9);
        renderer.paint(p, g, true);
    });
}
BENCHMARK(BM_Fit_Still_NewScaleEveryFrame)->Unit(benchmark::kMillisecond);

// The whole photo drawn smoothly into its display rectangle on every paint.
void BM_Plain_WholePhotoSmooth_Fit(benchmark::State& state)
{
    const QImage& image = photo();
    const NormImageGeometry g = fitted();
    runFrames(state, "plain fit", [&](QPainter& p, std::int64_t) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(g.displayRect(), image);
    });
}
BENCHMARK(BM_Plain_WholePhotoSmooth_Fit)->Unit(benchmark::kMillisecond);

void BM_Plain_WholePhotoSmooth_Zoom4x(benchmark::State& state)
{
    const QImage& image = photo();
    NormImageGeometry g = zoomed4x();
    runFrames(state, "plain 4x", [&](QPainter& p, std::int64_t i) {
        g.panBy(panStep(i));
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(g.displayRect(), image);
    });
}
BENCHMARK(BM_Plain_WholePhotoSmooth_Zoom4x)->Unit(benchmark::kMillisecond);

// The viewer widget itself, rendered through its paint event: fitted, then zoomed in 4x with
// the wheel and dragged with the middle button between frames.
void BM_Viewer(benchmark::State& state)
{
    const bool zoom = state.range(0) != 0;
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/photo.png");
    if (!photo().save(file)) {
        state.SkipWithError("cannot write the photo");
        return;
    }
    COrvImageViewer viewer;
    viewer.resize(kView);
    if (!viewer.setImageFile(file)) {
        state.SkipWithError("cannot show the photo");
        return;
    }
    const QPoint centre(kView.width() / 2, kView.height() / 2);
    if (zoom) {
        while (viewer.getScale() < 4.0) {
            QWheelEvent wheel{QPointF(centre), QPointF(centre), QPoint(),          QPoint(0, 120),
                              Qt::NoButton,    Qt::NoModifier,  Qt::NoScrollPhase, false};
            QApplication::sendEvent(&viewer, &wheel);
        }
        QMouseEvent press{QEvent::MouseButtonPress, QPointF(centre), Qt::MiddleButton, Qt::MiddleButton,
                          Qt::NoModifier};
        QApplication::sendEvent(&viewer, &press);
    }
    QImage canvas(kView, QImage::Format_ARGB32_Premultiplied);
    QPoint at = centre;
    std::int64_t i = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (zoom) {
            const XPnt2d step = panStep(i++);
            at += QPoint(int(step.x), int(step.y));
            QMouseEvent move(QEvent::MouseMove, QPointF(at), Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
            QApplication::sendEvent(&viewer, &move);
        }
        viewer.render(&canvas);
        benchmark::DoNotOptimize(canvas.constBits());
    }
    record(state, zoom ? "viewer 4x panning" : "viewer fit",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
BENCHMARK(BM_Viewer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// ---- marks ------------------------------------------------------------------------------------
//
// 200,000 numbered marks spread over the 1280 x 1024 view, all on screen: painted as the view
// paints them (one painter), as it used to (a painter begun for every cross and every number),
// and the baseline of the same count of plain marks (the crosses alone, one painter).

const std::vector<NumberedMark>& manyMarks()
{
    static const std::vector<NumberedMark> marks = [] {
        QRandomGenerator rng(11);
        std::vector<NumberedMark> out;
        out.reserve(200000);
        for (int i = 0; i < 200000; ++i)
            out.push_back({XPnt2d(rng.bounded(double(kView.width())), rng.bounded(double(kView.height()))), i + 1,
                           i % 7 == 0 ? QColor(Qt::blue) : QColor(Qt::green)});
        return out;
    }();
    return marks;
}

void BM_Marks_Baseline_CrossesOnly(benchmark::State& state)
{
    runFrames(state, "marks: crosses only", [](QPainter& p, std::int64_t) {
        p.setPen(QPen(Qt::red, 1));
        for (const NumberedMark& m : manyMarks()) {
            p.drawLine(QPointF(m.screen.x - 12, m.screen.y), QPointF(m.screen.x + 12, m.screen.y));
            p.drawLine(QPointF(m.screen.x, m.screen.y - 12), QPointF(m.screen.x, m.screen.y + 12));
        }
    });
}
BENCHMARK(BM_Marks_Baseline_CrossesOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Marks_OnePainter(benchmark::State& state)
{
    runFrames(state, "marks: one painter", [](QPainter& p, std::int64_t) {
        paintNumberedMarks(p, manyMarks(), QRectF(0, 0, kView.width(), kView.height()));
    });
}
BENCHMARK(BM_Marks_OnePainter)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The way it was: every cross and every number through the 2D symbol's own painter.
void BM_Marks_PainterPerShape(benchmark::State& state)
{
    QImage canvas(kView, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (const NumberedMark& m : manyMarks()) {
            {
                QPainter p(&canvas);
                p.setPen(COrv2DSymbol::makePen(Qt::red, 1.0f, Qt::SolidLine));
                p.drawLine(QPointF(m.screen.x - 12, m.screen.y), QPointF(m.screen.x + 12, m.screen.y));
                p.drawLine(QPointF(m.screen.x, m.screen.y - 12), QPointF(m.screen.x, m.screen.y + 12));
            }
            QPainter p(&canvas);
            p.setFont(COrv2DSymbol::makeFont(15));
            p.setPen(QPen(m.colour));
            p.drawText(QPointF(m.screen.x, m.screen.y), QString::number(m.number));
        }
        benchmark::DoNotOptimize(canvas.constBits());
    }
    record(state, "marks: painter each",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
BENCHMARK(BM_Marks_PainterPerShape)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    QApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto base = g_seconds.find("baseline");
    if (base != g_seconds.end() && base->second > 0) {
        std::printf("\nper frame (best repetition), as a multiple of the pre-scaled blit (%.3f ms):\n",
                    base->second * 1e3);
        for (const auto& [name, seconds] : g_seconds)
            if (name != "baseline")
                std::printf("  %-20s %7.3f ms  %6.2fx\n", name.c_str(), seconds * 1e3, seconds / base->second);
    }
    return 0;
}
