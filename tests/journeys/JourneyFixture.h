// The start every journey shares: a small sample project in the journey's own folder
// (build/journeys/<journey>/), an X server with a window manager, and the host started on the
// project with its panes found on the screen.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include "JourneyDesktop.h"
#include "JourneyImage.h"

namespace journey {

inline const QString kTitle = QStringLiteral("OrvUIElements");
inline const QSize kScreen(1600, 1000);

inline QString hostProgram() { return QStringLiteral(JOURNEY_BIN_DIR "/orvhost"); }
inline QString sampleProgram() { return QStringLiteral(JOURNEY_BIN_DIR "/orv-sample"); }

class HostJourney : public ::testing::Test {
protected:
    // What orv-sample is asked for besides --out and --quiet: four small tiles by default.
    virtual QStringList sampleOptions() const;

    void SetUp() override;
    void TearDown() override { m_desktop.stop(); }

    // Starts the host on `args`, waits for its maximised window and for the views to settle,
    // and finds the panes. The picture it ends with is returned.
    QImage openHost(const QStringList& args, const QString& shotName = QStringLiteral("opened"));
    QImage openSample() { return openHost({m_project}); }

    // Waits up to `timeoutMs` for `region` to differ from `reference` in at least `share` of its
    // pixels; returns the last picture of the screen (saved under `name`).
    QImage waitForChange(const QImage& reference, const QRect& region, double share, const QString& name,
                         int timeoutMs = 6000, bool* changed = nullptr);

    Desktop m_desktop;
    QString m_window;  // the host's main window
    HostLayout m_layout;
    QString m_dir;
    QString m_sample;
    QString m_project;
};

}  // namespace journey
