// 3D viewer: one full redraw (drawScene: scene items, photo overlay, layers, marks, markers,
// screen path) of a sample project at 1,000, 100,000 and 1,000,000 triangles, against the
// kernel's bare scene-item draw of the same meshes in the same context and the same run. The
// viewer is a shown 1280 x 960 window (run under xvfb-run); every frame ends with glFinish.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <map>
#include <memory>

#include "OrvUIElements64t.h"
#include "ViewerBench.h"

namespace {

orvUI::COrv3DViewer* g_viewer = nullptr;
int g_open = -1;

bool openScene(int triangles)
{
    if (g_open == triangles) return true;
    orvbench::Scene& scene = orvbench::sampleScene(triangles, 4, QSize(1600, 1200), 1024);
    if (!scene.ok || zim::getMM()->openProject(scene.projectPath, nullptr) != 0) return false;
    g_open = triangles;
    zim::getMM()->setCurrentImageIndex(0);
    g_viewer->viewAllMeshes();
    g_viewer->setShowImageOverlay(true);
    g_viewer->setOverlayOpacity(0.5f, false);
    // Warm-up: the meshes' GPU buffers and textures and the photo texture are made once.
    g_viewer->drawScene(false);
    glFinish();
    return true;
}

void BM_FullDrawScene(benchmark::State& state)
{
    if (!openScene(int(state.range(0)))) {
        state.SkipWithError("no sample project");
        return;
    }
    for (auto _ : state) {
        g_viewer->drawScene(false);
        glFinish();
    }
    state.counters["triangles"] = double(state.range(0));
}

void BM_BareSceneItems(benchmark::State& state)
{
    if (!openScene(int(state.range(0)))) {
        state.SkipWithError("no sample project");
        return;
    }
    const ref_ptr<IZimDisplay> display = g_viewer->getDisplay();
    const ref_ptr<IZimMM> mm = zim::getMM();
    for (auto _ : state) {
        display->beginDraw(0);
        for (int i = 0; i < mm->sceneItemCount(); ++i)
            if (const ref_ptr<IZimSceneItem> item = mm->sceneItemAt(i)) item->drawSceneItem(1, display);
        display->endDraw();
        glFinish();
    }
    state.counters["triangles"] = double(state.range(0));
}

BENCHMARK(BM_BareSceneItems)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FullDrawScene)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::unique_ptr<orvUI::COrv3DViewer> viewer = orvbench::showViewer(1280, 960);
    if (!viewer) return 1;
    g_viewer = viewer.get();
    benchmark::RunSpecifiedBenchmarks();
    zim::getMM()->closeProject();
    g_viewer = nullptr;
    viewer.reset();
    benchmark::Shutdown();
    return 0;
}
