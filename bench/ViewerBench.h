// What the 3D-viewer benchmarks share: sample projects made once per triangle count (in temporary
// folders that live as long as the program) and a shown 3D viewer whose GL context is ready.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QSize>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <map>
#include <memory>

#include "COrv3DViewer.h"
#include "SampleGenerator.h"
#include "SampleProject.h"

namespace orvbench {

struct Scene {
    std::unique_ptr<QTemporaryDir> dir;
    QString projectPath;
    bool ok = false;
};

// The sample project of `triangles` triangles in `tiles` tiles, generated on first use.
inline Scene& sampleScene(int triangles, int tiles, QSize photoSize, int textureSize)
{
    static std::map<int, Scene> scenes;
    Scene& scene = scenes[triangles];
    if (scene.dir) return scene;
    scene.dir = std::make_unique<QTemporaryDir>();
    orvsample::SampleOptions options;
    options.outDir = scene.dir->path() + "/sample";
    options.tiles = tiles;
    options.trianglesTotal = triangles;
    options.photoSize = photoSize;
    options.textureSize = textureSize;
    const orvsample::SampleResult result = orvsample::generateSample(options);
    if (!result.ok) {
        std::fprintf(stderr, "sample: %s\n", qPrintable(result.error));
        return scene;
    }
    scene.projectPath = scene.dir->path() + "/sample.orvproj";
    const orvsample::ProjectSummary summary = orvsample::buildSampleProject(result.manifestPath, scene.projectPath);
    scene.ok = summary.ok;
    if (!summary.ok) std::fprintf(stderr, "project: %s\n", qPrintable(summary.error));
    return scene;
}

// A 3D viewer of width x height shown on the (virtual) display, or null (with a message) when
// its window is not exposed within five seconds.
inline std::unique_ptr<orvUI::COrv3DViewer> showViewer(int width, int height)
{
    auto viewer = std::make_unique<orvUI::COrv3DViewer>();
    viewer->resize(width, height);
    viewer->show();
    QElapsedTimer waited;
    waited.start();
    while (!viewer->isValid() || !viewer->windowHandle() || !viewer->windowHandle()->isExposed()) {
        if (waited.elapsed() > 5000) break;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!viewer->windowHandle() || !viewer->windowHandle()->isExposed()) {
        std::fprintf(stderr, "the viewer window was not exposed (run under xvfb-run)\n");
        return nullptr;
    }
    if (viewer->width() != width || viewer->height() != height)
        std::fprintf(stderr, "note: the view is %d x %d, not %d x %d\n", viewer->width(), viewer->height(), width,
                     height);
    return viewer;
}

}  // namespace orvbench
