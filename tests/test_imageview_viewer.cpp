// The image drawer and viewer on a real project: marks as painted, tool dispatch, coordinate
// reports, bad photo files, layers, the plug-in context menu and panning.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "CNormImageDrawer.h"
#include "COrvImageViewer.h"
#include "IOrvDrawLayer.h"
#include "OrvUIElements64t.h"
#include "TestSupport.h"

using namespace orvUI;

namespace {

// ---- test doubles -----------------------------------------------------------------------------

using Log = std::vector<std::string>;

std::string flagText(ZimKey flags)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", unsigned(flags));
    return text;
}

class RecordingTool : public IZimTool {
public:
    explicit RecordingTool(Log* log) : m_log(log) {}
    int beginTool() override { return add("begin"); }
    int endTool() override { return add("end"); }
    bool isDrawSuppressed() override { return false; }
    int drawTool(int view) override { return add("draw " + std::to_string(view)); }
    int onMouseDoubleClick(int v, ZimKey f, int x, int y) override { return event("double", v, f, x, y); }
    int onMousePress(int v, ZimKey f, int x, int y) override { return event("press", v, f, x, y); }
    int onMouseRelease(int v, ZimKey f, int x, int y) override { return event("release", v, f, x, y); }
    int onMouseMove(int v, ZimKey f, int x, int y) override { return event("move", v, f, x, y); }
    int onWheel(int v, ZimKey f, short, int x, int y) override { return event("wheel", v, f, x, y); }
    int onRightClick(int v, ZimKey f, int x, int y) override { return event("right", v, f, x, y); }
    int onKeyPress(int v, int key, int count, ZimKey f) override { return keyEvent("keypress", v, key, count, f); }
    int onKeyRelease(int v, int key, int count, ZimKey f) override { return keyEvent("keyrelease", v, key, count, f); }
    int setActiveView(int view) override { return add("view " + std::to_string(view)); }
    int notifyTool() override { return 0; }

private:
    int add(const std::string& s)
    {
        m_log->push_back(s);
        return 0;
    }
    int event(const char* name, int v, ZimKey f, int x, int y)
    {
        return add(std::string(name) + " " + std::to_string(v) + " " + flagText(f) + " " + std::to_string(x) + " " +
                   std::to_string(y));
    }
    int keyEvent(const char* name, int v, int key, int count, ZimKey f)
    {
        return add(std::string(name) + " " + std::to_string(v) + " " + std::to_string(key) + " " +
                   std::to_string(count) + " " + flagText(f));
    }
    Log* m_log;
};

class CountingLayer : public IOrvDrawLayer {
public:
    int drawLayer(int view, ref_ptr<IZimDisplay> display) override
    {
        views.push_back(display ? -100 : view);
        return 0;
    }
    std::vector<int> views;
};

class Corners : public IOrvRectLayer {
public:
    Corners(XPnt2d a, XPnt2d c) : m_a(a), m_c(c) {}
    int refreshRect() override { return ++refreshed; }
    XPnt2d rectCorner(int index) override
    {
        if (index == 0) return m_a;
        if (index == 2) return m_c;
        return index == 1 ? XPnt2d(m_c.x, m_a.y) : XPnt2d(m_a.x, m_c.y);
    }
    int refreshed = 0;

private:
    XPnt2d m_a, m_c;
};

struct Change {
    int from, to;
};

class Listener : public IOrvCoordListener {
public:
    void onImageCoord(double x, double y) override { coords.push_back(XPnt2d(x, y)); }
    void onImageChanged(const ImageId* oldId, const ImageId* newId) override
    {
        changes.push_back({oldId->index, newId->index});
        if (removeFrom) removeFrom->removeCoordListener(this);
    }
    std::vector<XPnt2d> coords;
    std::vector<Change> changes;
    IOrvImageViewer* removeFrom = nullptr;
};

class Item : public IOrvActionItem {
public:
    Item(QString text, QString name, unsigned flags, quint64 userData = 0,
         QVector<ref_ptr<IOrvActionItem>> children = {})
        : m_text(std::move(text)),
          m_name(std::move(name)),
          m_flags(flags),
          m_user(userData),
          m_children(std::move(children))
    {
    }
    int getKind() const override { return 0; }
    QString getText() const override { return m_text; }
    QString getIcon() const override { return QString(); }
    QString getName() const override { return m_name; }
    QString getToolTip() const override { return m_name + QStringLiteral(" tip"); }
    QString getShortcut() const override { return QString(); }
    void getChildren(QVector<ref_ptr<IOrvActionItem>>& out) const override { out = m_children; }
    bool isCheckable() const override { return checkable; }
    bool isChecked() const override { return checkable; }
    unsigned getFlags() const override { return m_flags; }
    quint64 getUserData() const override { return m_user; }
    bool checkable = false;

private:
    QString m_text, m_name;
    unsigned m_flags;
    quint64 m_user;
    QVector<ref_ptr<IOrvActionItem>> m_children;
};

