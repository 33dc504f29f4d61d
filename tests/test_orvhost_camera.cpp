// The 3D view's camera record the host stores with a project: the bytes of version 1, a round
// trip, the records it refuses, and when storing again is needed.
#include <CoreCamera.h>
#include <gtest/gtest.h>

#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using orvCore::CameraRecord;
using orvUI::ViewCamera;

ViewCamera oblique()
{
    ViewCamera c;
    c.eye = XPnt3d(412345.25, 5312345.5, 310.75);
    c.center = XPnt3d(412300.0, 5312300.0, 20.0);
    c.up = XPnt3d(0.0, 0.0, 1.0);
    c.fov = 30.0;
    c.opacity = 0.45;
    c.zoom = 1.75;
    return c;
}

double valueAt(const QByteArray& record, int i)
{
    const quint64 bits = qFromLittleEndian<quint64>(record.constData() + 8 + 8 * i);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

QByteArray withValue(QByteArray record, int i, double v)
{
    quint64 bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    qToLittleEndian<quint64>(bits, record.data() + 8 + 8 * i);
    return record;
}

TEST(CameraRecord, Version1IsLittleEndianAndComesBackExactly)
{
    const ViewCamera c = oblique();
    const QByteArray record = CameraRecord::encode(c);
    ASSERT_EQ(record.size(), 104);
    EXPECT_EQ(record.left(4), QByteArray("OCAM"));
    EXPECT_EQ(record.mid(4, 4), QByteArray("\x01\x00\x00\x00", 4));
    // eye x, centre z, up z, field of view, opacity, zoom at their places
    EXPECT_EQ(valueAt(record, 0), 412345.25);
    EXPECT_EQ(valueAt(record, 5), 20.0);
    EXPECT_EQ(valueAt(record, 8), 1.0);
    EXPECT_EQ(valueAt(record, 9), 30.0);
    EXPECT_EQ(valueAt(record, 10), 0.45);
    EXPECT_EQ(valueAt(record, 11), 1.75);
    // 1.0 is 0x3ff0000000000000: its high byte comes last.
    EXPECT_EQ(record.mid(8 + 8 * 8, 8), QByteArray("\x00\x00\x00\x00\x00\x00\xf0\x3f", 8));

    ViewCamera back;
    QString why;
    ASSERT_TRUE(CameraRecord::decode(record, &back, &why)) << why.toStdString();
    EXPECT_EQ(back.eye, c.eye);
    EXPECT_EQ(back.center, c.center);
    EXPECT_EQ(back.up, c.up);
    EXPECT_EQ(back.fov, c.fov);
    EXPECT_EQ(back.opacity, c.opacity);
    EXPECT_EQ(back.zoom, c.zoom);
    EXPECT_EQ(CameraRecord::encode(back), record);
}

TEST(CameraRecord, BadShortAndImpossibleRecordsAreRefusedWithAReason)
{
    const QByteArray good = CameraRecord::encode(oblique());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QByteArray otherVersion = good;
    otherVersion[4] = 2;
    QByteArray otherMagic = good;
    otherMagic[0] = 'X';
    ViewCamera eyeOnCentre = oblique();
    eyeOnCentre.eye = eyeOnCentre.center;
    ViewCamera upAlongSight = oblique();
    upAlongSight.up = upAlongSight.center - upAlongSight.eye;

    const struct {
        const char* what;
        QByteArray record;
    } bad[] = {
        {"empty", QByteArray()},
        {"head cut", good.left(6)},
        {"values cut", good.left(103)},
        {"one byte too many", good + QByteArray(1, '\0')},
        {"another version", otherVersion},
        {"another magic", otherMagic},
        {"NaN eye", withValue(good, 1, nan)},
        {"infinite zoom", withValue(good, 11, inf)},
        {"eye on the centre", CameraRecord::encode(eyeOnCentre)},
        {"null up", withValue(withValue(withValue(good, 6, 0.0), 7, 0.0), 8, 0.0)},
        {"up along the line of sight", CameraRecord::encode(upAlongSight)},
        {"field of view 0", withValue(good, 9, 0.0)},
        {"field of view 180", withValue(good, 9, 180.0)},
        {"zoom 0", withValue(good, 11, 0.0)},
        {"negative zoom", withValue(good, 11, -2.0)},
        {"opacity above 1", withValue(good, 10, 1.5)},
    };
    for (const auto& b : bad) {
        ViewCamera out = oblique();
        out.fov = 12.5;  // a marker: a refused record leaves the camera alone
        QString why;
        EXPECT_FALSE(CameraRecord::decode(b.record, &out, &why)) << b.what;
        EXPECT_FALSE(why.isEmpty()) << b.what;
        EXPECT_EQ(out.fov, 12.5) << b.what;
    }
}

TEST(CameraRecord, StoringAgainOnlyWhenTheViewChanged)
{
    const ViewCamera c = oblique();
    const QByteArray stored = CameraRecord::encode(c);
    // Nothing stored, or a record that cannot be read: the current camera is stored.
    EXPECT_EQ(CameraRecord::recordToStore(QByteArray(), c), stored);
    EXPECT_EQ(CameraRecord::recordToStore(stored.left(20), c), stored);

    // The same view, up to the rounding a view's own maths gives: nothing to store.
    ViewCamera rounded = c;
    rounded.eye.x += 1e-7;  // far below a millimetre at 400 km
    rounded.fov = std::nextafter(c.fov, 31.0);
    EXPECT_TRUE(CameraRecord::sameView(c, rounded));
    EXPECT_TRUE(CameraRecord::recordToStore(stored, rounded).isEmpty());

    // A moved camera, another zoom or opacity: stored.
    ViewCamera moved = c;
    moved.eye.z += 0.01;
    EXPECT_FALSE(CameraRecord::sameView(c, moved));
    EXPECT_EQ(CameraRecord::recordToStore(stored, moved), CameraRecord::encode(moved));
    ViewCamera zoomed = c;
    zoomed.zoom = 2.0;
    EXPECT_EQ(CameraRecord::recordToStore(stored, zoomed), CameraRecord::encode(zoomed));
    ViewCamera fainter = c;
    fainter.opacity = 0.3;
    EXPECT_FALSE(CameraRecord::recordToStore(stored, fainter).isEmpty());
}

}  // namespace
