#include "KernelImages.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QMutex>
#include <QRegularExpression>
#include <QRunnable>
#include <QSet>
#include <QTemporaryFile>
#include <QWaitCondition>
#include <QtDebug>
#include <atomic>
#include <cstdio>

namespace zim {
namespace kernel {

namespace {

ZIM_TR_CONTEXT("OrvKernel")

// A name the system gave as bytes that are not UTF-8 arrives with replacement characters: no
// file of that name can be opened, which is not the same as its being absent.
QString missingPhoto(const QString& path)
{
    if (path.contains(QChar::ReplacementCharacter))
        return tr("the photo %1 cannot be opened: its name is not valid UTF-8 (rename it)")
            .arg(QDir::toNativeSeparators(path));
    return tr("the photo %1 does not exist").arg(QDir::toNativeSeparators(path));
}

// How many full photographs stay in memory besides the pinned one.
constexpr int kFullKept = 2;
// Largest side a full photograph is decoded at: what the image viewer shows whole.
constexpr int kFullPhotoSide = 8192;

}  // namespace

PhotoKey photoKey(const QString& path)
{
    PhotoKey key;
    key.path = path;
    const QFileInfo info(path);
    key.exists = info.isFile();
    if (key.exists) {
        key.size = info.size();
        key.mtime = info.lastModified().toMSecsSinceEpoch();
    }
    return key;
}

QString reducedCacheName(const PhotoKey& key)
{
    const QByteArray hash = QCryptographicHash::hash(key.path.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("%1-%2-%3").arg(QString::fromLatin1(hash)).arg(key.size).arg(key.mtime);
}

ref_ptr<IZimImage> makeReducedLevel(const PhotoKey& key, const QString& cacheFolder, QString* error, bool* hit)
{
    *hit = false;
    if (!key.exists) {
        *error = missingPhoto(key.path);
        return nullptr;
    }
    const QString base = cacheFolder.isEmpty() ? QString() : QDir(cacheFolder).filePath(reducedCacheName(key));
    if (!base.isEmpty()) {
        for (const char* suffix : {".jpg", ".png"}) {
            const QString file = base + QLatin1String(suffix);
            if (!QFileInfo::exists(file)) continue;
            ref_ptr<IZimImage> cached = newZimImage();
            if (cached->imageLoad(file) == 0) {
                *hit = true;
                return cached;
            }
            QFile::remove(file);  // damaged: made again below
        }
    }
    ref_ptr<IZimImage> image = newZimImage();
    if (image->imageLoadScaled(key.path, ZimReducedLevelSide) != 0) {
        *error = image->imageLastError();
        return nullptr;
    }
    if (base.isEmpty()) return image;
    const bool alpha = image->imageHasAlpha();
    const QString file = base + QLatin1String(alpha ? ".png" : ".jpg");
    // Written beside its final name and renamed into place, so a reader never sees half a file.
    // Not synced to disk: a cache file damaged by a crash fails to load and is made again.
    QTemporaryFile out(file + QStringLiteral(".XXXXXX"));
    if (out.open()) {
        QImageWriter writer(&out, alpha ? "png" : "jpeg");
        if (!alpha) writer.setQuality(90);
        const bool written = writer.write(image->imageToQImage()) && out.flush();
        out.close();
        if (written &&
            std::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(file).constData()) == 0) {
            out.setAutoRemove(false);
            // Read back from the cache, so the picture is the same whether the cache was there
            // or not and its path names the cache file.
            ref_ptr<IZimImage> back = newZimImage();
            if (back->imageLoad(file) == 0) return back;
        }
    }
    return image;
}

// One reduced level to make on a worker thread.
struct ReducedJob {
    enum State { Queued, Running, Done, Claimed };
    std::atomic<int> state{Queued};
    PhotoKey key;
    QString folder;
    QMutex mutex;
    QWaitCondition finished;
    ref_ptr<IZimImage> result;  // guarded by mutex until state is Done
    QString error;
};

namespace {

class ReducedRunner : public QRunnable {
public:
    explicit ReducedRunner(std::shared_ptr<ReducedJob> job) : m_job(std::move(job)) {}
    void run() override
    {
        int expected = ReducedJob::Queued;
        if (!m_job->state.compare_exchange_strong(expected, ReducedJob::Running)) return;  // claimed or dropped
        QString error;
        bool hit = false;
        ref_ptr<IZimImage> image = makeReducedLevel(m_job->key, m_job->folder, &error, &hit);
        QMutexLocker lock(&m_job->mutex);
        m_job->result = image;
        m_job->error = error;
        m_job->state.store(ReducedJob::Done);
        m_job->finished.wakeAll();
    }

private:
    std::shared_ptr<ReducedJob> m_job;
};

}  // namespace

ImageLevels::ImageLevels()
{
    // Leave one core to the GUI thread, which decodes on the spot what is not ready.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));
}

ImageLevels::~ImageLevels() { cancel(); }

void ImageLevels::setCacheFolder(const QString& folder)
{
    if (folder == m_folder) return;
    m_folder = folder;
    m_folderChecked = false;
}

QString ImageLevels::usableCacheFolder()
{
    if (!m_folderChecked) {
        m_folderChecked = true;
        m_folderUsable = false;
        if (!m_folder.isEmpty() && QDir().mkpath(m_folder)) {
            QTemporaryFile probe(QDir(m_folder).filePath(QStringLiteral(".probe-XXXXXX")));
            m_folderUsable = probe.open();
        }
    }
    if (m_folderUsable) return m_folder;
    if (!m_fallback) m_fallback = std::make_unique<QTemporaryDir>();
    return m_fallback->isValid() ? m_fallback->path() : QString();
}

QString ImageLevels::cacheFolder() { return usableCacheFolder(); }

ref_ptr<IZimImage> ImageLevels::takeJob(int index, const PhotoKey& key)
{
    const auto it = m_jobs.find(index);
    if (it == m_jobs.end()) return nullptr;
    const std::shared_ptr<ReducedJob> job = it.value();
    m_jobs.erase(it);
    int expected = ReducedJob::Queued;
    if (job->state.compare_exchange_strong(expected, ReducedJob::Claimed) || expected == ReducedJob::Claimed)
        return nullptr;  // not started: the caller makes it now
    // Running: rather than wait idle, make the next queued levels on this thread meanwhile.
    while (job->state.load() != ReducedJob::Done && helpOnce()) {
    }
    QMutexLocker lock(&job->mutex);
    while (job->state.load() != ReducedJob::Done) job->finished.wait(&job->mutex);
    // The photo may have changed since the job was queued: then its result is stale.
    return job->key == key ? job->result : ref_ptr<IZimImage>();
}

bool ImageLevels::helpOnce()
{
    while (!m_queue.isEmpty()) {
        const int next = m_queue.takeFirst();
        const auto it = m_jobs.find(next);
        if (it == m_jobs.end()) continue;
        const std::shared_ptr<ReducedJob> job = it.value();
        int expected = ReducedJob::Queued;
        if (!job->state.compare_exchange_strong(expected, ReducedJob::Claimed)) continue;  // a worker has it
        m_jobs.erase(it);
        QString error;
        bool hit = false;
        const ref_ptr<IZimImage> image = makeReducedLevel(job->key, job->folder, &error, &hit);
        if (image) m_reduced.insert(next, Held{job->key, image});
        return true;
    }
    return false;
}

ref_ptr<IZimImage> ImageLevels::reduced(int index, const QString& photoPath, QString* error)
{
    const PhotoKey key = photoKey(photoPath);
    const auto held = m_reduced.constFind(index);
    if (held != m_reduced.constEnd() && held->key == key) return held->image;
    ref_ptr<IZimImage> image = takeJob(index, key);
    if (!image) {
        bool hit = false;
        image = makeReducedLevel(key, usableCacheFolder(), error, &hit);
    }
    if (image)
        m_reduced.insert(index, Held{key, image});
    else
        m_reduced.remove(index);
    return image;
}

ref_ptr<IZimImage> ImageLevels::full(int index, const QString& photoPath, QString* error)
{
    const PhotoKey key = photoKey(photoPath);
    for (int i = 0; i < m_full.size(); ++i) {
        if (m_full[i].first != index) continue;
        if (m_full[i].second.key == key) {
            m_full.move(i, 0);
            return m_full[0].second.image;
        }
        m_full.removeAt(i);
        break;
    }
    if (!key.exists) {
        *error = missingPhoto(photoPath);
        return nullptr;
    }
    ref_ptr<IZimImage> image = newZimImage();
    // Beyond what viewing needs a photograph is decoded reduced; its coordinates stay those of
    // the full photograph (imageFullSize).
    if (image->imageLoadScaled(photoPath, kFullPhotoSide) != 0) {
        *error = image->imageLastError();
        return nullptr;
    }
    const QSize fullSize = image->imageFullSize();
    if (fullSize.isValid())
        qWarning().noquote() << tr("the photo %1 of %2 x %3 is decoded at %4 x %5, as much as viewing it needs")
                                    .arg(QDir::toNativeSeparators(photoPath))
                                    .arg(fullSize.width())
                                    .arg(fullSize.height())
                                    .arg(image->imageWidth())
                                    .arg(image->imageHeight());
    m_full.prepend(qMakePair(index, Held{key, image}));
    trimFull();
    return image;
}

void ImageLevels::trimFull()
{
    // Keep the pinned picture and the kFullKept most recently used others.
    int others = 0;
    for (int i = 0; i < m_full.size();) {
        if (m_full[i].first != m_pinned && ++others > kFullKept)
            m_full.removeAt(i);
        else
            ++i;
    }
}

void ImageLevels::pin(int index)
{
    if (m_pinned == index) return;
    m_pinned = index;
    trimFull();
}

void ImageLevels::setPrefetch(bool enabled)
{
    m_prefetch = enabled;
    if (enabled) return;
    m_queue.clear();
    // Work not started yet is dropped; running work finishes and is kept.
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        int expected = ReducedJob::Queued;
        if (it.value()->state.compare_exchange_strong(expected, ReducedJob::Claimed))
            it = m_jobs.erase(it);
        else
            ++it;
    }
}

void ImageLevels::schedule(int index, const QString& photoPath)
{
    if (!m_prefetch || m_reduced.contains(index) || m_jobs.contains(index)) return;
    const QString folder = usableCacheFolder();
    auto job = std::make_shared<ReducedJob>();
    job->key = photoKey(photoPath);
    if (!job->key.exists) return;
    job->folder = folder;
    m_jobs.insert(index, job);
    m_queue.append(index);
    auto* runner = new ReducedRunner(job);
    runner->setAutoDelete(true);
    m_pool.start(runner);
}

void ImageLevels::harvest()
{
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if (it.value()->state.load() != ReducedJob::Done) {
            ++it;
            continue;
        }
        const int index = it.key();
        const std::shared_ptr<ReducedJob> job = it.value();
        it = m_jobs.erase(it);
        ref_ptr<IZimImage> image;
        {
            QMutexLocker lock(&job->mutex);
            image = job->result;
        }
        if (image && photoKey(job->key.path) == job->key) m_reduced.insert(index, Held{job->key, image});
    }
}

