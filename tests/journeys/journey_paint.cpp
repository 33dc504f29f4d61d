// Journey: painting a photograph onto the textures. Before the host starts, a bold red sign is
// drawn into the middle of a mapped photo of the sample (as if the camera had seen one on the
// wall). The project opens on that photo; it is looked through with Ctrl+L, the overlay taken
// away, then Ctrl+P paints it: the sign shows on the meshes in the 3D view. Ctrl+Z gives the view back as it was,
// Ctrl+Shift+Z paints it again, and Ctrl+S keeps the paint and the working textures in the
// project's data folder while the sample's own texture files stay as they were.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPainter>
#include <ostream>

#include "JourneyFixture.h"
#include "JourneyProcess.h"

namespace {

using namespace journey;

// A mapped photo of the sample (the first, current when the project opens), and the sign drawn
// into it: a share of the photo's width and height around its middle.
const int kPhoto = 0;
const double kSignShare = 0.3;

bool isRed(QRgb c) { return qRed(c) > 150 && qRed(c) - std::max(qGreen(c), qBlue(c)) > 80; }

// The share of the pixels of region that are a strong red.
double redShare(const QImage& image, const QRect& region)
{
    const QRect r = region.intersected(image.rect());
    if (r.isEmpty()) return 0;
    long red = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (isRed(image.pixel(x, y))) ++red;
    return double(red) / (double(r.width()) * r.height());
}

QByteArray fileDigest(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// The digests of the files of a folder by name.
QMap<QString, QByteArray> folderDigests(const QString& folder, const QStringList& patterns)
{
    QMap<QString, QByteArray> out;
    for (const QFileInfo& info : QDir(folder).entryInfoList(patterns, QDir::Files))
        out.insert(info.fileName(), fileDigest(info.absoluteFilePath()));
    return out;
}

class PaintJourney : public HostJourney {
protected:
    // The sign in the photo, before the host reads it. The photo keeps its size, so its camera
    // still fits it.
    bool drawSign(const QString& photoPath)
    {
        QImage photo(photoPath);
        if (photo.isNull()) return false;
        photo = photo.convertToFormat(QImage::Format_RGB32);
        const QSize size(int(photo.width() * kSignShare), int(photo.height() * kSignShare));
        const QRect sign(QPoint((photo.width() - size.width()) / 2, (photo.height() - size.height()) / 2), size);
        QPainter painter(&photo);
        painter.fillRect(sign, QColor(230, 20, 20));
        painter.end();
        return photo.save(photoPath, "JPG", 95);
    }

    // The middle of the 3D view, where the middle of the photo lies when looking through it, and
    // a corner of it far from the sign.
    QRect middle() const
    {
        const QRect v = m_layout.view3D;
        return QRect(v.center() - QPoint(v.width() / 20, v.height() / 20), QSize(v.width() / 10, v.height() / 10));
    }
    QRect inside() const { return m_layout.view3D.adjusted(4, 4, -4, -4); }
};

TEST_F(PaintJourney, PaintUndoRedoAndSave)
{
    const QString photoPath = m_sample + QStringLiteral("/photos/tile_%1.jpg").arg(kPhoto, 3, 10, QLatin1Char('0'));
    ASSERT_TRUE(drawSign(photoPath)) << "cannot draw the sign into " << photoPath.toStdString();
    const QString meshes = m_sample + QStringLiteral("/meshes");
    const QMap<QString, QByteArray> ownTextures = folderDigests(meshes, {QStringLiteral("*.png")});
    ASSERT_FALSE(ownTextures.isEmpty());
    const QString dataFolder = QFileInfo(m_project).absolutePath() + QLatin1Char('/') +
                               QFileInfo(m_project).completeBaseName() + QStringLiteral(".orvdata");
    ASSERT_FALSE(QFileInfo::exists(dataFolder + QStringLiteral("/paints.json")));

    QImage shot = openSample();
    ASSERT_TRUE(m_layout.valid());

    // The first photo of the project is the current one when it opens: the sign shows in the photo
    // view.
    EXPECT_GT(redShare(shot, m_layout.photoView), 0.03) << "the photo view does not show the sign";
    bool changed = false;

    // Ctrl+L looks through the photo; View > Show photo overlay takes the photo away again, so
    // the 3D view shows the textures alone.
    const QImage beforeLook = m_desktop.settledScreenshot(QStringLiteral("before-look"), QRect(QPoint(0, 0), kScreen));
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+l")));
    const QImage looked = waitForChange(beforeLook, inside(), 0.2, QStringLiteral("looked"), 8000, &changed);
    EXPECT_TRUE(changed) << "the 3D view did not change with Ctrl+L";
    EXPECT_GT(redShare(looked, middle()), 0.3) << "the overlay does not show the sign in the middle of the 3D view";
    ASSERT_TRUE(m_desktop.key(QStringLiteral("alt+v")));
    sleepMs(500);
    ASSERT_TRUE(m_desktop.key(QStringLiteral("o")));
    const QImage before = waitForChange(looked, middle(), 0.3, QStringLiteral("before"), 8000, &changed);
    ASSERT_TRUE(changed) << "the overlay did not go away";
    EXPECT_LT(redShare(before, middle()), 0.02) << "the textures are red before anything was painted";
    ASSERT_TRUE(before.copy(m_layout.view3D).save(m_dir + QStringLiteral("/paint-before.png")));

    // Ctrl+P paints the photo: the sign appears on the textures, in the middle of the view where
    // it was in the photo, and nowhere near the view's corners.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+p")));
    const QImage painted = waitForChange(before, middle(), 0.3, QStringLiteral("painted"), 60000, &changed);
    ASSERT_TRUE(changed) << "the 3D view did not change after Ctrl+P";
    const QImage after = m_desktop.settledScreenshot(QStringLiteral("after"), inside());
    EXPECT_GT(redShare(after, middle()), 0.5) << "the painted textures do not show the sign";
    const QRect v = inside();
    const QSize corner(v.width() / 8, v.height() / 8);
    for (const QRect& c :
         {QRect(v.topLeft(), corner), QRect(v.bottomRight() - QPoint(corner.width(), corner.height()), corner)})
        EXPECT_LT(redShare(after, c), 0.02) << "red painted far from the sign";
    ASSERT_TRUE(after.copy(m_layout.view3D).save(m_dir + QStringLiteral("/paint-after.png")));
    // The backup a paint takes first is kept, not yet the textures.
    EXPECT_TRUE(QFileInfo::exists(dataFolder + QStringLiteral("/paints.json")));
    EXPECT_FALSE(QDir(dataFolder + QStringLiteral("/textures")).entryList({QStringLiteral("*.png")}).size() > 0);

    // Ctrl+Z: the textures as they were.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+z")));
    const QImage undone = waitForChange(after, middle(), 0.3, QStringLiteral("undone"), 15000, &changed);
    ASSERT_TRUE(changed) << "Ctrl+Z did not change the 3D view";
    const QImage undoneSettled = m_desktop.settledScreenshot(QStringLiteral("undone-settled"), inside());
    EXPECT_LT(redShare(undoneSettled, middle()), 0.02);
    EXPECT_LT(changedShare(before, undoneSettled, inside(), 8), 0.01)
        << "after Ctrl+Z the 3D view differs from the one before the paint";

    // Ctrl+Shift+Z: painted again.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+shift+z")));
    const QImage redone = waitForChange(undoneSettled, middle(), 0.3, QStringLiteral("redone"), 15000, &changed);
    ASSERT_TRUE(changed) << "Ctrl+Shift+Z did not change the 3D view";
    const QImage redoneSettled = m_desktop.settledScreenshot(QStringLiteral("redone-settled"), inside());
    EXPECT_GT(redShare(redoneSettled, middle()), 0.5);
    EXPECT_LT(changedShare(after, redoneSettled, inside(), 8), 0.01) << "the redone paint looks unlike the paint";

    // Ctrl+S: one paint in the log, the working textures in the data folder, the sample's own
    // textures untouched.
    QFile project(m_project);
    const QByteArray projectBefore = project.open(QIODevice::ReadOnly) ? project.readAll() : QByteArray();
    project.close();
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+s")));
    const QString textures = dataFolder + QStringLiteral("/textures");
    ASSERT_TRUE(waitUntil(
        [&]() {
            QFile f(m_project);
            return f.open(QIODevice::ReadOnly) && f.readAll() != projectBefore &&
                   !QDir(textures).entryList({QStringLiteral("*.png")}, QDir::Files).isEmpty();
        },
        20000))
        << "Ctrl+S wrote no project or no working texture";
    m_desktop.screenshot(QStringLiteral("saved"));
    QFile log(dataFolder + QStringLiteral("/paints.json"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QJsonArray paints = QJsonDocument::fromJson(log.readAll()).object().value(QStringLiteral("paints")).toArray();
    EXPECT_EQ(paints.size(), 1);
    for (const QFileInfo& info : QDir(textures).entryInfoList({QStringLiteral("*.png")}, QDir::Files))
        EXPECT_FALSE(QImage(info.absoluteFilePath()).isNull()) << info.fileName().toStdString();
    EXPECT_EQ(folderDigests(meshes, {QStringLiteral("*.png")}), ownTextures)
        << "the sample's own texture files were written";
    EXPECT_TRUE(QFileInfo(m_project).isFile());

    // Saved: Ctrl+Q closes without a question.
    ASSERT_TRUE(m_desktop.key(QStringLiteral("ctrl+q")));
    ASSERT_TRUE(m_desktop.host().waitExit(15000)) << "the host did not quit after the save";
    EXPECT_EQ(m_desktop.host().exitCode(), 0);
}

}  // namespace
