// The backup step of the 3D viewer: from the current camera, the visible triangles with their
// screen and texture corners, the texture image of every mesh involved, the seam edges between
// the meshes' visible areas, and the backup picture of how the textures look now, saved to a
// file. Reports progress through the main frame's progress object.
#pragma once

#include "TriangleSelection.h"

#include <QString>

#include <chrono>
#include <functional>

namespace orvUI {

// What the backup needs of the viewer.
struct BackupView {
    ref_ptr<IZimTrackBall> trackBall;
    int width = 0;   // the widget's size in pixels
    int height = 0;
    // Makes the viewer's GL context current with the depth of the current view in its buffer;
    // false when there is no context.
    std::function<bool()> prepareDepth;
    // Called once the selection has read the depth (whether or not prepareDepth succeeded).
    std::function<void()> releaseDepth;
    // Redraws the view once the backup is done.
    std::function<void()> redraw;
    // A new progress display, deleted by the backup when it is done; the main frame's when
    // not set.
    std::function<IZimProgress*()> makeProgress;
    // Threads that paint (0: as many as OpenMP gives); the picture is the same for any number.
    int paintThreads = 0;
    // When set, the time of each phase is added to it.
    BackupTimings* timings = nullptr;
};

class BackupInformation {
public:
    explicit BackupInformation(const BackupView& view) : m_view(view) {}

    // The whole step; false, with error() saying why, when no picture was written.
    bool generate(const QString& path, TriangleRecords& records, TextureImageMap& textures, SeamEdgeMap& seams);
    const QString& error() const { return m_error; }

private:
    using Clock = std::chrono::steady_clock;
    bool fail(const QString& why);
    void lap(Clock::time_point& since, double BackupTimings::*phase) const;

    BackupView m_view;
    QString m_error;
};

}  // namespace orvUI