class Group : public IOrvCommonItem {
public:
    Group(QString name, QVector<ref_ptr<IOrvActionItem>> items) : m_name(std::move(name)), m_items(std::move(items)) {}
    QString getName() const override { return m_name; }
    int getPosition() const override { return 3; }
    void getActionItems(QVector<ref_ptr<IOrvActionItem>>& out) const override { out = m_items; }

private:
    QString m_name;
    QVector<ref_ptr<IOrvActionItem>> m_items;
};

QStringList g_called;
void menuCallback(const QString& name, bool checked)
{
    g_called << name + (checked ? QStringLiteral(" on") : QStringLiteral(" off"));
}

// Answers every warning box that opens while it lives, keeping its text.
class WarningAnswerer {
public:
    WarningAnswerer()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                titles << box->windowTitle();
                buttons << int(box->standardButtons());
                box->done(QMessageBox::Ok);
            }
        });
        m_timer.start();
    }
    QStringList texts, titles;
    QList<int> buttons;

private:
    QTimer m_timer;
};

// Whether a popup menu is open now; closes it.
bool takePopup()
{
    QWidget* popup = QApplication::activePopupWidget();
    if (popup) popup->close();
    return popup != nullptr;
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void sendContextMenu(QWidget* w, QPoint pos)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, w->mapToGlobal(pos));
    QApplication::sendEvent(w, &event);
}

void sendWheel(QWidget* w, QPoint pos, int delta)
{
    QWheelEvent event(QPointF(pos), QPointF(w->mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

enum class Hue { Red, Green, Blue, Yellow, Cyan };

bool hasHue(QRgb p, Hue hue)
{
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    switch (hue) {
        case Hue::Red:
            return r > 180 && g < 70 && b < 70;
        case Hue::Green:
            return g > 180 && r < 70 && b < 70;
        case Hue::Blue:
            return b > 180 && r < 70 && g < 70;
        case Hue::Yellow:
            return r > 180 && g > 180 && b < 70;
        case Hue::Cyan:
            return g > 180 && b > 180 && r < 70;
    }
    return false;
}

int countHue(const QImage& image, const QRect& area, Hue hue)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) n += hasHue(image.pixel(x, y), hue);
    return n;
}

ref_ptr<MarkArray> marks(std::initializer_list<XPnt2d> uvs)
{
    ref_ptr<MarkArray> array(new MarkArray());
    int id = 1;
    for (const XPnt2d& uv : uvs) {
        MarkRecord m;
        m.uv = uv;
        m.id = id++;
        m.point = XPnt3d(1, 2, 3);
        array->append(m);
    }
    return array;
}

// ---- fixture: a project of two photos ---------------------------------------------------------

class ImageViewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path();
        mm = zim::getMM();
        vm = getVM();
        ASSERT_EQ(mm->createProject(path(QStringLiteral("p.orvproj"))), 0) << mm->lastError().toStdString();
        // Image 0: 400 x 400, image 1: 400 x 200, both a flat dark grey.
        ASSERT_EQ(mm->addImage(photo(QStringLiteral("photos/p0.png"), 400, 400), mesh(QStringLiteral("m0")), QString()),
                  0);
        ASSERT_EQ(mm->addImage(photo(QStringLiteral("photos/p1.png"), 400, 200), mesh(QStringLiteral("m1")), QString()),
                  1);
        viewer = std::make_unique<COrvImageViewer>();
        viewer->resize(600, 600);
    }
    void TearDown() override
    {
        viewer.reset();
        vm->setCurTool(nullptr);
        mm->closeProject();
    }

    QString path(const QString& rel) const { return root + QLatin1Char('/') + rel; }
    QString photo(const QString& rel, int w, int h, QColor colour = QColor(90, 90, 90))
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        QDir().mkpath(QFileInfo(path(rel)).absolutePath());
        EXPECT_TRUE(image.save(path(rel)));
        return path(rel);
    }
    QString mesh(const QString& base)
    {
        QDir().mkpath(path(QStringLiteral("meshes")));
        QImage tex(8, 8, QImage::Format_RGB32);
        tex.fill(Qt::red);
        EXPECT_TRUE(tex.save(path(QStringLiteral("meshes/%1.png").arg(base))));
        EXPECT_TRUE(orvtest::writeFile(path(QStringLiteral("meshes/%1.mtl").arg(base)),
                                       QStringLiteral("newmtl m\nKd 1 1 1\nmap_Kd %1.png\n").arg(base).toUtf8()));
        const QString obj = QStringLiteral(
                                "mtllib %1.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
                                "usemtl m\nf 1/1 2/2 3/3\n")
                                .arg(base);
        EXPECT_TRUE(orvtest::writeFile(path(QStringLiteral("meshes/%1.obj").arg(base)), obj.toUtf8()));
        return path(QStringLiteral("meshes/%1.obj").arg(base));
    }
    bool show(int index)
    {
        const ImageId id{index, 2};
        return viewer->setImageId(&id);
    }
    QImage rendered() { return viewer->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    // Where the number of a mark at a normalised point is written: right of and above the point.
    QRect numberArea(const XPnt2d& uv)
    {
        const XPnt2d s = viewer->normalisedToScreen(uv);
        return QRect(int(s.x) + 2, int(s.y) - 26, 26, 24);
    }

    QTemporaryDir tmp;
    QString root;
    ref_ptr<IZimMM> mm;
    ref_ptr<IOrvViewerMan> vm;
    std::unique_ptr<COrvImageViewer> viewer;
    // What tools record; outlives any tool the test leaves current.
    Log log;
};

