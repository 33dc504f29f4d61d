// The viewer manager without a main frame, the key mapping, point dumps and the file dialogs.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <bitset>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "COrvViewerMan.h"
#include "OrvFrameLink.h"
#include "OrvItemMenu.h"
#include "OrvKeyMapping.h"
#include "OrvUIElements64t.h"
#include "TestSupport.h"

using namespace orvUI;

namespace {

// ---- key mapping -----------------------------------------------------------------------------

const Qt::KeyboardModifier kModifiers[] = {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier,
                                           Qt::KeypadModifier};
const Qt::MouseButton kButtons[] = {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton, Qt::BackButton};

constexpr std::uint32_t kButtonBits = 0x1 | 0x2 | 0x4;
constexpr std::uint32_t kModifierBits = 0x10000000 | 0x20000000 | 0x40000000;

TEST(KeyMapping, EveryModifierAndButtonCombination)
{
    for (unsigned m = 0; m < 32; ++m) {
        Qt::KeyboardModifiers modifiers;
        for (int i = 0; i < 5; ++i)
            if (m & (1u << i)) modifiers |= kModifiers[i];
        ZimKey expected = ZimKeyNone;
        if (m == 1) expected = ZimKeyShift;
        if (m == 2) expected = ZimKeyCtrl;
        if (m == 4) expected = ZimKeyAlt;
        EXPECT_EQ(modifierFlag(modifiers), expected) << "modifiers " << m;

        for (unsigned b = 0; b < 16; ++b) {
            Qt::MouseButtons buttons;
            for (int i = 0; i < 4; ++i)
                if (b & (1u << i)) buttons |= kButtons[i];
            const std::uint32_t flag = buttonFlag(buttons) | modifierFlag(modifiers);
            EXPECT_LE(std::bitset<32>(flag & kButtonBits).count(), 1u);
            EXPECT_LE(std::bitset<32>(flag & kModifierBits).count(), 1u);
            EXPECT_EQ(flag & ~(kButtonBits | kModifierBits), 0u);
            std::uint32_t button = 0;
            if (b & 1) button = ZimKeyLButton;
            if (b & 4) button = ZimKeyMButton;  // middle beats left
            if (b & 2) button = ZimKeyRButton;  // right beats both
            EXPECT_EQ(flag & kButtonBits, button) << "buttons " << b;
        }
    }
}

TEST(KeyMapping, ModifierKeysReportThemselves)
{
    // The key's own flag wins over the held state, whatever that is.
    EXPECT_EQ(keyFlag(Qt::NoModifier, Qt::Key_Shift), ZimKeyShift);
    EXPECT_EQ(keyFlag(Qt::ControlModifier, Qt::Key_Alt), ZimKeyAlt);
    EXPECT_EQ(keyFlag(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Control), ZimKeyCtrl);
    // Other keys give the state's flag.
    EXPECT_EQ(keyFlag(Qt::ControlModifier, Qt::Key_A), ZimKeyCtrl);
    EXPECT_EQ(keyFlag(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_A), ZimKeyNone);
    EXPECT_EQ(keyFlag(Qt::MetaModifier, Qt::Key_Meta), ZimKeyNone);
}

TEST(KeyMapping, EventFunctionsReadTheButtonsHeldAndIgnoreTheEventModifiers)
{
    // No key is held under the test's display; the event's own modifier field is not read.
    ASSERT_EQ(QGuiApplication::keyboardModifiers(), Qt::NoModifier);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 4), Qt::LeftButton, Qt::LeftButton | Qt::RightButton,
                      Qt::ShiftModifier);
    EXPECT_EQ(getQtFlag(&press), ZimKeyRButton);
    // The release of the only held button carries no button.
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 4), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(getQtFlag(&release), ZimKeyNone);
    EXPECT_EQ(getQtFlag(static_cast<QMouseEvent*>(nullptr)), ZimKeyNone);

    QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(getKeyFlag(&shift), ZimKeyShift);
    EXPECT_EQ(getQtFlag(&shift), ZimKeyNone);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(getKeyFlag(&letter), ZimKeyNone);
    EXPECT_EQ(getKeyFlag(nullptr), ZimKeyNone);
}

// ---- viewer manager --------------------------------------------------------------------------

ref_ptr<COrvViewerMan> newManager() { return ref_ptr<COrvViewerMan>(new COrvViewerMan()); }

