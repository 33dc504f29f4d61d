#include "SampleProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "OrvKernel64t.h"
#include "PhotoMapping.h"

namespace orvsample {

namespace {

ZIM_TR_CONTEXT("orv-sample")

int markKind(const QString& kind)
{
    if (kind == QLatin1String("control")) return ZimMarkControl;
    if (kind == QLatin1String("point")) return ZimMarkPoint;
    if (kind == QLatin1String("track")) return ZimMarkTrack;
    if (kind == QLatin1String("selected")) return ZimMarkSelected;
    return -1;
}

XPnt2d point2(const QJsonValue& v)
{
    const QJsonArray a = v.toArray();
    return a.size() == 2 ? XPnt2d(a[0].toDouble(), a[1].toDouble()) : XPnt2d(-1.0, -1.0);
}

}  // namespace

ProjectSummary buildSampleProject(const QString& manifestPath, const QString& projectPath, int unmapped)
{
    ProjectSummary result;
    result.path = QFileInfo(projectPath).absoluteFilePath();
    auto fail = [&](const QString& why) {
        result.error = why;
        return result;
    };

    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) return fail(tr("cannot read %1").arg(QDir::toNativeSeparators(manifestPath)));
    QJsonParseError parseError{};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &parseError).object();
    if (parseError.error != QJsonParseError::NoError ||
        root.value(QStringLiteral("format")).toString() != QLatin1String("orv-sample"))
        return fail(tr("%1 is not a sample manifest").arg(QDir::toNativeSeparators(manifestPath)));
    const QDir base = QFileInfo(manifestPath).absoluteDir();
    const QJsonArray meshes = root.value(QStringLiteral("meshes")).toArray();
    const QJsonArray photos = root.value(QStringLiteral("photos")).toArray();

    if (unmapped < 0 || unmapped > photos.size())
        return fail(tr("cannot leave %1 of %2 photos unmapped").arg(unmapped).arg(photos.size()));

    // The project describes the files just written: an older one goes first, as the manifest did.
    if (QFileInfo::exists(result.path) && !QFile::remove(result.path))
        return fail(tr("cannot replace %1").arg(QDir::toNativeSeparators(result.path)));
    const ref_ptr<IZimMM> mm = zim::getMM();
    if (mm->createProject(result.path) != 0) return fail(mm->lastError());
    auto failClosing = [&](const QString& why) {
        mm->closeProject();
        QFile::remove(result.path);
        return fail(why);
    };

    int marksWritten = 0;
    for (int i = 0; i < photos.size(); ++i) {
        const QJsonObject photo = photos[i].toObject();
        const int meshIndex = photo.value(QStringLiteral("mesh")).toInt(-1);
        if (meshIndex < 0 || meshIndex >= meshes.size()) return failClosing(tr("photo %1 names no mesh").arg(i));
        const QJsonObject mesh = meshes[meshIndex].toObject();
        const int index = mm->addImage(base.filePath(photo.value(QStringLiteral("path")).toString()),
                                       base.filePath(mesh.value(QStringLiteral("obj")).toString()),
                                       mesh.value(QStringLiteral("label")).toString());
        if (index < 0) return failClosing(mm->lastError());
        ref_ptr<IZimMesh> m;
        mm->getMeshAt(m, index);
        mm->setMeshTextureVisible(m, true);

        ref_ptr<MarkArray> byKind[4];
        for (auto& a : byKind) a = new MarkArray();
        for (const QJsonValue& v : photo.value(QStringLiteral("marks")).toArray()) {
            const QJsonObject o = v.toObject();
            const int kind = markKind(o.value(QStringLiteral("kind")).toString());
            if (kind < 0) return failClosing(tr("photo %1 has a mark of an unknown kind").arg(i));
            MarkRecord r;
            r.id = o.value(QStringLiteral("id")).toInt();
            r.uv = point2(o.value(QStringLiteral("uv")));
            r.uv2 = point2(o.value(QStringLiteral("uv2")));
            const QJsonArray p = o.value(QStringLiteral("point")).toArray();
            if (p.size() == 3) r.point = XPnt3d(p[0].toDouble(), p[1].toDouble(), p[2].toDouble());
            byKind[kind]->append(r);
            ++marksWritten;
        }
        for (int k = 0; k < 4; ++k) mm->setImageMarks(index, k, byKind[k]);
    }
    // The photos meant to be mapped get their cameras from their marks, as a user mapping them
    // would; the others keep their marks for a user to map.
    for (int i = 0; i < photos.size() - unmapped; ++i) {
        const orvmap::MapOutcome outcome = orvmap::mapPhoto(mm.get(), i);
        if (!outcome.ok) return failClosing(tr("photo %1 cannot be mapped: %2").arg(i).arg(outcome.message));
    }
    if (mm->saveProject() != 0) return failClosing(mm->lastError());
    mm->closeProject();

    // Read back what was written, as a user opening it would.
    if (mm->openProject(result.path, nullptr) != 0) return fail(mm->lastError());
    QStringList missing;
    if (mm->getMissingFiles(missing) > 0) {
        mm->closeProject();
        return fail(tr("the project lost files: %1").arg(missing.join(QStringLiteral(", "))));
    }
    result.images = mm->imageCount();
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    if (mm->getState(state) == 0) state->getImageStore(store);
    for (int i = 0; i < result.images; ++i) {
        ref_ptr<IZimImageRecord> record;
        if (store && store->getImageRecord(record, i) == 0)
            for (int k = 0; k < 4; ++k) result.marks += record->getMarks(k)->count();
        ref_ptr<IZimMesh> m;
        if (mm->getMeshAt(m, i) == 0) result.triangles += m->meshTriangleCount();
        if (mm->isImageMapped(i)) {
            ++result.mapped;
            ZimPhotoCamera camera;
            if (mm->getImageCamera(i, camera) != 0) {
                mm->closeProject();
                return fail(tr("the mapped photo %1 has no camera in the project").arg(i));
            }
        }
    }
    mm->closeProject();
    if (result.marks != marksWritten)
        return fail(tr("the project holds %1 marks instead of %2").arg(result.marks).arg(marksWritten));
    if (result.mapped != result.images - unmapped)
        return fail(
            tr("the project holds %1 mapped photos instead of %2").arg(result.mapped).arg(result.images - unmapped));
    result.ok = true;
    return result;
}

}  // namespace orvsample
