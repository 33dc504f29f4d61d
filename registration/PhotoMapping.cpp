#include "PhotoMapping.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "CameraSolver.h"

namespace orvmap {

namespace {

ZIM_TR_CONTEXT("orvmap")

const char* const kFlagGroup = "marks";

QString flagKey(int index) { return QStringLiteral("disabled/%1").arg(index); }

bool validImage(IZimMM* mm, int index) { return mm && mm->isProjectOpen() && index >= 0 && index < mm->imageCount(); }

// The ids stored as disabled for an image; a missing or damaged list disables nothing.
QVector<std::int32_t> disabledIds(IZimMM* mm, int index)
{
    QVector<std::int32_t> out;
    if (!validImage(mm, index)) return out;
    int size = -1;
    mm->readProjectData(QLatin1String(kFlagGroup), flagKey(index), nullptr, 0, &size);
    if (size <= 0 || size % 4 != 0) return out;
    QByteArray bytes(size, Qt::Uninitialized);
    if (!mm->readProjectData(QLatin1String(kFlagGroup), flagKey(index), bytes.data(), size, nullptr)) return out;
    for (int i = 0; i < size / 4; ++i) out.append(qFromLittleEndian<qint32>(bytes.constData() + 4 * i));
    return out;
}

ref_ptr<IZimImageRecord> recordOf(IZimMM* mm, int index)
{
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    ref_ptr<IZimImageRecord> record;
    if (mm->getState(state) == 0 && state && state->getImageStore(store) == 0 && store)
        store->getImageRecord(record, index);
    return record;
}

bool unsetPhotoPosition(const MarkRecord& r) { return r.uv.x == -1.0 && r.uv.y == -1.0; }
bool unsetPoint(const MarkRecord& r) { return std::isnan(r.point.x) && std::isnan(r.point.y) && std::isnan(r.point.z); }

double dot(const XPnt3d& a, const XPnt3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
XPnt3d minus(const XPnt3d& a, const XPnt3d& b) { return XPnt3d(a.x - b.x, a.y - b.y, a.z - b.z); }

// Squared distance from p to the triangle (a, b, c), by the region of the triangle nearest to p.
double squaredDistanceToTriangle(const XPnt3d& p, const XPnt3d& a, const XPnt3d& b, const XPnt3d& c)
{
    const XPnt3d ab = minus(b, a), ac = minus(c, a), ap = minus(p, a);
    const auto at = [&](double s, double t) {
        const XPnt3d q(a.x + s * ab.x + t * ac.x, a.y + s * ab.y + t * ac.y, a.z + s * ab.z + t * ac.z);
        const XPnt3d d = minus(p, q);
        return dot(d, d);
    };
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return at(0, 0);
    const XPnt3d bp = minus(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return at(1, 0);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return at(d1 / (d1 - d3), 0);
    const XPnt3d cp = minus(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return at(0, 1);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return at(0, d2 / (d2 - d6));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return at(1 - w, w);
    }
    const double denom = va + vb + vc;
    if (!(std::fabs(denom) > 0)) {
        // A triangle without area: the nearest of its corners.
        return std::min({at(0, 0), at(1, 0), at(0, 1)});
    }
    return at(vb / denom, vc / denom);
}

bool nearBox(const Enve3d& box, const XPnt3d& p, double tolerance)
{
    return p.x >= box.minX - tolerance && p.x <= box.maxX + tolerance && p.y >= box.minY - tolerance &&
           p.y <= box.maxY + tolerance && p.z >= box.minZ - tolerance && p.z <= box.maxZ + tolerance;
}

// The awake meshes and the box around all of them.
struct Scene {
    QVector<ref_ptr<IZimMesh>> meshes;
    QVector<Enve3d> boxes;
    Enve3d box;
    bool someAsleep = false;
};

Scene awakeScene(IZimMM* mm)
{
    Scene s;
    for (int textured = 0; textured < 2; ++textured) {
        ref_ptr<MeshArray> list;
        if ((textured ? mm->getBackupMeshArray(list) : mm->getMeshArray(list)) != 0 || !list) continue;
        for (int i = 0; i < list->meshCount(); ++i) {
            const ref_ptr<IZimMesh> m = list->meshAt(i);
            Enve3d b;
            if (!m || m->meshBox(b) != 0 || b.isEmpty()) continue;
            s.meshes.append(m);
            s.boxes.append(b);
            s.box.expand(b.minX, b.minY, b.minZ);
            s.box.expand(b.maxX, b.maxY, b.maxZ);
        }
    }
    for (int i = 0; i < mm->imageCount(); ++i)
        if (mm->isMeshAsleepById(i)) s.someAsleep = true;
    return s;
}

bool onSomeMesh(const Scene& scene, const XPnt3d& p, double tolerance)
{
    const double tol2 = tolerance * tolerance;
    for (int m = 0; m < scene.meshes.size(); ++m) {
        if (!nearBox(scene.boxes[m], p, tolerance)) continue;
        const ref_ptr<Pnt3fArray> vertices = scene.meshes[m]->meshVertexSource();
        const ref_ptr<IntArray> triangles = scene.meshes[m]->meshTriangles();
        if (!vertices || !triangles) continue;
        const int nv = vertices->count();
        for (int t = 0; t + 2 < triangles->count(); t += 3) {
            const int i0 = (*triangles)[t], i1 = (*triangles)[t + 1], i2 = (*triangles)[t + 2];
            if (i0 < 0 || i1 < 0 || i2 < 0 || i0 >= nv || i1 >= nv || i2 >= nv) continue;
            const XPnt3d a((*vertices)[i0]), b((*vertices)[i1]), c((*vertices)[i2]);
            // Triangles whose box is far from the point are skipped before the exact distance.
            if (p.x < std::min({a.x, b.x, c.x}) - tolerance || p.x > std::max({a.x, b.x, c.x}) + tolerance ||
                p.y < std::min({a.y, b.y, c.y}) - tolerance || p.y > std::max({a.y, b.y, c.y}) + tolerance ||
                p.z < std::min({a.z, b.z, c.z}) - tolerance || p.z > std::max({a.z, b.z, c.z}) + tolerance)
                continue;
            if (squaredDistanceToTriangle(p, a, b, c) <= tol2) return true;
        }
    }
    return false;
}

QString errorText(orvreg::SolveError error)
{
    using orvreg::SolveError;
    switch (error) {
        case SolveError::None:
            return QString();
        case SolveError::BadPhotoSize:
            return tr("The photo's size is not known.");
        case SolveError::BadFocal:
            return tr("The known focal length of the photo is not usable.");
        case SolveError::NotFinite:
            return tr("A mark holds a value that is not a number.");
        case SolveError::OutsidePhoto:
            return tr("A mark lies outside the photo.");
        case SolveError::DuplicateId:
            return tr("Two marks have the same id.");
        case SolveError::TooFewMarks:
            return tr("There are too few marks to find the camera.");
        case SolveError::Degenerate:
            return tr(
                "The marks do not fix the camera: their 3D points or their photo positions lie (nearly) on "
                "one line. Spread the marks over the photo and over the scene.");
        case SolveError::TooManyOutliers:
            return tr(
                "The marks do not agree with each other: too many of them are off. Check where the marks "
                "were placed.");
        case SolveError::SolverFailed:
            return tr("No camera fits the marks. Check where the marks were placed.");
    }
    return tr("No camera fits the marks.");
}

QString pixels(double value) { return QString::number(value, 'f', 2); }

// The focal length mapPhoto takes as known for a photo with `usable` marks: the photo's own EXIF
// focal length; with too few marks to find it, the one of another mapped photo of the same size
// (likely the same camera).
std::optional<double> knownFocal(IZimMM* mm, int index, const QString& photoPath, const QSize& size, int usable)
{
    std::optional<double> focal =
        orvreg::exifFocalPixels(QFile::encodeName(photoPath).toStdString(), size.width(), size.height());
    if (focal || usable >= orvreg::minimumMarks(false)) return focal;
    for (int i = 0; i < mm->imageCount(); ++i) {
        ZimPhotoCamera sibling;
        if (i != index && mm->isImageMapped(i) && mm->getImageCamera(i, sibling) == 0 &&
            sibling.width == size.width() && sibling.height == size.height())
            return sibling.fx;
    }
    return std::nullopt;
}

}  // namespace

bool PhotoMark::hasPhotoPosition() const
{
    return std::isfinite(record.uv.x) && std::isfinite(record.uv.y) && record.uv.x >= 0 && record.uv.x <= 1 &&
           record.uv.y >= 0 && record.uv.y <= 1;
}

bool PhotoMark::hasPoint() const { return record.point.isValid(); }

QVector<PhotoMark> photoMarks(IZimMM* mm, int index)
{
    QVector<PhotoMark> out;
    if (!validImage(mm, index)) return out;
    const ref_ptr<IZimImageRecord> record = recordOf(mm, index);
    if (!record) return out;
    const QVector<std::int32_t> disabled = disabledIds(mm, index);
    for (int kind = ZimMarkControl; kind <= ZimMarkSelected; ++kind) {
        const ref_ptr<MarkArray> marks = record->getMarks(kind);
        for (int i = 0; marks && i < marks->count(); ++i) {
            PhotoMark m;
            m.kind = kind;
            m.position = i;
            m.record = (*marks)[i];
            m.enabled = !disabled.contains(m.record.id);
            out.append(m);
        }
    }
    return out;
}

bool isMarkEnabled(IZimMM* mm, int index, int id) { return !disabledIds(mm, index).contains(id); }

int setMarkEnabled(IZimMM* mm, int index, int id, bool enabled)
{
    if (!validImage(mm, index)) return -1;
    QVector<std::int32_t> disabled = disabledIds(mm, index);
    if (disabled.contains(id) != enabled) return 0;  // already so: nothing changes
    if (enabled)
        disabled.removeAll(id);
    else
        disabled.append(id);
    std::sort(disabled.begin(), disabled.end());
    QByteArray bytes(disabled.size() * 4, Qt::Uninitialized);
    for (int i = 0; i < disabled.size(); ++i) qToLittleEndian(qint32(disabled[i]), bytes.data() + 4 * i);
    return mm->writeProjectData(QLatin1String(kFlagGroup), flagKey(index), bytes.constData(), bytes.size()) == 0 ? 0
                                                                                                                 : -1;
}

MapOutcome mapPhoto(IZimMM* mm, int index)
{
    MapOutcome out;
    const auto refuse = [&](const QString& why) {
        out = MapOutcome();
        out.message = why;
        return out;
    };
    if (!mm || !mm->isProjectOpen()) return refuse(tr("No project is open."));
    if (!validImage(mm, index)) return refuse(tr("There is no photo %1 in the project.").arg(index));

    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) != 0 || !entry)
        return refuse(tr("There is no photo %1 in the project.").arg(index));
    const QSize size = photoSize(mm, index);
    if (!entry->hasPhotoFile() || size.isEmpty())
        return refuse(tr("The photo file %1 is missing or cannot be read.").arg(entry->photoPath()));