class LoggingStep : public IZimUndoStep {
public:
    LoggingStep(std::string name, std::vector<std::string>* log, int* alive)
        : m_name(std::move(name)), m_log(log), m_alive(alive)
    {
        ++*m_alive;
    }
    int undo() override
    {
        m_log->push_back("u" + m_name);
        return 0;
    }
    int redo() override
    {
        m_log->push_back("r" + m_name);
        return 0;
    }

protected:
    ~LoggingStep() override { --*m_alive; }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
    int* m_alive;
};

TEST(ViewerMan, UndoKeepsTheNewestTwentyAndRedoReplaysInOrder)
{
    std::vector<std::string> log;
    int alive = 0;
    {
        ref_ptr<COrvViewerMan> vm = newManager();
        EXPECT_EQ(vm->undo(), 1);
        EXPECT_EQ(vm->redo(), 1);
        for (int i = 1; i <= 21; ++i) vm->pushUndo(new LoggingStep(std::to_string(i), &log, &alive));
        EXPECT_EQ(alive, 20);  // the first step was dropped and released
        for (int i = 0; i < 20; ++i) EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(vm->undo(), 1);
        ASSERT_EQ(log.size(), 20u);
        EXPECT_EQ(log.front(), "u21");
        EXPECT_EQ(log.back(), "u2");
        EXPECT_FALSE(vm->canUndo());
        EXPECT_TRUE(vm->canRedo());

        log.clear();
        EXPECT_EQ(vm->redo(), 0);
        EXPECT_EQ(vm->redo(), 0);
        EXPECT_EQ(log, (std::vector<std::string>{"r2", "r3"}));
        EXPECT_TRUE(vm->canUndo());

        // A new step empties the redo stack.
        vm->pushUndo(new LoggingStep("new", &log, &alive));
        EXPECT_FALSE(vm->canRedo());
        EXPECT_EQ(vm->redo(), 1);
        EXPECT_EQ(alive, 3);
        log.clear();
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(log, (std::vector<std::string>{"unew", "u3"}));

        vm->clearUndo();
        EXPECT_FALSE(vm->canUndo());
        EXPECT_FALSE(vm->canRedo());
        EXPECT_EQ(alive, 0);
    }
}

// A step that reaches the manager while it runs: on undo, on redo or both it pushes a step of
// its own, clears the stacks or resets the views.
class ReentrantStep : public IZimUndoStep {
public:
    enum Action { Push, Clear, Reset };
    ReentrantStep(COrvViewerMan* vm, Action action, bool onUndo, bool onRedo, std::vector<std::string>* log, int* alive)
        : m_vm(vm), m_action(action), m_onUndo(onUndo), m_onRedo(onRedo), m_log(log), m_alive(alive)
    {
        ++*m_alive;
    }
    int undo() override
    {
        m_log->push_back("uS");
        if (m_onUndo) act("U");
        return 0;
    }
    int redo() override
    {
        m_log->push_back("rS");
        if (m_onRedo) act("R");
        return 0;
    }

protected:
    ~ReentrantStep() override { --*m_alive; }

private:
    void act(const std::string& name)
    {
        switch (m_action) {
            case Push:
                m_vm->pushUndo(new LoggingStep(name, m_log, m_alive));
                break;
            case Clear:
                m_vm->clearUndo();
                break;
            case Reset:
                m_vm->resetViews();
                break;
        }
    }
    COrvViewerMan* m_vm;
    Action m_action;
    bool m_onUndo, m_onRedo;
    std::vector<std::string>* m_log;
    int* m_alive;
};