// ---- painting ---------------------------------------------------------------------------------

TEST_F(ImageViewer, MarksNearAHighlightedPairAreBlueAndFarOnesGreen)
{
    const XPnt2d near(0.25, 0.75), far(0.75, 0.25), pair(0.25, 0.25), track(0.75, 0.75);
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkControl, marks({near, far})), 0);
    // Highlighted pairs 0.0005 from the first mark and 0.002 from the second.
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkSelected, marks({XPnt2d(0.2505, 0.75), XPnt2d(0.752, 0.25)})), 0);
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkPoint, marks({pair})), 0);
    ASSERT_EQ(mm->setImageMarks(0, ZimMarkTrack, marks({track})), 0);
    ASSERT_TRUE(show(0));

    QImage image = rendered();
    EXPECT_GT(countHue(image, numberArea(near), Hue::Blue), 5);
    EXPECT_EQ(countHue(image, numberArea(near), Hue::Green), 0);
    EXPECT_GT(countHue(image, numberArea(far), Hue::Green), 5);
    EXPECT_EQ(countHue(image, numberArea(far), Hue::Blue), 0);
    EXPECT_GT(countHue(image, numberArea(pair), Hue::Yellow), 5);
    EXPECT_GT(countHue(image, numberArea(track), Hue::Cyan), 5);
    // Each mark has its red cross: the horizontal arm runs through the point.
    const XPnt2d s = viewer->normalisedToScreen(near);
    EXPECT_GT(countHue(image, QRect(int(s.x) - 10, int(s.y) - 1, 6, 3), Hue::Red), 4);
    // The red frame around the photo and its number, green, in the bottom-left corner.
    const XPnt2d corner = viewer->normalisedToScreen(XPnt2d(0, 0));
    EXPECT_GT(countHue(image, QRect(int(corner.x) - 4, 250, 4, 100), Hue::Red), 100);
    EXPECT_GT(countHue(image, QRect(int(corner.x), int(corner.y) - 24, 24, 24), Hue::Green), 5);

    viewer->setShowMarks(false);
    image = rendered();
    EXPECT_EQ(countHue(image, numberArea(near), Hue::Blue), 0);
    EXPECT_EQ(countHue(image, numberArea(far), Hue::Green), 0);
    EXPECT_GT(countHue(image, numberArea(pair), Hue::Yellow), 5);
    viewer->setShowPairs(false);
    image = rendered();
    EXPECT_EQ(countHue(image, numberArea(pair), Hue::Yellow), 0);
    EXPECT_GT(countHue(image, numberArea(track), Hue::Cyan), 5);  // tracks always show
}