    // The marks that take part, after the checks that name a mark.
    const QVector<PhotoMark> marks = photoMarks(mm, index);
    QVector<PhotoMark> used;
    for (const PhotoMark& m : marks) {
        if (!m.enabled) continue;
        const MarkRecord& r = m.record;
        if (!unsetPhotoPosition(r) && !m.hasPhotoPosition()) {
            if (!std::isfinite(r.uv.x) || !std::isfinite(r.uv.y))
                return refuse(tr("Mark %1 has a photo position that is not a number.").arg(r.id));
            return refuse(tr("Mark %1 lies outside the photo (u %2, v %3).").arg(r.id).arg(r.uv.x).arg(r.uv.y));
        }
        if (!unsetPoint(r) && !m.hasPoint())
            return refuse(tr("Mark %1 has a 3D point that is not a number.").arg(r.id));
        if (m.hasPhotoPosition() && m.hasPoint()) used.append(m);
    }
    {
        QSet<std::int32_t> ids;
        for (const PhotoMark& m : used) {
            if (ids.contains(m.record.id))
                return refuse(tr("Two marks have the id %1; every mark needs an id of its own.").arg(m.record.id));
            ids.insert(m.record.id);
        }
    }
    {
        const Scene scene = awakeScene(mm);
        if (!scene.meshes.isEmpty()) {
            const double tolerance = std::max(1e-3 * scene.box.diagonal(), 1e-9);
            for (const PhotoMark& m : used) {
                // A point near no awake mesh may still lie on a sleeping one, which is not read to
                // check it.
                if (!onSomeMesh(scene, m.record.point, tolerance) && !scene.someAsleep)
                    return refuse(tr("The 3D point of mark %1 lies on none of the meshes.").arg(m.record.id));
            }
        }
    }