TEST(ViewerMan, StepsThatReenterTheManagerLeaveConsistentStacks)
{
    std::vector<std::string> log;
    int alive = 0;
    {
        ref_ptr<COrvViewerMan> vm = newManager();
        // Undo pushes: the pushed step is the newest action; nothing is left to redo.
        vm->pushUndo(new LoggingStep("A", &log, &alive));
        vm->pushUndo(new ReentrantStep(vm.get(), ReentrantStep::Push, true, false, &log, &alive));
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_FALSE(vm->canRedo());
        EXPECT_EQ(vm->redo(), 1);
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(vm->undo(), 1);
        EXPECT_EQ(log, (std::vector<std::string>{"uS", "uU", "uA"}));
        EXPECT_EQ(alive, 2);  // U and A wait on the redo stack; S is gone

        // Redo pushes: both the pushed step and the redone one can be undone afterwards.
        vm->clearUndo();
        log.clear();
        vm->pushUndo(new ReentrantStep(vm.get(), ReentrantStep::Push, false, true, &log, &alive));
        EXPECT_EQ(vm->undo(), 0);
        ASSERT_TRUE(vm->canRedo());
        EXPECT_EQ(vm->redo(), 0);
        EXPECT_FALSE(vm->canRedo());
        EXPECT_EQ(vm->redo(), 1);
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(vm->undo(), 0);
        EXPECT_EQ(vm->undo(), 1);
        EXPECT_EQ(log, (std::vector<std::string>{"uS", "rS", "uS", "uR"}));

        // Clearing or resetting during undo or redo forgets the whole history, the running step
        // included, and the step itself lives until it has returned.
        for (ReentrantStep::Action action : {ReentrantStep::Clear, ReentrantStep::Reset}) {
            vm->clearUndo();
            EXPECT_EQ(alive, 0);
            log.clear();
            vm->pushUndo(new LoggingStep("A", &log, &alive));
            vm->pushUndo(new ReentrantStep(vm.get(), action, true, true, &log, &alive));
            EXPECT_EQ(vm->undo(), 0);
            EXPECT_FALSE(vm->canUndo());
            EXPECT_FALSE(vm->canRedo());
            EXPECT_EQ(alive, 0);

            vm->pushUndo(new ReentrantStep(vm.get(), action, false, true, &log, &alive));
            vm->pushUndo(new LoggingStep("B", &log, &alive));
            EXPECT_EQ(vm->undo(), 0);
            EXPECT_EQ(vm->undo(), 0);
            EXPECT_EQ(vm->redo(), 0);
            EXPECT_FALSE(vm->canUndo());
            EXPECT_FALSE(vm->canRedo());
            EXPECT_EQ(vm->redo(), 1);
            EXPECT_EQ(log, (std::vector<std::string>{"uS", "uB", "uS", "rS"}));
            EXPECT_EQ(alive, 0);
        }
    }
    EXPECT_EQ(alive, 0);
}

class Counted : public ZimReferenced {
public:
    explicit Counted(int* alive) : m_alive(alive) { ++*m_alive; }

protected:
    ~Counted() override { --*m_alive; }

private:
    int* m_alive;
};

TEST(ViewerMan, RegistryIdsAndReferences)
{
    int alive = 0;
    ref_ptr<COrvViewerMan> vm = newManager();
    EXPECT_EQ(vm->removeObject(new Counted(&alive)), 1);
    EXPECT_EQ(vm->removeObjectById(0), 1);
    EXPECT_EQ(alive, 0);

    ref_ptr<ZimReferenced> a = new Counted(&alive);
    EXPECT_EQ(vm->addObject(a), 0);
    EXPECT_EQ(vm->addObject(a), -1);
    EXPECT_EQ(vm->addObject(ref_ptr<ZimReferenced>()), -2);
    EXPECT_EQ(vm->addObject(new Counted(&alive)), 1);
    EXPECT_EQ(vm->addObject(new Counted(&alive)), 2);
    EXPECT_EQ(alive, 3);

    EXPECT_EQ(vm->removeObjectById(1), 0);
    EXPECT_EQ(alive, 2);  // the registry held the only reference
    EXPECT_EQ(vm->addObject(new Counted(&alive)), 3);
    ref_ptr<LongArray> ids = vm->getObjectIds();
    ASSERT_EQ(ids->count(), 3);
    EXPECT_EQ(ids->at(0), 0);
    EXPECT_EQ(ids->at(1), 2);
    EXPECT_EQ(ids->at(2), 3);
    EXPECT_EQ(vm->getObjectCount(), 3u);
    EXPECT_EQ(vm->getObject(0).get(), a.get());
    EXPECT_FALSE(vm->getObject(1));

    // Removing by identity; removing the highest id lets it be given again.
    EXPECT_EQ(vm->removeObject(a), 0);
    EXPECT_EQ(vm->removeObjectById(3), 0);
    EXPECT_EQ(vm->addObject(new Counted(&alive)), 3);
    EXPECT_EQ(vm->addObject(a), 4);
    vm = nullptr;
    EXPECT_EQ(alive, 1);  // only the test's own reference is left
}

