// Mapping a photograph: its registration marks (every mark of every kind, each with an enabled
// flag kept in the project), and the camera solved from them, stored in the project with the
// photo marked mapped. Used by the host's headless --map, the sample generator and the UI.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include "OrvKernel64t.h"

namespace orvmap {

struct PhotoMark {
    int kind = 0;       // ZimMarkKind the mark is stored under
    int position = 0;   // its position in that kind's array
    MarkRecord record;  // uv, point, id, uv2 as stored
    bool enabled = true;
    bool hasPhotoPosition() const;  // uv inside 0..1 and finite
    bool hasPoint() const;          // point valid and finite
};

// Every mark of the image, all kinds, in kind then array order, with its enabled flag.
QVector<PhotoMark> photoMarks(IZimMM* mm, int index);

// Enabled flags, stored with the project (default enabled). 0; -1 without project / bad index.
bool isMarkEnabled(IZimMM* mm, int index, int id);
int setMarkEnabled(IZimMM* mm, int index, int id, bool enabled);

struct MapOutcome {
    bool ok = false;
    QString message;       // why it was refused (translated); empty when ok
    QStringList warnings;  // translated warnings (few marks, small coverage, high RMS)
    int marksUsed = 0;
    double rms = 0;
    int worstId = -1;  // the used mark with the largest residual
    double worstPixels = 0;
    QVector<int> outliers;  // ids dropped as mis-clicked
    ZimPhotoCamera camera;  // the stored camera when ok
};

// Solves the photo's camera from its enabled complete marks, stores it (setImageCamera) and marks
// the photo mapped (setImageMapped). On any refusal nothing in the project changes.
//
// A mark is complete when it has a photo position and a 3D point; a mark without one of them
// holds the record's unset value there (uv (-1, -1), point all NaN). An enabled mark whose photo
// position or point is set but not a usable one (NaN, outside the photo) refuses the photo, and
// so do two complete enabled marks with one id and a 3D point lying on none of the awake meshes.
// The focal length counts as known when the photo's EXIF block gives it; with too few marks to
// find it, the focal length of a mapped photo of the same size is taken instead.
MapOutcome mapPhoto(IZimMM* mm, int index);

// One line, e.g. "12 marks, rms 0.62 px, worst mark 7 (1.10 px)" (translated).
QString summary(const MapOutcome& outcome);

// The enabled marks with a photo position and a 3D point (those mapPhoto would use), and how
// many mapPhoto needs for the photo now: 6, or 4 when its focal length is known.
int usableMarkCount(IZimMM* mm, int index);
int marksNeeded(IZimMM* mm, int index);
// The photograph's full size in pixels as the project knows it (the size its marks and camera
// refer to, whatever size of picture is shown); empty when unknown.
QSize photoSize(IZimMM* mm, int index);

}  // namespace orvmap