    orvreg::SolveInput input;
    input.width = size.width();
    input.height = size.height();
    for (const PhotoMark& m : used) {
        orvreg::RegMark r;
        r.id = m.record.id;
        r.u = m.record.uv.x;
        r.v = m.record.uv.y;
        r.point[0] = m.record.point.x;
        r.point[1] = m.record.point.y;
        r.point[2] = m.record.point.z;
        input.marks.push_back(r);
    }
    input.focalPixels = knownFocal(mm, index, entry->photoPath(), size, used.size());
    const int needed = orvreg::minimumMarks(input.focalPixels.has_value());
    if (used.size() < needed) {
        if (input.focalPixels)
            return refuse(tr("Enabled marks with a photo position and a 3D point: %1 of the %2 needed.")
                              .arg(used.size())
                              .arg(needed));
        return refuse(tr("Enabled marks with a photo position and a 3D point: %1 of the %2 needed (%3 when the focal "
                         "length is known).")
                          .arg(used.size())
                          .arg(needed)
                          .arg(orvreg::minimumMarks(true)));
    }

    const orvreg::SolveResult result = orvreg::solveCamera(input);
    if (!result.ok) return refuse(errorText(result.error));

    ZimPhotoCamera& c = out.camera;
    c.width = size.width();
    c.height = size.height();
    c.fx = result.camera.K[0];
    c.fy = result.camera.K[4];
    c.cx = result.camera.K[2];
    c.cy = result.camera.K[5];
    c.k1 = result.camera.k1;
    c.k2 = result.camera.k2;
    std::copy(std::begin(result.camera.R), std::end(result.camera.R), c.R);
    std::copy(std::begin(result.camera.t), std::end(result.camera.t), c.t);
    c.rms = result.rms;
    for (const orvreg::MarkResidual& r : result.residuals) c.residuals.append({r.id, r.pixels, r.used});
    // Disabled complete marks get their distance too, so the user can judge whether to take them back.
    for (const PhotoMark& m : marks) {
        if (m.enabled || !m.hasPhotoPosition() || !m.hasPoint()) continue;
        const double X[3] = {m.record.point.x, m.record.point.y, m.record.point.z};
        double px = 0, py = 0;
        if (!result.camera.project(X, &px, &py)) continue;
        const double d = std::hypot(px - m.record.uv.x * c.width, py - (1.0 - m.record.uv.y) * c.height);
        if (std::isfinite(d)) c.residuals.append({m.record.id, d, false});
    }
    if (!c.isValid()) return refuse(tr("No camera fits the marks. Check where the marks were placed."));