TEST_F(ImageViewer, LayersRegistryObjectsRectanglesAndTheToolAreDrawnOverThePhoto)
{
    ASSERT_TRUE(show(0));
    ref_ptr<CountingLayer> twice(new CountingLayer());
    EXPECT_EQ(viewer->addDrawLayer(twice), 1);
    EXPECT_EQ(viewer->addDrawLayer(twice), 2);
    // Registry ids with a gap: only id 1 is left after id 0 goes.
    ref_ptr<CountingLayer> gone(new CountingLayer()), kept(new CountingLayer());
    const int goneId = vm->addObject(gone);
    const int keptId = vm->addObject(kept);
    ASSERT_EQ(vm->removeObjectById(goneId), 0);
    ref_ptr<ZimReferenced> plain(new LongArray());
    const int plainId = vm->addObject(plain);  // not a layer: skipped
    // Corner 0 is the lower right one here.
    ref_ptr<Corners> rect(new Corners(XPnt2d(400, 450), XPnt2d(200, 350)));
    EXPECT_EQ(viewer->addRectLayer(rect), 1);
    EXPECT_EQ(viewer->addRectLayer(rect), 1);
    ASSERT_EQ(vm->setCurTool(ref_ptr<IZimTool>(new RecordingTool(&log))), 0);

    const QImage image = rendered();
    EXPECT_EQ(twice->views, std::vector<int>({1, 1}));
    EXPECT_EQ(kept->views, std::vector<int>({1}));
    EXPECT_TRUE(gone->views.empty());
    EXPECT_EQ(rect->refreshed, 1);
    EXPECT_EQ(countHue(image, QRect(199, 360, 3, 80), Hue::Red), 80);   // the left edge
    EXPECT_EQ(countHue(image, QRect(399, 360, 3, 80), Hue::Red), 80);   // the right edge
    EXPECT_EQ(countHue(image, QRect(250, 380, 100, 40), Hue::Red), 0);  // not filled
    EXPECT_NE(std::find(log.begin(), log.end(), "draw 1"), log.end());

    EXPECT_EQ(viewer->removeDrawLayer(twice), 1);
    EXPECT_EQ(viewer->removeRectLayer(rect), 0);
    vm->removeObjectById(keptId);
    vm->removeObjectById(plainId);
}

TEST_F(ImageViewer, PaintingDoesNotAskForEndlessRepaints)
{
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    ASSERT_TRUE(show(0));
    viewer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
    QTest::qWait(100);
    viewer->installEventFilter(&counter);
    QTest::qWait(500);
    EXPECT_LE(counter.paints, 1);
    // A redraw asked for by the viewer manager is one paint later, not a paint outside it.
    viewer->redraw();
    QTest::qWait(200);
    EXPECT_GE(counter.paints, 1);
    EXPECT_LE(counter.paints, 2);
}

// ---- input ------------------------------------------------------------------------------------

TEST_F(ImageViewer, ToolGetsEveryEventAfterSetActiveViewWithYFromTheBottom)
{
    ASSERT_EQ(vm->setCurTool(ref_ptr<IZimTool>(new RecordingTool(&log))), 0);
    log.clear();
    QWidget* w = viewer.get();
    const auto step = [this](const std::function<void()>& action) {
        log.clear();
        action();
        return log;
    };
    using L = Log;
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton, Qt::LeftButton);
              }),
              L({"view 1", "press 1 1 100 550"}));
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseMove, {110, 60}, Qt::NoButton, Qt::LeftButton);
              }),
              L({"view 1", "move 1 1 110 540"}));
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseButtonRelease, {110, 60}, Qt::LeftButton, Qt::NoButton);
              }),
              L({"view 1", "release 1 0 110 540"}));
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseMove, {120, 70}, Qt::NoButton, Qt::NoButton);
              }),
              L({"view 1", "move 1 0 120 530"}));
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseButtonDblClick, {120, 70}, Qt::LeftButton, Qt::LeftButton);
              }),
              L({"view 1", "double 1 0 120 530"}));
    EXPECT_EQ(viewer->cursorPosition(), QPoint(120, 530));

    // The right button: the press is the viewer's, a drag and the release the tool's.
    EXPECT_EQ(step([&] { sendMouse(w, QEvent::MouseButtonPress, {5, 595}, Qt::RightButton, Qt::RightButton); }), L());
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseMove, {6, 595}, Qt::NoButton, Qt::RightButton);
              }),
              L({"view 1", "move 1 2 6 5"}));
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseButtonRelease, {6, 595}, Qt::RightButton, Qt::NoButton);
              }),
              L({"view 1", "right 1 0 6 5"}));

    // Middle button and wheel stay with the viewer.
    EXPECT_EQ(step([&] {
                  sendMouse(w, QEvent::MouseButtonPress, {300, 300}, Qt::MiddleButton, Qt::MiddleButton);
                  sendMouse(w, QEvent::MouseMove, {320, 310}, Qt::NoButton, Qt::MiddleButton);
                  sendMouse(w, QEvent::MouseButtonRelease, {320, 310}, Qt::MiddleButton, Qt::NoButton);
                  sendWheel(w, {300, 300}, 120);
              }),
              L());

    EXPECT_EQ(step([&] { QTest::keyClick(w, Qt::Key_A); }),
              L({"view 1", "keypress 1 65 1 0", "view 1", "keyrelease 1 65 1 0"}));
    // Escape ends the tool first; once it has gone nothing more reaches it.
    EXPECT_EQ(step([&] {
                  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
                  QApplication::sendEvent(w, &release);
              }),
              L({"end"}));
    EXPECT_EQ(vm->getCurTool(), nullptr);
}