void ImageLevels::waitForPrefetch()
{
    m_pool.waitForDone();
    harvest();
}

void ImageLevels::cancel()
{
    for (const auto& job : qAsConst(m_jobs)) {
        int expected = ReducedJob::Queued;
        job->state.compare_exchange_strong(expected, ReducedJob::Claimed);
    }
    m_pool.waitForDone();
    m_jobs.clear();
    m_queue.clear();
}

void ImageLevels::release()
{
    m_reduced.clear();
    m_full.clear();
}

void ImageLevels::prune(const QList<PhotoKey>& photos)
{
    if (m_folder.isEmpty() || usableCacheFolder() != m_folder) return;
    QSet<QString> keep;
    for (const PhotoKey& key : photos)
        if (key.exists) keep.insert(reducedCacheName(key));
    static const QRegularExpression ours(QStringLiteral("^([0-9a-f]{40}-\\d+-\\d+)\\.(jpg|png)(\\..+)?$"));
    QDir dir(m_folder);
    for (const QString& name : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch m = ours.match(name);
        // Leftovers of an interrupted write (a suffix after the extension) go as well.
        if (m.hasMatch() && (!keep.contains(m.captured(1)) || !m.captured(3).isEmpty())) dir.remove(name);
    }
}

}  // namespace kernel
}  // namespace zim
