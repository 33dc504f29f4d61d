#include "JourneyFixture.h"

#include <QDir>
#include <QPoint>

#include "JourneyProcess.h"

namespace journey {

QStringList HostJourney::sampleOptions() const
{
    return {QStringLiteral("--tiles"),        QStringLiteral("4"),
            QStringLiteral("--triangles"),    QStringLiteral("4000"),
            QStringLiteral("--photo-size"),   QStringLiteral("800x600"),
            QStringLiteral("--texture-size"), QStringLiteral("256")};
}

void HostJourney::SetUp()
{
    const QStringList missing = Desktop::missingPrograms();
    ASSERT_TRUE(missing.isEmpty()) << "the journeys need these programs (scripts/setup.sh installs them): "
                                   << missing.join(QStringLiteral(", ")).toStdString();
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_dir = QStringLiteral(JOURNEY_OUTPUT_DIR "/%1").arg(QString::fromLatin1(info->name()));
    QDir(m_dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(m_dir));
    m_sample = m_dir + QStringLiteral("/sample");
    const CommandResult sample = runCommand(
        sampleProgram(),
        QStringList{QStringLiteral("--out"), m_sample} + sampleOptions() + QStringList{QStringLiteral("--quiet")},
        QString(), 120000);
    ASSERT_TRUE(sample.ok()) << "orv-sample failed: " << sample.err.toStdString();
    m_project = m_sample + QStringLiteral("/sample.orvproj");
    QString error;
    ASSERT_TRUE(m_desktop.start(m_dir, kScreen, QStringLiteral(JOURNEY_SOURCE_DIR "/openbox-rc.xml"), &error))
        << error.toStdString();
}

QImage HostJourney::openHost(const QStringList& args, const QString& shotName)
{
    QString error;
    if (!m_desktop.startHost(hostProgram(), args, &error)) {
        ADD_FAILURE() << error.toStdString();
        return QImage();
    }
    m_window = m_desktop.waitForMainWindow(kTitle, 60000);
    if (m_window.isEmpty()) {
        ADD_FAILURE() << "the host's window did not come up maximised (see " << m_dir.toStdString() << "/orvhost.log)";
        return QImage();
    }
    // The views are ready once the 3D view shows meshes and nothing moves any more.
    QImage shot;
    const bool drawn = waitUntil(
        [&]() {
            shot = m_desktop.settledScreenshot(shotName, QRect(QPoint(0, 0), kScreen), 8000);
            m_layout = findHostLayout(shot);
            return m_layout.valid() &&
                   shareUnlike(shot, m_layout.view3D.adjusted(4, 4, -4, -4), m_layout.background3D) > 0.001;
        },
        60000, 200);
    if (!drawn)
        ADD_FAILURE() << "the host never showed its 3D view with meshes; last picture in " << m_dir.toStdString();
    return shot;
}

QImage HostJourney::waitForChange(const QImage& reference, const QRect& region, double share, const QString& name,
                                  int timeoutMs, bool* changed)
{
    QImage shot;
    const bool ok = waitUntil(
        [&]() {
            shot = m_desktop.settledScreenshot(name, region, 3000);
            return changedShare(reference, shot, region) >= share;
        },
        timeoutMs, 100);
    if (changed) *changed = ok;
    return shot;
}

}  // namespace journey
