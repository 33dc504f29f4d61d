// The 3D view's camera as the host keeps it with a project: one blob of the project ("orvhost",
// "camera") holding a versioned little-endian record.
//
// Record, version 1 (104 bytes):
//   bytes 0..3    "OCAM"
//   bytes 4..7    version, unsigned 32-bit little-endian (1)
//   bytes 8..103  twelve IEEE-754 doubles, little-endian: eye x y z, centre x y z, up x y z,
//                 base field of view (degrees), overlay opacity, zoom
// A record that is short, of another version or size, holds a number that is not finite or a
// camera that cannot be looked through (eye on the centre, no up direction or one along the
// line of sight, a field of view outside 0..180 degrees, zoom not above 0, opacity outside 0..1)
// is refused with the reason, and the view opens on its home view instead.
#pragma once

#include <OrvViewState.h>

#include <QByteArray>
#include <QString>

namespace orvCore {

class CameraRecord {
public:
    static constexpr quint32 Version = 1;
    static constexpr int Size = 104;

    static const QString& group();  // "orvhost"
    static const QString& key();    // "camera"

    static QByteArray encode(const orvUI::ViewCamera& camera);
    // False (out untouched) with *why set for a record that cannot be used.
    static bool decode(const QByteArray& record, orvUI::ViewCamera* out, QString* why);
    // True when the two cameras show the same view: every value equal up to rounding.
    static bool sameView(const orvUI::ViewCamera& a, const orvUI::ViewCamera& b);
    // The record to store so that the project holds `current`: empty when the stored record
    // already holds that camera (so storing again would change nothing).
    static QByteArray recordToStore(const QByteArray& stored, const orvUI::ViewCamera& current);
};

}  // namespace orvCore