class ScriptedTool : public IZimTool {
public:
    int endResult = 0;
    int begins = 0, ends = 0, notifies = 0;
    bool* destroyed = nullptr;

    int beginTool() override { return ++begins, 0; }
    int endTool() override { return ++ends, endResult; }
    bool isDrawSuppressed() override { return false; }
    int drawTool(int) override { return 0; }
    int onMouseDoubleClick(int, ZimKey, int, int) override { return ZimToolNotHandled; }
    int onMousePress(int, ZimKey, int, int) override { return 0; }
    int onMouseRelease(int, ZimKey, int, int) override { return 0; }
    int onMouseMove(int, ZimKey, int, int) override { return 0; }
    int onWheel(int, ZimKey, short, int, int) override { return 0; }
    int onRightClick(int, ZimKey, int, int) override { return 0; }
    int onKeyPress(int, int, int, ZimKey) override { return 0; }
    int onKeyRelease(int, int, int, ZimKey) override { return 0; }
    int setActiveView(int) override { return 0; }
    int notifyTool() override { return ++notifies, 0; }

protected:
    ~ScriptedTool() override
    {
        if (destroyed) *destroyed = true;
    }
};

class ViewerManProject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        mm = zim::getMM();
        ASSERT_EQ(mm->createProject(dir.filePath("tools.orvproj")), 0) << mm->lastError().toStdString();
    }
    void TearDown() override { mm->closeProject(); }

    QTemporaryDir dir;
    ref_ptr<IZimMM> mm;
};

TEST(ViewerMan, NoToolWithoutAProject)
{
    ASSERT_FALSE(zim::getMM()->isProjectOpen());
    ref_ptr<COrvViewerMan> vm = newManager();
    ref_ptr<ScriptedTool> tool = new ScriptedTool();
    EXPECT_EQ(vm->setCurTool(tool), -8170);
    EXPECT_EQ(tool->begins, 0);
    EXPECT_EQ(vm->getCurTool(), nullptr);
    EXPECT_EQ(vm->endCurTool(), 0);
    EXPECT_EQ(vm->notifyCurTool(), 0);
    EXPECT_EQ(vm->resetModelItems(), -1);
}

TEST_F(ViewerManProject, ToolLifeCycle)
{
    ref_ptr<COrvViewerMan> vm = newManager();
    bool firstGone = false;
    ref_ptr<ScriptedTool> first = new ScriptedTool();
    first->destroyed = &firstGone;
    ref_ptr<ScriptedTool> second = new ScriptedTool();

    EXPECT_EQ(vm->setCurTool(first), 0);
    EXPECT_EQ(first->begins, 1);
    EXPECT_EQ(vm->getCurTool(), first.get());
    EXPECT_EQ(vm->notifyCurTool(), 1);
    EXPECT_EQ(first->notifies, 1);

    // A tool that refuses to end stays current, whoever asks.
    first->endResult = ZimToolRefusesEnd;
    EXPECT_EQ(vm->setCurTool(second), ZimToolRefusesEnd);
    EXPECT_EQ(second->begins, 0);
    EXPECT_EQ(vm->endCurTool(), ZimToolRefusesEnd);
    EXPECT_EQ(vm->setCurTool(nullptr), ZimToolRefusesEnd);
    EXPECT_EQ(vm->getCurTool(), first.get());

    first->endResult = 0;
    EXPECT_EQ(vm->setCurTool(second), 0);
    EXPECT_EQ(second->begins, 1);
    EXPECT_EQ(vm->getCurTool(), second.get());
    first = nullptr;
    EXPECT_TRUE(firstGone);  // the manager let go of the old tool

    // An empty tool ends the current one.
    EXPECT_EQ(vm->setCurTool(nullptr), 0);
    EXPECT_EQ(second->ends, 1);
    EXPECT_EQ(vm->getCurTool(), nullptr);

    EXPECT_EQ(vm->resetModelItems(), 0);
}

TEST_F(ViewerManProject, ResetViewsEndsTheToolAndEmptiesTheStacks)
{
    ref_ptr<COrvViewerMan> vm = newManager();
    ref_ptr<ScriptedTool> tool = new ScriptedTool();
    int alive = 0;
    std::vector<std::string> log;
    ASSERT_EQ(vm->setCurTool(tool), 0);
    vm->pushUndo(new LoggingStep("a", &log, &alive));
    vm->addObject(new Counted(&alive));
    EXPECT_EQ(vm->resetViews(), 0);
    EXPECT_EQ(tool->ends, 2);  // once directly, once through setCurTool
    EXPECT_EQ(vm->getCurTool(), nullptr);
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(vm->canUndo());
    EXPECT_EQ(vm->getObjectCount(), 0u);
}