TEST_F(ImageViewer, MiddleDragPansAndOnlyTheMiddleButtonDrags)
{
    ASSERT_TRUE(show(1));
    QWidget* w = viewer.get();
    viewer->setCursorShape(1);
    ASSERT_EQ(viewer->cursor().shape(), Qt::CrossCursor);
    // 4 and codes outside the table leave the cursor alone.
    for (int code : {4, 10, -1}) {
        viewer->setCursorShape(code);
        EXPECT_EQ(viewer->cursor().shape(), Qt::CrossCursor) << code;
    }

    const XPnt2d origin = viewer->getOrigin();
    sendMouse(w, QEvent::MouseButtonPress, {300, 300}, Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(viewer->drawer()->isDragging());
    EXPECT_EQ(viewer->cursor().shape(), Qt::CrossCursor);
    sendMouse(w, QEvent::MouseButtonRelease, {300, 300}, Qt::RightButton, Qt::NoButton);

    sendMouse(w, QEvent::MouseButtonPress, {300, 300}, Qt::MiddleButton, Qt::MiddleButton);
    EXPECT_TRUE(viewer->drawer()->isDragging());
    EXPECT_EQ(viewer->cursor().shape(), Qt::SizeAllCursor);
    sendMouse(w, QEvent::MouseMove, {320, 290}, Qt::NoButton, Qt::MiddleButton);
    sendMouse(w, QEvent::MouseMove, {350, 280}, Qt::NoButton, Qt::MiddleButton);
    EXPECT_EQ(viewer->getOrigin(), origin + XPnt2d(50, -20));
    EXPECT_FALSE(viewer->drawer()->isStill());
    sendMouse(w, QEvent::MouseButtonRelease, {350, 280}, Qt::MiddleButton, Qt::NoButton);
    EXPECT_FALSE(viewer->drawer()->isDragging());
    EXPECT_EQ(viewer->cursor().shape(), Qt::ArrowCursor);
    // Some time after the last step the view counts as still again (and is painted smoothly).
    QTest::qWait(CNormImageDrawer::kSettleMs + 100);
    EXPECT_TRUE(viewer->drawer()->isStill());
}

// ---- coordinates and listeners ----------------------------------------------------------------

TEST_F(ImageViewer, ListenersGetImageCoordinatesAndImageChanges)
{
    Listener first, second;
    viewer->addCoordListener(&first);
    viewer->addCoordListener(&second);
    QSignalSpy spy(viewer.get(), &COrvImageViewer::coordChanged);

    // Over no image: (0, 0) on every move.
    sendMouse(viewer.get(), QEvent::MouseMove, {300, 300}, Qt::NoButton, Qt::NoButton);
    sendMouse(viewer.get(), QEvent::MouseMove, {10, 10}, Qt::NoButton, Qt::NoButton);
    ASSERT_EQ(first.coords.size(), 2u);
    EXPECT_EQ(first.coords[1], XPnt2d(0, 0));
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toDouble(), 0.0);

    // Image 1 (400 x 200) fitted into 600 x 600: scale 1.475, centred; the widget centre shows
    // the photo's centre.
    ASSERT_TRUE(show(1));
    ASSERT_EQ(first.changes.size(), 1u);
    EXPECT_EQ(first.changes[0].from, -1);
    EXPECT_EQ(first.changes[0].to, 1);
    EXPECT_DOUBLE_EQ(viewer->getScale(), 1.475);
    sendMouse(viewer.get(), QEvent::MouseMove, {300, 300}, Qt::NoButton, Qt::NoButton);
    EXPECT_NEAR(first.coords.back().x, 200, 1e-9);
    EXPECT_NEAR(first.coords.back().y, 100, 1e-9);
    EXPECT_NEAR(spy.last().at(1).toDouble(), 100, 1e-9);
    // The bottom-left corner of the photo is image (0, 0).
    const XPnt2d corner = viewer->normalisedToScreen(XPnt2d(0, 0));
    const XPnt3d origin = viewer->screenToImage(corner.x, 600 - corner.y);
    EXPECT_NEAR(origin.x, 0, 1e-9);
    EXPECT_NEAR(origin.y, 0, 1e-9);
    const XPnt3d normalised = viewer->screenToNormalised(300, 300);
    EXPECT_NEAR(normalised.x, 0.5, 1e-12);
    EXPECT_NEAR(normalised.y, 0.5, 1e-12);

    // The same id again changes nothing and tells nobody.
    ASSERT_TRUE(show(1));
    EXPECT_EQ(first.changes.size(), 1u);
    EXPECT_FALSE(show(-3));

    // A listener may remove itself while it is told; the others are still told.
    first.removeFrom = viewer.get();
    EXPECT_EQ(viewer->closeImage(), 0);
    ASSERT_EQ(first.changes.size(), 2u);
    EXPECT_EQ(first.changes[1].from, 1);
    EXPECT_EQ(first.changes[1].to, -1);
    ASSERT_EQ(second.changes.size(), 2u);
    EXPECT_EQ(viewer->removeCoordListener(&first), 1);  // already gone
    EXPECT_EQ(viewer->closeImage(), -1);                // nothing shown
    EXPECT_FALSE(viewer->screenToImage(300, 300).isValid());
    EXPECT_EQ(viewer->getScale(), 0.0);
    viewer->clearCoordListeners();
}