    out.marksUsed = result.marksUsed;
    out.rms = result.rms;
    for (const orvreg::MarkResidual& r : result.residuals)
        if (r.used && (out.worstId < 0 || r.pixels > out.worstPixels)) {
            out.worstId = r.id;
            out.worstPixels = r.pixels;
        }
    for (int id : result.outliers) out.outliers.append(id);
    for (int id : result.outliers) {
        double d = 0;
        for (const orvreg::MarkResidual& r : result.residuals)
            if (r.id == id) d = r.pixels;
        out.warnings << tr("Mark %1 was left out as mis-clicked (%2 px from where the camera puts its 3D point).")
                            .arg(id)
                            .arg(pixels(d));
    }
    for (orvreg::SolveWarning w : result.warnings) {
        switch (w) {
            case orvreg::SolveWarning::FewMarks:
                out.warnings << tr("Only %1 marks: a mis-clicked mark cannot be found (that takes %2 or more).")
                                    .arg(result.marksUsed)
                                    .arg(orvreg::SolveOptions().minMarksOutlierCheck);
                break;
            case orvreg::SolveWarning::SmallCoverage:
                out.warnings << tr("The marks cover %1 % of the photo; spread them over at least half of it.")
                                    .arg(qRound(result.coverage * 100));
                break;
            case orvreg::SolveWarning::HighRms:
                out.warnings << tr("The RMS of %1 px is high; check the marks farthest from their solved positions.")
                                    .arg(pixels(result.rms));
                break;
        }
    }

    if (mm->setImageCamera(index, &c) != 0) return refuse(mm->lastError());
    mm->setImageMapped(index, true);
    out.ok = true;
    return out;
}

QString summary(const MapOutcome& outcome)
{
    if (!outcome.ok) return outcome.message;
    if (outcome.worstId < 0) return tr("%1 marks, rms %2 px").arg(outcome.marksUsed).arg(pixels(outcome.rms));
    return tr("%1 marks, rms %2 px, worst mark %3 (%4 px)")
        .arg(outcome.marksUsed)
        .arg(pixels(outcome.rms))
        .arg(outcome.worstId)
        .arg(pixels(outcome.worstPixels));
}

}  // namespace orvmap

namespace orvmap {

int usableMarkCount(IZimMM* mm, int index)
{
    int count = 0;
    for (const PhotoMark& m : photoMarks(mm, index))
        if (m.enabled && m.hasPhotoPosition() && m.hasPoint()) ++count;
    return count;
}

int marksNeeded(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    const QSize size =
        validImage(mm, index) && mm->getImageEntry(entry, index) == 0 && entry ? photoSize(mm, index) : QSize();
    if (size.isEmpty()) return orvreg::minimumMarks(false);
    const bool known = knownFocal(mm, index, entry->photoPath(), size, usableMarkCount(mm, index)).has_value();
    return orvreg::minimumMarks(known);
}

QSize photoSize(IZimMM* mm, int index)
{
    const ref_ptr<IZimImageRecord> record = recordOf(mm, index);
    return record ? record->imageSizeAt(2) : QSize();
}

}  // namespace orvmap