TEST(ViewerMan, MissingViewsAnswerQuietly)
{
    // Without a main-window maker no frame can exist.
    const FrameMakers installed = frameMakers();
    frameMakers() = FrameMakers();
    struct Restore {
        FrameMakers makers;
        ~Restore() { frameMakers() = makers; }
    } restore{installed};
    ref_ptr<COrvViewerMan> vm = newManager();
    EXPECT_EQ(vm->createMainFrame(), -1);
    EXPECT_EQ(vm->getMainFrame(), nullptr);
    vm->showMainFrame();
    EXPECT_EQ(vm->update3DViewer(), -1);
    EXPECT_EQ(vm->updateImageViewer(), -1);
    EXPECT_EQ(vm->updateThumbViewer(), -1);
    EXPECT_EQ(vm->updateMeshPanel(), -1);
    EXPECT_EQ(vm->updateAllViewers(), -1);
    EXPECT_EQ(vm->updateViewer(0), -1);
    EXPECT_EQ(vm->updateViewer(2), -1);
    EXPECT_TRUE(vm->isViewerType(1));
    EXPECT_FALSE(vm->isViewerType(2));
    EXPECT_EQ(vm->zoomToBox(Enve3d()), -1);
    EXPECT_EQ(vm->get3DViewer(), nullptr);
    EXPECT_EQ(vm->getImageViewer(), nullptr);
    EXPECT_EQ(vm->getThumbViewer(), nullptr);
    EXPECT_EQ(vm->getMeshPanel(), nullptr);
    EXPECT_EQ(vm->getDockWidget0(), nullptr);
    EXPECT_EQ(vm->getDockWidget3(), nullptr);
    EXPECT_FALSE(vm->isShowMarks(0));
    EXPECT_FALSE(vm->isShowMarks(1));
    vm->setShowMarks(0, true);
    vm->toggleImageViewer();
    EXPECT_FALSE(vm->isImageViewerVisible());
    EXPECT_EQ(vm->getViewerDisplay(0), nullptr);
    EXPECT_EQ(vm->setViewerCursor(0, 1), nullptr);
    EXPECT_EQ(vm->setCursorShapeAll(3), 0);
    EXPECT_FALSE(vm->isCurMeshOnly());
    vm->setCurMeshOnly(true);
    EXPECT_FALSE(vm->isCurMeshOnly());
    EXPECT_FALSE(vm->getFirstPluginObject());
    EXPECT_EQ(vm->createImageTree(), nullptr);
    EXPECT_EQ(vm->resetViews(), 0);
    EXPECT_TRUE(vm->getModelMan());
    EXPECT_TRUE(vm->getTqSetting());
    EXPECT_NE(vm->getTqState(), nullptr);
    EXPECT_EQ(vm->getAppDir(), QCoreApplication::applicationDirPath());
}

// ---- point dumps -----------------------------------------------------------------------------

int openDescriptors() { return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }

QByteArray record(std::uint64_t x, std::uint64_t y, std::uint64_t z)
{
    QByteArray bytes(24, '\0');
    qToLittleEndian(x, bytes.data());
    qToLittleEndian(y, bytes.data() + 8);
    qToLittleEndian(z, bytes.data() + 16);
    return bytes;
}