TEST_F(ImageViewer, FileImagesShowWithoutARecordAndHaveNoNormalisedCoordinates)
{
    WarningAnswerer answers;
    // An image handed over in memory keeps the viewer's id: with none (-1) it is not painted.
    ref_ptr<IZimImage> memory = zim::newZimImage();
    ASSERT_NE(memory->imageCreate(300, 150, 24, 0), nullptr);
    memory->imageFill(int(QColor(Qt::darkCyan).rgb() & 0xffffff), 0);
    EXPECT_TRUE(viewer->setImage(memory));
    EXPECT_EQ(viewer->getImageId().index, -1);
    EXPECT_NE(QColor(rendered().pixel(300, 300)), QColor(Qt::darkCyan));
    EXPECT_EQ(viewer->getScale(), 0.0);

    const QString file = photo(QStringLiteral("loose.png"), 300, 150, Qt::darkCyan);
    ASSERT_TRUE(viewer->setImageFile(file));
    EXPECT_EQ(viewer->getImageId().index, CNormImageDrawer::kFileImageIndex);
    EXPECT_TRUE(answers.texts.isEmpty());
    const QImage image = rendered();
    EXPECT_EQ(QColor(image.pixel(300, 300)), QColor(Qt::darkCyan));
    const XPnt3d n = viewer->screenToNormalised(300, 300);
    EXPECT_EQ(n, XPnt3d(-1, 0, 0));
    // Nor does it need a project.
    mm->closeProject();
    EXPECT_TRUE(viewer->drawer()->isValid());
    EXPECT_FALSE(viewer->screenToNormalised(300, 300).isValid());
}

// ---- bad input --------------------------------------------------------------------------------

TEST_F(ImageViewer, BadPhotoFilesWarnAndKeepThePreviousPhoto)
{
    WarningAnswerer answers;
    const QString good = photo(QStringLiteral("good.png"), 300, 200, Qt::darkCyan);
    ASSERT_TRUE(viewer->setImageFile(good));
    const qint64 picture = viewer->drawer()->renderer().picture().cacheKey();
    const XPnt2d size = viewer->drawer()->imageSize();
    const double scale = viewer->getScale();

    const QString text = path(QStringLiteral("notes.jpg"));
    ASSERT_TRUE(orvtest::writeFile(text, "these are words, not pixels"));
    const QString truncated = photo(QStringLiteral("cut.jpg"), 300, 200, Qt::yellow);
    {
        QByteArray bytes = orvtest::readFile(truncated);
        ASSERT_TRUE(orvtest::writeFile(truncated, bytes.left(bytes.size() / 3)));
    }
    const QString empty = path(QStringLiteral("empty.png"));
    ASSERT_TRUE(orvtest::writeFile(empty, QByteArray()));
    const QStringList bad = {path(QStringLiteral("missing.png")), text, truncated, empty};
    for (const QString& file : bad) {
        EXPECT_FALSE(viewer->setImageFile(file)) << file.toStdString();
        EXPECT_EQ(viewer->drawer()->renderer().picture().cacheKey(), picture);
        EXPECT_EQ(viewer->drawer()->imageSize(), size);
        EXPECT_EQ(viewer->getScale(), scale);
        EXPECT_EQ(viewer->getImageId().index, CNormImageDrawer::kFileImageIndex);
    }
    ASSERT_EQ(answers.texts.size(), bad.size());
    EXPECT_TRUE(answers.texts[0].contains(QStringLiteral("missing.png")));
    EXPECT_TRUE(answers.titles[0].isEmpty());
    EXPECT_EQ(answers.buttons[0], int(QMessageBox::Ok));
    EXPECT_EQ(QColor(rendered().pixel(300, 300)), QColor(Qt::darkCyan));

    // A project image whose photograph has gone: a warning, and the photo shown stays.
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("photos/p1.png"))));
    EXPECT_FALSE(show(1));
    EXPECT_EQ(answers.texts.size(), bad.size() + 1);
    EXPECT_EQ(viewer->getImageId().index, CNormImageDrawer::kFileImageIndex);
    EXPECT_EQ(viewer->drawer()->renderer().picture().cacheKey(), picture);
    // An index the project does not have.
    EXPECT_FALSE(show(7));
    EXPECT_EQ(viewer->drawer()->renderer().picture().cacheKey(), picture);
    // An empty image in memory is refused too.
    EXPECT_FALSE(viewer->setImage(zim::newZimImage()));
    EXPECT_EQ(viewer->drawer()->renderer().picture().cacheKey(), picture);
}

