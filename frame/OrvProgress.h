// The progress object that long work reports through: a modal progress dialog over the main
// frame, driven by nested fractional ranges. Events are processed whenever the bar moves, on
// progressYield and in the dialog's value setters, so the window stays alive and the cancel
// button works while the work runs on the GUI thread.
#pragma once

#include <ZimBase64t.h>

#include <QPointer>
#include <QProgressDialog>

#include "ProgressRanges.h"

namespace orvUI {

class CZimProgressDlg : public QProgressDialog {
    Q_OBJECT
public:
    explicit CZimProgressDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    virtual int setLabel(QString text);

    // Value setters over the fixed 0..100 scale, each capped at 100 and followed by event
    // processing.
    void addSteps(int n);
    void setProgressValue(int value);
    void setRawValue(int value);
    void setTitle(const QString& title);

private:
    int percentOf(int value) const;

    const int rangeMin = 0;
    const int rangeMax = 100;
};

class CProgressImp : public IZimProgress {
public:
    explicit CProgressImp(QWidget* parent);
    // Moves the bar to the end of the whole, then closes the dialog.
    ~CProgressImp() override;
    CProgressImp(const CProgressImp&) = delete;
    CProgressImp& operator=(const CProgressImp&) = delete;

    int progressPush(double fraction) override;
    int progressPop() override;
    int progressText(QString text) override;
    int progressStep(double fraction) override;
    int progressYield() override;
    int progressSetCancelable(bool cancelable, ref_ptr<ZimReferenced> owner) override;
    bool progressCanceled() override;

    CZimProgressDlg* dialog() const { return m_dialog; }
    const ProgressRanges& ranges() const { return m_ranges; }

private:
    QWidget* m_parent;
    ProgressRanges m_ranges;
    // Guarded: the dialog goes with its parent when the frame is closed before the work ends.
    QPointer<CZimProgressDlg> m_dialog;
};

}  // namespace orvUI
