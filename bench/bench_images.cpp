// Filling the thumbnail grid with 200 photographs of 4000 x 3000 pixels: the viewer reading the
// image store's reduced level (cold: no disk cache, the store prepares the levels on its
// workers from the moment the project opens; warm: the disk cache is there) against decoding
// every photograph in full and scaling it with QImage::scaled, in the same run.
//
// The photos are written once into <temp>/orv-bench-images (moderate JPEG quality) and reused.
// Usage: bench_images [count]
#include <OrvKernel64t.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <cstdio>

#include "CImageThumbViewer.h"
#include "COrvImageTree.h"
#include "OrvUIElements64t.h"

using namespace orvUI;

namespace {

bool writeSamples(const QString& dir, int count)
{
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i) {
        const QString photo = dir + QStringLiteral("/photo_%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
        const QString obj = dir + QStringLiteral("/mesh_%1.obj").arg(i, 3, 10, QLatin1Char('0'));
        if (!QFile::exists(photo)) {
            QImage img(4000, 3000, QImage::Format_RGB32);
            QPainter p(&img);
            QLinearGradient g(0, 0, 4000, 3000);
            g.setColorAt(0, QColor::fromHsv((i * 37) % 360, 180, 220));
            g.setColorAt(1, QColor::fromHsv((i * 37 + 120) % 360, 200, 90));
            p.fillRect(img.rect(), g);
            for (int k = 0; k < 40; ++k)
                p.fillRect((k * 613 + i * 97) % 3800, (k * 421 + i * 53) % 2800, 200, 150,
                           QColor::fromHsv((k * 29 + i) % 360, 150, 200));
            p.end();
            if (!img.save(photo, "JPG", 75)) return false;
        }
        if (!QFile::exists(obj)) {
            QFile f(obj);
            if (!f.open(QIODevice::WriteOnly)) return false;
            f.write("v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
        }
    }
    return true;
}

double fillGrid(CImageThumbViewer& viewer, int count)
{
    QElapsedTimer t;
    t.start();
    viewer.clearThumbnails();
    ref_ptr<LongArray> ids = zim::newLongArray();
    for (long i = 0; i < count; ++i) ids->append(i);
    viewer.loadThumbnails(ids, nullptr);
    viewer.layoutThumbnails();
    QApplication::processEvents();
    return t.elapsed();
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200;
    const QString dir = QDir::tempPath() + QStringLiteral("/orv-bench-images");
    QTextStream out(stdout);
    out << "preparing " << count << " photos in " << dir << " ...\n";
    out.flush();
    if (!writeSamples(dir, count)) {
        std::fprintf(stderr, "cannot write the sample photos\n");
        return 1;
    }

    // Baseline: full decode and QImage::scaled of the same files.
    QElapsedTimer t;
    t.start();
    qint64 checksum = 0;
    for (int i = 0; i < count; ++i) {
        QImage img(dir + QStringLiteral("/photo_%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
        QImage small = img.scaled(120, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        checksum += small.width();
    }
    const double baseline = t.elapsed();

    ref_ptr<IZimMM> mm = zim::getMM();
    const QString work = QDir::tempPath() + QStringLiteral("/orv-bench-images-project");
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    const QString projectPath = work + QStringLiteral("/bench.orvproj");
    mm->closeProject();
    if (mm->createProject(projectPath) != 0) return 1;
    {
        ref_ptr<IZimTqState> state;
        ref_ptr<IZimImageStore> store;
        mm->getState(state);
        state->getImageStore(store);
        store->setPrefetch(false);  // the project is written first; the cold fill starts from nothing
    }
    for (int i = 0; i < count; ++i)
        if (mm->addImage(dir + QStringLiteral("/photo_%1.jpg").arg(i, 3, 10, QLatin1Char('0')),
                         dir + QStringLiteral("/mesh_%1.obj").arg(i, 3, 10, QLatin1Char('0')), QString()) != i)
            return 1;
    mm->saveProject();
    mm->closeProject();
    QDir(work + QStringLiteral("/bench.orvcache")).removeRecursively();

    CImageThumbViewer viewer(nullptr);
    viewer.resize(800, 1000);
    viewer.show();

    // Cold: open the project (the store starts preparing) and fill the grid at once.
    t.restart();
    if (mm->openProject(projectPath, nullptr) != 0) return 1;
    const double open = t.elapsed();
    const double coldFill = fillGrid(viewer, count);
    const double cold = open + coldFill;

    // Warm: the disk cache is there; the pictures held in memory are dropped.
    {
        ref_ptr<IZimTqState> state;
        ref_ptr<IZimImageStore> store;
        mm->getState(state);
        state->getImageStore(store);
        store->waitForPrefetch();
        store->releaseImages();
        store->setPrefetch(false);
    }
    const double warm = fillGrid(viewer, count);
    // Hot: the reduced pictures are in memory as well.
    const double hot = fillGrid(viewer, count);

    out << "photos:                         " << count << " of 4000x3000\n";
    out << "baseline decode + scaled:       " << baseline << " ms (" << checksum << ")\n";
    out << "grid, cold (open + fill):       " << cold << " ms (open " << open << ", fill " << coldFill << ")  speed-up "
        << baseline / qMax(1.0, cold) << "x\n";
    out << "grid, warm disk cache:          " << warm << " ms  speed-up " << baseline / qMax(1.0, warm) << "x\n";
    out << "grid, pictures in memory:       " << hot << " ms  speed-up " << baseline / qMax(1.0, hot) << "x\n";
    mm->closeProject();
    return 0;
}
