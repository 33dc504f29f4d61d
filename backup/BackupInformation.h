// The backup step of the 3D viewer: from the current camera, the visible triangles with their
// screen and texture corners, the texture image of every mesh involved, the seam edges between
// the meshes' visible areas, and the backup picture of how the textures look now, saved to a
// file. Reports progress through the main frame's progress object.
#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

#include "TriangleSelection.h"

namespace orvUI {

// What the backup needs of the viewer.
struct BackupView {
    ref_ptr<IZimTrackBall> trackBall;
    int width = 0;  // the widget's size in pixels
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

    // The whole step, one step after the other: begin, select, checkTextures, paint, fillGaps,
    // save, finish. False, with error() saying why, when no picture was written.
    bool generate(const QString& path, TriangleRecords& records, TextureImageMap& textures, SeamEdgeMap& seams);
    const QString& error() const { return m_error; }

private:
    using Clock = std::chrono::steady_clock;
    bool fail(const QString& why);
    void lap(Clock::time_point& since, double BackupTimings::*phase) const;

    // The steps. Each returns false, with the error set, when the backup cannot go on.
    // The project, the camera, the awake textured meshes and the progress display.
    bool begin();
    // The visible triangles, from the depth of the view as it shows the meshes now.
    bool select(TriangleRecords& records, TextureImageMap& textures, SeamEdgeMap& seams);
    // Reports textures that cannot be read; refuses when no visible triangle has one.
    bool checkTextures(const TriangleRecords& records, const TextureImageMap& textures);
    // The picture: grey, then every record's texture painted over it.
    bool paint(const TriangleRecords& records, const TextureImageMap& textures);
    bool fillGaps();
    bool save(const QString& path);
    // Closes the progress and redraws the view.
    void finish();

    BackupView m_view;
    QString m_error;
    ref_ptr<IZimMM> m_mm;
    ref_ptr<IZimImageStore> m_store;
    ref_ptr<MeshArray> m_meshes;
    std::unique_ptr<IZimProgress> m_progress;
    ref_ptr<IZimImage> m_picture;
};

}  // namespace orvUI
