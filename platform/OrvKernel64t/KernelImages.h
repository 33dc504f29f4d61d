// Photograph levels of the open project: the full photographs in memory and the reduced levels
// with their disk cache, prepared ahead on worker threads. Private to the kernel library.
//
// Every member function runs on the GUI thread. Worker threads only run ReducedJob::make, which
// reads the photo and its inputs copied into the job, writes the cache file and hands back a
// new image; the GUI thread takes a job's result only once the job is finished.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QThreadPool>
#include <memory>

#include "OrvKernel64t.h"

namespace zim {
namespace kernel {

// What identifies one version of a photo file on disk.
struct PhotoKey {
    QString path;  // absolute
    qint64 size = -1;
    qint64 mtime = 0;  // ms since the epoch
    bool exists = false;
    bool operator==(const PhotoKey& o) const
    {
        return path == o.path && size == o.size && mtime == o.mtime && exists == o.exists;
    }
    bool operator!=(const PhotoKey& o) const { return !(*this == o); }
};
PhotoKey photoKey(const QString& path);

// Base name of a photo's cache files (without suffix): SHA-1 of the path, size, modification.
QString reducedCacheName(const PhotoKey& key);

// Decodes the reduced level of a photo through the cache folder (empty: no cache): a cache file
// for the key is read when present and whole; otherwise the photo is decoded at reduced size,
// written to the cache and read back from it, so the image reports the cache file as its path.
// Null with *error on failure. *hit tells whether the cache answered.
ref_ptr<IZimImage> makeReducedLevel(const PhotoKey& key, const QString& cacheFolder, QString* error, bool* hit);

struct ReducedJob;

class ImageLevels {
public:
    ImageLevels();
    ~ImageLevels();
    ImageLevels(const ImageLevels&) = delete;
    ImageLevels& operator=(const ImageLevels&) = delete;

    // The folder beside the project; when it cannot be made or written a temporary folder of
    // this object is used instead.
    void setCacheFolder(const QString& folder);
    QString cacheFolder();

    // The reduced level of image `index`, from memory, a finished worker, the disk cache or the
    // photo. Null with *error on failure.
    ref_ptr<IZimImage> reduced(int index, const QString& photoPath, QString* error);
    // The photograph at full size; the pinned image and the two used last are kept.
    ref_ptr<IZimImage> full(int index, const QString& photoPath, QString* error);
    // Keeps image `index`'s full photograph in memory (-1: none).
    void pin(int index);
    void trimFull();

    void setPrefetch(bool enabled);
    bool prefetch() const { return m_prefetch; }
    // Queues the reduced level of an image for a worker (nothing when prefetch is off or the
    // level is in memory or queued already).
    void schedule(int index, const QString& photoPath);
    // Moves finished worker results into memory.
    void harvest();
    void waitForPrefetch();
    // Drops queued work and waits for running work; results are thrown away.
    void cancel();
    // Forgets every picture in memory.
    void release();
    // Removes cache files that belong to none of the given photos (or to an older version).
    void prune(const QList<PhotoKey>& photos);

private:
    struct Held {
        PhotoKey key;
        ref_ptr<IZimImage> image;
    };
    // A worker's result for an image: null when there is no job or it had not started (it then
    // never will). Waiting for a running job, the calling thread makes queued ones meanwhile.
    ref_ptr<IZimImage> takeJob(int index, const PhotoKey& key);
    // Makes the first queued level on this thread; false when nothing is queued.
    bool helpOnce();
    QString usableCacheFolder();

    QString m_folder;
    bool m_folderChecked = false;
    bool m_folderUsable = false;
    std::unique_ptr<QTemporaryDir> m_fallback;
    QHash<int, Held> m_reduced;
    QList<QPair<int, Held>> m_full;  // most recently used first
    int m_pinned = -1;
    bool m_prefetch = true;
    QHash<int, std::shared_ptr<ReducedJob>> m_jobs;
    QList<int> m_queue;  // indices in the order they were queued (candidates for helpOnce)
    QThreadPool m_pool;
};

}  // namespace kernel
}  // namespace zim
