// One camera solve from 100 marks, the marks being surface points of a sample tile seen by the
// tile's true camera, clicked with 0.5 px noise.
#include <benchmark/benchmark.h>

#include <QSize>
#include <random>

#include "CameraSolver.h"
#include "SampleGenerator.h"

namespace {

orvreg::SolveInput hundredMarks()
{
    orvsample::SampleOptions options;
    const orvsample::SampleTerrain terrain(options.tiles, options.trianglesTotal, options.seed);
    const orvsample::PhotoCamera cam = orvsample::photoCamera(terrain, 0, options);
    orvreg::SolveInput in;
    in.width = cam.width;
    in.height = cam.height;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, 0.5);
    for (int attempt = 0; attempt < 100000 && in.marks.size() < 100; ++attempt) {
        const XPnt3d p = terrain.surfacePoint(0, unit(rng), unit(rng));
        double px, py;
        if (!cam.project(p, &px, &py)) continue;
        px += noise(rng);
        py += noise(rng);
        if (px < 0 || py < 0 || px > cam.width || py > cam.height) continue;
        orvreg::RegMark m;
        m.id = int(in.marks.size()) + 1;
        m.u = px / cam.width;
        m.v = 1 - py / cam.height;
        m.point[0] = p.x;
        m.point[1] = p.y;
        m.point[2] = p.z;
        in.marks.push_back(m);
    }
    return in;
}

void BM_SolveCamera100Marks(benchmark::State& state)
{
    const orvreg::SolveInput in = hundredMarks();
    if (in.marks.size() != 100) {
        state.SkipWithError("the sample tile gave fewer than 100 visible points");
        return;
    }
    double rms = 0;
    for (auto _ : state) {
        const orvreg::SolveResult r = orvreg::solveCamera(in);
        if (!r.ok) {
            state.SkipWithError(r.message.c_str());
            return;
        }
        rms = r.rms;
        benchmark::DoNotOptimize(r.camera.K[0]);
    }
    state.counters["rms_px"] = rms;
}
BENCHMARK(BM_SolveCamera100Marks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