TEST_F(ImageViewer, LargePhotosAreHeldAtAReducedSizeWithFullSizeCoordinates)
{
    viewer->drawer()->setMaxPictureSide(256);
    Listener listener;
    viewer->addCoordListener(&listener);
    // 1000 x 600 into 600 x 600: scale 0.59, centred; the widget centre is the photo's centre.
    ASSERT_TRUE(viewer->setImageFile(photo(QStringLiteral("big.jpg"), 1000, 600)));
    EXPECT_EQ(viewer->drawer()->renderer().picture().width(), 256);
    EXPECT_LE(viewer->drawer()->renderer().picture().height(), 154);
    EXPECT_EQ(viewer->drawer()->imageSize(), XPnt2d(1000, 600));
    EXPECT_DOUBLE_EQ(viewer->getScale(), 0.59);
    sendMouse(viewer.get(), QEvent::MouseMove, {300, 300}, Qt::NoButton, Qt::NoButton);
    EXPECT_NEAR(listener.coords.back().x, 500, 1e-9);
    EXPECT_NEAR(listener.coords.back().y, 300, 1e-9);

    // The same for a project photograph.
    ASSERT_EQ(mm->addImage(photo(QStringLiteral("photos/big.jpg"), 1000, 600), mesh(QStringLiteral("m2")), QString()),
              2);
    ASSERT_TRUE(show(2));
    EXPECT_EQ(viewer->drawer()->renderer().picture().width(), 256);
    EXPECT_LE(viewer->drawer()->renderer().picture().height(), 154);
    EXPECT_EQ(viewer->drawer()->imageSize(), XPnt2d(1000, 600));
    const XPnt3d n = viewer->screenToNormalised(300, 300);
    EXPECT_NEAR(n.x, 0.5, 1e-12);
    EXPECT_NEAR(n.y, 0.5, 1e-12);
    EXPECT_EQ(mm->getCurMeshIndex(), 2);
    viewer->clearCoordListeners();
}

// ---- context menu -----------------------------------------------------------------------------

TEST_F(ImageViewer, ContextMenuIsBuiltFromPluginItemsAndCallsThemBack)
{
    g_called.clear();
    const quint64 callback = quint64(reinterpret_cast<quintptr>(&menuCallback));
    ref_ptr<Item> first(new Item(QStringLiteral("First"), QStringLiteral("first___0"), 0, callback));
    first->checkable = true;
    const QVector<ref_ptr<IOrvActionItem>> items = {
        first,
        ref_ptr<IOrvActionItem>(new Item(QString(), QStringLiteral("hidden"), ActionItemSeparator)),
        ref_ptr<IOrvActionItem>(new Item(QString(), QStringLiteral("sep"), ActionItemSeparator | ActionItemInMenu)),
        ref_ptr<IOrvActionItem>(new Item(
            QStringLiteral("More"), QStringLiteral("more"), 0, 0,
            {ref_ptr<IOrvActionItem>(new Item(QStringLiteral("Second"), QStringLiteral("second___0"), 0, callback))})),
        ref_ptr<IOrvActionItem>(new Item(QStringLiteral("Silent"), QStringLiteral("silent___0"), 0, 0)),
    };
    EXPECT_EQ(viewer->buildContextMenu(nullptr), -1);
    ASSERT_EQ(viewer->buildContextMenu(ref_ptr<IOrvCommonItem>(new Group(QStringLiteral("Image"), items))), 0);
    QMenu* menu = viewer->contextMenu();
    EXPECT_EQ(menu->title(), QStringLiteral("Image"));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);  // First, one separator, More, Silent
    EXPECT_EQ(actions[0]->objectName(), QStringLiteral("first___0"));
    EXPECT_TRUE(actions[0]->isCheckable());
    EXPECT_TRUE(actions[0]->isChecked());
    EXPECT_EQ(actions[0]->toolTip(), QStringLiteral("first___0 tip"));
    EXPECT_TRUE(actions[1]->isSeparator());
    ASSERT_NE(actions[2]->menu(), nullptr);
    EXPECT_EQ(actions[2]->text(), QStringLiteral("More"));
    ASSERT_EQ(actions[2]->menu()->actions().size(), 1);

    actions[0]->trigger();
    actions[2]->menu()->actions()[0]->trigger();
    actions[3]->trigger();  // no callback: nothing happens
    EXPECT_EQ(g_called, QStringList({QStringLiteral("first___0 off"), QStringLiteral("second___0 off")}));

    // A separator item not meant for menus adds nothing and still counts as handled.
    EXPECT_TRUE(viewer->addMenuAction(
        menu, ref_ptr<IOrvActionItem>(new Item(QString(), QStringLiteral("s"), ActionItemSeparator))));
    EXPECT_EQ(menu->actions().size(), 4);
    EXPECT_FALSE(viewer->fillMenu(nullptr, items));
    EXPECT_FALSE(viewer->fillMenu(menu, {}));
}

