#include "CoreCamera.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvCore {

namespace {

constexpr char kMagic[4] = {'O', 'C', 'A', 'M'};
constexpr int kValues = 12;

void putDouble(char* at, double v)
{
    quint64 bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    qToLittleEndian<quint64>(bits, at);
}

double getDouble(const char* at)
{
    const quint64 bits = qFromLittleEndian<quint64>(at);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void flatten(const orvUI::ViewCamera& c, double* v)
{
    const XPnt3d* points[3] = {&c.eye, &c.center, &c.up};
    for (int i = 0; i < 3; ++i) {
        v[3 * i] = points[i]->x;
        v[3 * i + 1] = points[i]->y;
        v[3 * i + 2] = points[i]->z;
    }
    v[9] = c.fov;
    v[10] = c.opacity;
    v[11] = c.zoom;
}

bool close(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)}); }

}  // namespace

const QString& CameraRecord::group()
{
    static const QString name = QString::fromLatin1("orvhost");
    return name;
}

const QString& CameraRecord::key()
{
    static const QString name = QString::fromLatin1("camera");
    return name;
}

QByteArray CameraRecord::encode(const orvUI::ViewCamera& camera)
{
    QByteArray out(Size, '\0');
    char* p = out.data();
    std::memcpy(p, kMagic, 4);
    qToLittleEndian<quint32>(Version, p + 4);
    double v[kValues];
    flatten(camera, v);
    for (int i = 0; i < kValues; ++i) putDouble(p + 8 + 8 * i, v[i]);
    return out;
}

bool CameraRecord::decode(const QByteArray& record, orvUI::ViewCamera* out, QString* why)
{
    auto refuse = [why](const QString& reason) {
        if (why) *why = reason;
        return false;
    };
    if (record.size() < 8)
        return refuse(QStringLiteral("the record has %1 bytes, too few for its head").arg(record.size()));
    const char* p = record.constData();
    if (std::memcmp(p, kMagic, 4) != 0) return refuse(QStringLiteral("the record does not start with \"OCAM\""));
    const quint32 version = qFromLittleEndian<quint32>(p + 4);
    if (version != Version)
        return refuse(QStringLiteral("the record has version %1, not %2").arg(version).arg(Version));
    if (record.size() != Size)
        return refuse(QStringLiteral("the record has %1 bytes instead of %2").arg(record.size()).arg(Size));
    double v[kValues];
    for (int i = 0; i < kValues; ++i) {
        v[i] = getDouble(p + 8 + 8 * i);
        if (!std::isfinite(v[i])) return refuse(QStringLiteral("value %1 of the record is not a finite number").arg(i));
    }
    orvUI::ViewCamera c;
    c.eye = XPnt3d(v[0], v[1], v[2]);
    c.center = XPnt3d(v[3], v[4], v[5]);
    c.up = XPnt3d(v[6], v[7], v[8]);
    c.fov = v[9];
    c.opacity = v[10];
    c.zoom = v[11];
    XPnt3d sight = c.center - c.eye;
    XPnt3d up = c.up;
    const double distance = sight.normalize();
    if (!(distance > 0.0)) return refuse(QStringLiteral("the eye is on the centre"));
    if (!(up.normalize() > 0.0)) return refuse(QStringLiteral("the up direction is null"));
    if (!(sight.cross(up).length() > 1e-6))
        return refuse(QStringLiteral("the up direction is along the line of sight"));
    if (!(c.fov > 0.0 && c.fov < 180.0))
        return refuse(QStringLiteral("the field of view %1 is outside 0..180").arg(c.fov));
    if (!(c.zoom > 0.0)) return refuse(QStringLiteral("the zoom %1 is not above 0").arg(c.zoom));
    if (!(c.opacity >= 0.0 && c.opacity <= 1.0))
        return refuse(QStringLiteral("the overlay opacity %1 is outside 0..1").arg(c.opacity));
    *out = c;
    return true;
}

bool CameraRecord::sameView(const orvUI::ViewCamera& a, const orvUI::ViewCamera& b)
{
    double va[kValues], vb[kValues];
    flatten(a, va);
    flatten(b, vb);
    for (int i = 0; i < kValues; ++i)
        if (!close(va[i], vb[i])) return false;
    return true;
}

QByteArray CameraRecord::recordToStore(const QByteArray& stored, const orvUI::ViewCamera& current)
{
    orvUI::ViewCamera have;
    if (decode(stored, &have, nullptr) && sameView(have, current)) return QByteArray();
    return encode(current);
}

}  // namespace orvCore
