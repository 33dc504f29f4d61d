#include "OrvProgress.h"

#include <QCoreApplication>
#include <algorithm>

namespace orvUI {

CZimProgressDlg::CZimProgressDlg(QWidget* parent, Qt::WindowFlags flags) : QProgressDialog(parent, flags)
{
    setWindowModality(Qt::WindowModal);
    setMinimumDuration(0);
    setCancelButton(nullptr);
    // The bar stays at 100 until the owner closes the dialog: reaching the end must neither hide
    // it while the last phase still runs nor reset the value under later steps.
    setAutoReset(false);
    setAutoClose(false);
    setWindowTitle(tr("Please Wait"));
    setRange(rangeMin, rangeMax);
    setValue(0);
    QCoreApplication::processEvents();
}

int CZimProgressDlg::setLabel(QString text)
{
    setLabelText(text);
    return 0;
}

int CZimProgressDlg::percentOf(int value) const
{
    return std::min(((value - rangeMin) * 100) / (rangeMax - rangeMin), 100);
}

void CZimProgressDlg::addSteps(int n)
{
    if (n > 0) setValue(percentOf(value() + n));
    QCoreApplication::processEvents();
}

void CZimProgressDlg::setProgressValue(int v)
{
    setValue(percentOf(v));
    QCoreApplication::processEvents();
}

void CZimProgressDlg::setRawValue(int v)
{
    setValue(v);
    QCoreApplication::processEvents();
}

void CZimProgressDlg::setTitle(const QString& title)
{
    setWindowTitle(title);
    QCoreApplication::processEvents();
}

CProgressImp::CProgressImp(QWidget* parent) : m_parent(parent), m_dialog(new CZimProgressDlg(parent))
{
    m_dialog->show();
}

CProgressImp::~CProgressImp()
{
    progressStep(1.0 - m_ranges.done());
    delete m_dialog.data();
}

int CProgressImp::progressPush(double fraction)
{
    m_ranges.push(fraction);
    return 0;
}

int CProgressImp::progressPop()
{
    m_ranges.pop();
    return 0;
}

int CProgressImp::progressText(QString text)
{
    if (m_dialog && !text.isEmpty()) m_dialog->setLabel(text);
    return 0;
}

int CProgressImp::progressStep(double fraction)
{
    const int moved = m_ranges.step(fraction);
    if (moved > 0 && m_dialog) m_dialog->addSteps(moved);
    return 0;
}

int CProgressImp::progressYield()
{
    QCoreApplication::processEvents();
    return 1;
}

int CProgressImp::progressSetCancelable(bool cancelable, ref_ptr<ZimReferenced>)
{
    if (cancelable && m_dialog) m_dialog->setCancelButtonText(CZimProgressDlg::tr("Cancel"));
    return 0;
}

bool CProgressImp::progressCanceled() { return m_dialog && m_dialog->wasCanceled(); }

}  // namespace orvUI