TEST_F(ImageViewer, RightClickOpensTheMenuAndARightDragDoesNot)
{
    const QVector<ref_ptr<IOrvActionItem>> items = {
        ref_ptr<IOrvActionItem>(new Item(QStringLiteral("Do"), QStringLiteral("do___0"), 0))};
    ASSERT_EQ(viewer->buildContextMenu(ref_ptr<IOrvCommonItem>(new Group(QStringLiteral("Image"), items))), 0);
    QWidget* w = viewer.get();
    const QPoint at(200, 200);
    const auto press = [&] { sendMouse(w, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton); };
    const auto moveTo = [&](QPoint p) { sendMouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::RightButton); };
    const auto release = [&](QPoint p) { sendMouse(w, QEvent::MouseButtonRelease, p, Qt::RightButton, Qt::NoButton); };

    // X11: the request comes right after the press; the menu opens at the release, not before.
    press();
    sendContextMenu(w, at);
    EXPECT_FALSE(takePopup());
    release(at);
    EXPECT_TRUE(takePopup());
    // A hand that shakes a pixel or two still clicks.
    press();
    sendContextMenu(w, at);
    moveTo(at + QPoint(1, 1));
    release(at + QPoint(1, 1));
    EXPECT_TRUE(takePopup());
    // Other systems ask after the release; the keyboard's menu key asks without a press.
    press();
    release(at);
    EXPECT_FALSE(takePopup());
    sendContextMenu(w, at);
    EXPECT_TRUE(takePopup());
    QContextMenuEvent key(QContextMenuEvent::Keyboard, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &key);
    EXPECT_TRUE(takePopup());
    // A request from the mouse with no press of this view behind it opens nothing.
    sendContextMenu(w, at);
    EXPECT_FALSE(takePopup());

    {  // A right drag goes to the tool and opens nothing, whenever the request comes.
        ASSERT_EQ(vm->setCurTool(ref_ptr<IZimTool>(new RecordingTool(&log))), 0);
        press();
        sendContextMenu(w, at);
        moveTo(at + QPoint(8, 3));
        moveTo(at + QPoint(16, 6));
        release(at + QPoint(16, 6));
        EXPECT_FALSE(takePopup());
        sendContextMenu(w, at);
        EXPECT_FALSE(takePopup());
        EXPECT_NE(std::find(log.begin(), log.end(), "right 1 0 216 394"), log.end());
        ASSERT_EQ(vm->setCurTool(nullptr), 0);
    }

    // A menu without a command never opens.
    const QVector<ref_ptr<IOrvActionItem>> separatorOnly = {
        ref_ptr<IOrvActionItem>(new Item(QString(), QStringLiteral("sep"), ActionItemSeparator | ActionItemInMenu))};
    ASSERT_EQ(viewer->buildContextMenu(ref_ptr<IOrvCommonItem>(new Group(QStringLiteral("Image"), separatorOnly))), 0);
    ASSERT_FALSE(viewer->contextMenu()->actions().isEmpty());
    press();
    sendContextMenu(w, at);
    release(at);
    EXPECT_FALSE(takePopup());
}

TEST_F(ImageViewer, WheelZoomsOnEitherAxisAndFitBringsThePictureBack)
{
    ASSERT_TRUE(show(0));
    const double fitted = viewer->getScale();
    ASSERT_GT(fitted, 0.0);
    const QPoint at(viewer->width() / 2, viewer->height() / 2);
    // With Alt held X11 reports the wheel as horizontal: it zooms all the same.
    QWheelEvent alt(QPointF(at), QPointF(viewer->mapToGlobal(at)), QPoint(), QPoint(120, 0), Qt::NoButton,
                    Qt::AltModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewer.get(), &alt);
    const double zoomed = viewer->getScale();
    EXPECT_GT(zoomed, fitted * 1.05);
    sendWheel(viewer.get(), at, 120);
    EXPECT_GT(viewer->getScale(), zoomed * 1.05);
    // The larger axis decides: a mostly-vertical notch back with a little sideways drift.
    const double before = viewer->getScale();
    QWheelEvent back(QPointF(at), QPointF(viewer->mapToGlobal(at)), QPoint(), QPoint(30, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewer.get(), &back);
    EXPECT_LT(viewer->getScale(), before);

    EXPECT_EQ(viewer->fitToWindow(), 0);
    EXPECT_DOUBLE_EQ(viewer->getScale(), fitted);
}

}  // namespace