TEST(PointDump, RecordsByteForByteAndNoDescriptorLeft)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("points.bin");
    const int before = openDescriptors();
    ref_ptr<COrvViewerMan> vm = newManager();

    EXPECT_FALSE(vm->isDumpOpen());
    EXPECT_EQ(vm->getDumpHandle(), -1);
    EXPECT_EQ(vm->dumpPoint(XPnt3d(1, 2, 3)), -1);
    EXPECT_EQ(vm->dumpPoints(ref_ptr<Pnt3dArray>()), -1);

    ASSERT_EQ(vm->openDump(path, false), 0);
    EXPECT_TRUE(vm->isDumpOpen());
    EXPECT_GE(vm->getDumpHandle(), 0);
    EXPECT_EQ(vm->dumpPoint(XPnt3d(1.0, -2.0, 0.5)), 0);
    ref_ptr<Pnt3dArray> points = zim::newPnt3dArray();
    EXPECT_EQ(vm->dumpPoints(points), 0);  // empty array
    points->append(XPnt3d(0.0, 1.0, 2.0));
    points->append(XPnt3d(-0.0, 1e300, 3.0));
    EXPECT_EQ(vm->dumpPoints(points), 0);
    EXPECT_EQ(vm->dumpLineSeg(CZimLineSeg(XPnt3d(4, 4, 4), XPnt3d(-1, -1, -1))), 0);
    EXPECT_EQ(vm->closeDump(), 1);
    EXPECT_FALSE(vm->isDumpOpen());
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(vm->dumpPoint(XPnt3d(9, 9, 9)), -1);
    EXPECT_EQ(vm->closeDump(), 1);

    // IEEE bit patterns written out by hand.
    const std::uint64_t one = 0x3FF0000000000000ull, two = 0x4000000000000000ull;
    const std::uint64_t half = 0x3FE0000000000000ull, zero = 0, negZero = 0x8000000000000000ull;
    const std::uint64_t three = 0x4008000000000000ull, four = 0x4010000000000000ull;
    const std::uint64_t big = 0x7E37E43C8800759Cull;  // 1e300
    QByteArray expected = record(one, two | negZero, half) + record(zero, one, two) + record(negZero, big, three) +
                          record(four, four, four) + record(one | negZero, one | negZero, one | negZero);
    EXPECT_EQ(orvtest::readFile(path), expected);

    // Appending keeps what is there; a folder that does not exist leaves nothing open.
    ASSERT_EQ(vm->openDump(path, true), 0);
    ref_ptr<LineSegArray> segments = zim::newLineSegArray();
    segments->append(CZimLineSeg(XPnt3d(0, 0, 0), XPnt3d(1, 1, 1)));
    EXPECT_EQ(vm->dumpLineSegs(segments), 0);
    EXPECT_EQ(vm->openDump(dir.filePath("missing/points.bin"), false), -1);
    EXPECT_FALSE(vm->isDumpOpen());
    EXPECT_EQ(orvtest::readFile(path).size(), 7 * 24);
    EXPECT_EQ(openDescriptors(), before);

    // A manager that goes away closes its file.
    ASSERT_EQ(vm->openDump(path, true), 0);
    vm = nullptr;
    EXPECT_EQ(openDescriptors(), before);
}

// ---- dialogs ---------------------------------------------------------------------------------

// Runs `inspect` on the modal file dialog once it is up, then closes it with `accept`.
void whenDialogOpens(std::function<void(QFileDialog*)> inspect, bool accept, bool* seen)
{
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            whenDialogOpens(inspect, accept, seen);  // not shown yet
            return;
        }
        *seen = true;
        inspect(dialog);
        QMetaObject::invokeMethod(dialog, accept ? "accept" : "reject");
    });
}

TEST(FileDialogs, CaptionsFiltersAndResults)
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    EXPECT_TRUE(fileDlgXXXFile(false, "*.orvproj", nullptr, QDir::tempPath()).isNull());

    bool seen = false;
    whenDialogOpens(
        [](QFileDialog* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Select Images");
            EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
            EXPECT_EQ(dialog->nameFilters(),
                      QStringList({"Supported Files Types(*.jpg *.bmp *.ptm *.ptml *.tbm)", "JPEG Files (*.jpg)",
                                   "Bitmaps (*.bmp)", "PTM (*.ptm *.ptml)", "TBM (*.tbm)"}));
        },
        false, &seen);
    EXPECT_TRUE(fileDlgImgs().isEmpty());
    EXPECT_TRUE(seen);

    QTemporaryDir dir;
    const QString project = dir.filePath("work.orvproj");
    ASSERT_TRUE(orvtest::writeFile(project, "x"));
    seen = false;
    whenDialogOpens(
        [&](QFileDialog* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Open WorkSpace");
            EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
            EXPECT_EQ(dialog->nameFilters(), QStringList({"Projects (*.orvproj)"}));
            dialog->selectFile(project);
        },
        true, &seen);
    const QString chosen = fileDlgXXXFile(true, "Projects (*.orvproj)", nullptr, dir.path());
    EXPECT_TRUE(seen);
    EXPECT_EQ(QFileInfo(chosen).canonicalFilePath(), QFileInfo(project).canonicalFilePath());
}

