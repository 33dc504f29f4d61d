// The backup step (selection, seam edges, painting, gap filling, saving) of a sample project at
// 10,000, 100,000 and 1,000,000 triangles in a 1920 x 1080 view, against a baseline of one
// textured render of the same scene plus one glReadPixels of the colour buffer, in the same
// context and the same run. Run under xvfb-run -s "-screen 0 1920x1200x24". The time of each
// phase is reported as a counter (milliseconds per backup); BM_Backup/N/1 paints on one thread.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "OrvUIElements64t.h"
#include "ViewerBench.h"

namespace {

orvUI::COrv3DViewer* g_viewer = nullptr;
int g_open = -1;

bool openScene(int triangles)
{
    if (g_open == triangles) return true;
    orvbench::Scene& scene = orvbench::sampleScene(triangles, 16, QSize(800, 600), 1024);
    if (!scene.ok || zim::getMM()->openProject(scene.projectPath, nullptr) != 0) return false;
    g_open = triangles;
    // From above, where nearly every triangle of the terrain is seen: the most work.
    g_viewer->viewAllMeshes();
    g_viewer->setStandardView(0);
    // Warm-up: GPU buffers and textures are made once.
    g_viewer->drawScene(false);
    glFinish();
    return true;
}

void BM_RenderAndReadPixels(benchmark::State& state)
{
    if (!openScene(int(state.range(0)))) {
        state.SkipWithError("no sample project");
        return;
    }
    const ref_ptr<IZimDisplay> display = g_viewer->getDisplay();
    const ref_ptr<IZimMM> mm = zim::getMM();
    std::vector<unsigned char> pixels(std::size_t(g_viewer->width()) * g_viewer->height() * 4);
    for (auto _ : state) {
        display->beginDraw(0);
        for (int i = 0; i < mm->sceneItemCount(); ++i)
            if (const ref_ptr<IZimSceneItem> item = mm->sceneItemAt(i)) item->drawSceneItem(1, display);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, g_viewer->width(), g_viewer->height(), GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        display->endDraw();
        glFinish();
    }
    state.counters["triangles"] = double(state.range(0));
}

void BM_Backup(benchmark::State& state)
{
    if (!openScene(int(state.range(0)))) {
        state.SkipWithError("no sample project");
        return;
    }
    const QString path =
        orvbench::sampleScene(int(state.range(0)), 16, QSize(800, 600), 1024).dir->path() + "/backup.png";
    orvUI::BackupTimings timings;
    long recorded = 0;
    int runs = 0;
    g_viewer->setBackupTuning(&timings, int(state.range(1)));
    for (auto _ : state) {
        QVector<ref_ptr<TqTriangleIndex>> records;
        QMap<int, ref_ptr<IZimImage>> textures;
        SeamEdgeMap seams;
        if (!g_viewer->generateBackupInformation(path, records, textures, seams)) {
            g_viewer->setBackupTuning(nullptr, 0);
            state.SkipWithError(qPrintable(g_viewer->lastBackupError()));
            return;
        }
        recorded = records.size();
        // ORV_BENCH_KEEP=folder keeps the last picture of each size there, to look at.
        if (qEnvironmentVariableIsSet("ORV_BENCH_KEEP")) {
            const QString kept = qEnvironmentVariable("ORV_BENCH_KEEP") + QString("/backup-%1.png").arg(state.range(0));
            QFile::remove(kept);
            QFile::copy(path, kept);
        }
        ++runs;
    }
    g_viewer->setBackupTuning(nullptr, 0);
    const double ms = 1000.0 / std::max(1, runs);
    state.counters["triangles"] = double(state.range(0));
    state.counters["recorded"] = double(recorded);
    state.counters["depth_ms"] = timings.depth * ms;
    state.counters["idbuf_ms"] = timings.idBuffer * ms;
    state.counters["refine_ms"] = timings.refine * ms;
    state.counters["seams_ms"] = timings.seams * ms;
    state.counters["fill_ms"] = timings.fill * ms;
    state.counters["paint_ms"] = timings.painting * ms;
    state.counters["gaps_ms"] = timings.gaps * ms;
    state.counters["save_ms"] = timings.saving * ms;
    state.counters["redraw_ms"] = timings.redraw * ms;
}

BENCHMARK(BM_RenderAndReadPixels)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Backup)
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The progress display needs the main frame.
    if (!orvUI::getVM() || !orvUI::getVM()->getMainFrame()) {
        std::fprintf(stderr, "no main frame\n");
        return 1;
    }
    std::unique_ptr<orvUI::COrv3DViewer> viewer = orvbench::showViewer(1920, 1080);
    if (!viewer) return 1;
    g_viewer = viewer.get();
    benchmark::RunSpecifiedBenchmarks();
    zim::getMM()->closeProject();
    g_viewer = nullptr;
    viewer.reset();
    benchmark::Shutdown();
    return 0;
}
