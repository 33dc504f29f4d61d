// Nested progress ranges and the progress dialog they drive.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "OrvProgress.h"

using namespace orvUI;

namespace {

TEST(ProgressRanges, NestedRangesMapOntoTheWhole)
{
    ProgressRanges r;
    r.push(0.5);
    EXPECT_EQ(r.step(0.5), 25);
    EXPECT_TRUE(r.pop());
    EXPECT_EQ(r.step(0.5), 50);
    EXPECT_EQ(r.percent(), 75);

    // Movements below one percent accumulate until they cross one.
    ProgressRanges small;
    EXPECT_EQ(small.step(0.004), 0);
    EXPECT_EQ(small.step(0.004), 0);
    EXPECT_EQ(small.step(0.004), 1);
}

TEST(ProgressRanges, ItemStepsOfABatchEndAtExactlyOneHundred)
{
    // The batch pattern: a first step of 0.01, then a sub-range of 0.99 with one step per item.
    for (int count = 1; count <= 300; ++count) {
        ProgressRanges r;
        int moved = r.step(0.01);
        r.push(0.99);
        for (int i = 0; i < count; ++i) moved += r.step(1.0 / count);
        r.pop();
        EXPECT_EQ(r.percent(), 100) << count << " items";
        EXPECT_EQ(moved, 100) << count << " items";
    }
    // Three levels deep.
    ProgressRanges deep;
    for (int a = 0; a < 3; ++a) {
        deep.push(1.0 / 3);
        for (int b = 0; b < 7; ++b) {
            deep.push(1.0 / 7);
            for (int c = 0; c < 11; ++c) deep.step(1.0 / 11);
            deep.pop();
        }
        deep.pop();
    }
    EXPECT_EQ(deep.percent(), 100);
    EXPECT_EQ(deep.depth(), 1);
}

TEST(ProgressRanges, APopTooManyKeepsTheWholeRange)
{
    ProgressRanges r;
    EXPECT_FALSE(r.pop());
    EXPECT_EQ(r.depth(), 1);
    r.push(0.5);
    EXPECT_TRUE(r.pop());
    EXPECT_FALSE(r.pop());
    EXPECT_EQ(r.depth(), 1);
    EXPECT_DOUBLE_EQ(r.scale(), 1.0);
    r.push(0.2);
    EXPECT_EQ(r.step(1.0), 20);
    EXPECT_DOUBLE_EQ(r.done(), 0.2);
}

QProgressBar* barOf(CProgressImp& progress) { return progress.dialog()->findChild<QProgressBar*>(); }

TEST(ProgressDialog, StepsTextAndCapping)
{
    CProgressImp progress(nullptr);
    CZimProgressDlg* dialog = progress.dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), "Please Wait");
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->value(), 0);

    progress.progressText("Loading meshes");
    progress.progressText("");
    progress.progressText(QString());
    EXPECT_EQ(dialog->labelText(), "Loading meshes");

    progress.progressPush(0.5);
    progress.progressStep(0.5);
    EXPECT_EQ(dialog->value(), 25);
    progress.progressPop();
    progress.progressPop();  // one too many: the whole range stays
    progress.progressStep(0.5);
    EXPECT_EQ(dialog->value(), 75);
    progress.progressStep(2.0);
    EXPECT_EQ(dialog->value(), 100);
    EXPECT_TRUE(dialog->isVisible());  // the dialog stays until its owner is done
}

TEST(ProgressDialog, EventsRunWhileTheBarMoves)
{
    CProgressImp progress(nullptr);
    bool delivered = false;
    QTimer::singleShot(0, [&] { delivered = true; });
    progress.progressStep(0.001);  // below one percent: no repaint, no event processing
    EXPECT_FALSE(delivered);
    progress.progressStep(0.02);
    EXPECT_TRUE(delivered);

    delivered = false;
    QTimer::singleShot(0, [&] { delivered = true; });
    EXPECT_EQ(progress.progressYield(), 1);
    EXPECT_TRUE(delivered);
}

TEST(ProgressDialog, CancelButtonOnlyWhenAskedFor)
{
    CProgressImp plain(nullptr);
    EXPECT_EQ(plain.dialog()->findChild<QPushButton*>(), nullptr);
    EXPECT_FALSE(plain.progressCanceled());

    CProgressImp cancelable(nullptr);
    cancelable.progressSetCancelable(true, new ZimReferenced());
    auto* button = cancelable.dialog()->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Cancel");
    EXPECT_FALSE(cancelable.progressCanceled());
    button->click();
    EXPECT_TRUE(cancelable.progressCanceled());
}

TEST(ProgressDialog, DestructionFillsTheBarBeforeClosing)
{
    int last = -1;
    {
        CProgressImp progress(nullptr);
        QObject::connect(barOf(progress), &QProgressBar::valueChanged, [&](int v) { last = v; });
        progress.progressStep(0.4);
        EXPECT_EQ(last, 40);
    }
    EXPECT_EQ(last, 100);
}

TEST(ProgressDialog, SurvivesItsParentWindow)
{
    auto parent = std::make_unique<QWidget>();
    parent->show();
    CProgressImp progress(parent.get());
    EXPECT_EQ(progress.dialog()->parentWidget(), parent.get());
    parent.reset();  // the dialog goes with the window
    EXPECT_EQ(progress.dialog(), nullptr);
    EXPECT_EQ(progress.progressStep(0.5), 0);
    EXPECT_EQ(progress.progressText("still fine"), 0);
    EXPECT_FALSE(progress.progressCanceled());
}

TEST(ProgressDialog, DialogSettersWorkOnThePercentScale)
{
    CZimProgressDlg dialog;
    dialog.setProgressValue(42);
    EXPECT_EQ(dialog.value(), 42);
    dialog.addSteps(10);
    EXPECT_EQ(dialog.value(), 52);
    dialog.addSteps(-5);
    EXPECT_EQ(dialog.value(), 52);
    dialog.addSteps(80);
    EXPECT_EQ(dialog.value(), 100);
    dialog.setRawValue(7);
    EXPECT_EQ(dialog.value(), 7);
    EXPECT_EQ(dialog.setLabel("phase two"), 0);
    EXPECT_EQ(dialog.labelText(), "phase two");
}

}  // namespace