TEST(EntryPoints, OneManagerAndOneLanguageIndex)
{
    ref_ptr<IOrvViewerMan> a = getVM();
    ref_ptr<IOrvViewerMan> b = getVM();
    ASSERT_TRUE(a);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_TRUE(a->hasViewerMan());
    EXPECT_EQ(getCurLge(), 0);
    getCurLge() = 3;
    EXPECT_EQ(getCurLge(), 3);
    getCurLge() = 0;
}

}  // namespace

namespace {

QStringList g_menuCalls;
void recordMenuCall(const QString& name, bool checked)
{
    g_menuCalls << name + (checked ? QStringLiteral(" on") : QStringLiteral(" off"));
}

// A command, a separator for the toolbar only, a separator for the menu too, a sub-menu with
// one command, and a command without callback.
QVector<ref_ptr<IOrvActionItem>> menuItems()
{
    _ActionItemInfo_ open;
    open.text = QStringLiteral("Open");
    open.name = QStringLiteral("open___0");
    open.checkable = true;
    open.userData = quint64(reinterpret_cast<quintptr>(&recordMenuCall));
    _ActionItemInfo_ barOnly;
    barOnly.flags = ActionItemSeparator;
    _ActionItemInfo_ everywhere;
    everywhere.flags = ActionItemSeparator | ActionItemInMenu;
    _ActionItemInfo_ sub[1];
    sub[0].text = QStringLiteral("Inner");
    sub[0].name = QStringLiteral("inner___0");
    sub[0].flags = ActionItemLast;
    sub[0].userData = open.userData;
    _ActionItemInfo_ more;
    more.text = QStringLiteral("More");
    more.name = QStringLiteral("more");
    more.subItems = sub;
    _ActionItemInfo_ bare;
    bare.text = QStringLiteral("Bare");
    bare.name = QStringLiteral("bare___0");
    return {newActionItem(open, 0),       newActionItem(barOnly, 1), ref_ptr<IOrvActionItem>(),
            newActionItem(everywhere, 2), newActionItem(more, 3),    newActionItem(bare, 4)};
}

QStringList menuShape(const QMenu& menu)
{
    QStringList shape;
    for (const QAction* a : menu.actions())
        shape << (a->isSeparator() ? QStringLiteral("-")
                  : a->menu()      ? a->text() + QStringLiteral(">")
                                   : a->objectName());
    return shape;
}

}  // namespace

TEST(ItemMenu, SeparatorRulesSubMenusAndCallbacks)
{
    PluginCallbacks always;
    QMenu menu;
    ASSERT_TRUE(appendItemMenu(&menu, menuItems(), {nullptr, nullptr, &always, MenuSeparators::Always}));
    EXPECT_EQ(menuShape(menu), QStringList({"open___0", "-", "-", "More>", "bare___0"}));
    ASSERT_NE(menu.actions()[3]->menu(), nullptr);
    EXPECT_EQ(menuShape(*menu.actions()[3]->menu()), QStringList({"inner___0"}));
    EXPECT_TRUE(menu.actions()[0]->isCheckable());

    // The other rule: a separator meant only for the toolbar adds nothing to a menu.
    PluginCallbacks inMenu;
    QMenu image;
    ASSERT_TRUE(appendItemMenu(&image, menuItems(), {nullptr, nullptr, &inMenu, MenuSeparators::InMenuOnly}));
    EXPECT_EQ(menuShape(image), QStringList({"open___0", "-", "More>", "bare___0"}));

    // Every action's callback is kept under its name, the sub-menu's too; one without a callback
    // runs nothing.
    g_menuCalls.clear();
    EXPECT_TRUE(runPluginCallback(menu.actions()[0], always, true));
    EXPECT_TRUE(runPluginCallback(menu.actions()[3]->menu()->actions()[0], always, false));
    EXPECT_FALSE(runPluginCallback(menu.actions()[4], always, false));
    EXPECT_FALSE(runPluginCallback(nullptr, always, false));
    EXPECT_EQ(g_menuCalls, QStringList({"open___0 on", "inner___0 off"}));

    EXPECT_FALSE(appendItemMenu(nullptr, menuItems(), {}));
    EXPECT_FALSE(appendItemMenu(&menu, {}, {}));
    EXPECT_FALSE(appendItemAction(&menu, ref_ptr<IOrvActionItem>(), {}));
}
