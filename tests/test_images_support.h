// Shared pieces of the image and mesh-panel tests: a small real project built from a generated
// sample, and a catcher for the warning boxes the views show.
#pragma once

#include <OrvKernel64t.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "SampleGenerator.h"

namespace imgtest {

// A project of `tiles` images with small photos, open in the model manager.
struct SampleProject {
    QTemporaryDir dir;
    QStringList photos;
    QStringList meshes;
    QString path;

    bool make(int tiles, const QString& name = QStringLiteral("p.orvproj"))
    {
        orvsample::SampleOptions o;
        o.outDir = dir.path() + QStringLiteral("/sample");
        o.tiles = tiles;
        o.trianglesTotal = 200 * tiles;
        o.photoSize = QSize(320, 240);
        o.textureSize = 64;
        const orvsample::SampleResult r = orvsample::generateSample(o);
        if (!r.ok) return false;
        photos = r.photoFiles;
        meshes = r.meshFiles;
        path = dir.path() + QLatin1Char('/') + name;
        ref_ptr<IZimMM> mm = zim::getMM();
        mm->closeProject();
        if (mm->createProject(path) != 0) return false;
        for (int i = 0; i < tiles; ++i)
            if (mm->addImage(photos[i], meshes[i], QString()) != i) return false;
        return true;
    }
};

// Runs fn and answers every warning box it opens; returns their texts in order.
inline QStringList catchWarnings(const std::function<void()>& fn)
{
    QStringList texts;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&texts]() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts.append(box->text());
            box->accept();
        }
    });
    timer.start();
    fn();
    timer.stop();
    return texts;
}

}  // namespace imgtest
