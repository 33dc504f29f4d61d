// The tool that places, moves and deletes the marks of the current photo (through MarksEditor)
// in the photo view and in the 3D view, and draws them in both.
//
// Photo view, left button: a press within kPickRadius screen pixels of a mark selects it and
// drags it; a press elsewhere on the photo gives the selected mark its photo position when it has
// none yet, else starts a new mark there, and the drag that follows moves it. One undo step per
// press-drag-release. Delete or Backspace removes the selected mark (in either view).
// 3D view, left button: a press near the selected mark's 3D point drags the point over the
// surface; a press on a mesh elsewhere gives the selected mark that surface point (or starts a
// new mark with only a 3D point when none is selected). Presses on the background do nothing.
// A double click is the tool's: its press has placed or taken a mark already. The right and
// middle buttons and the wheel stay the views' own (camera, menus).
#pragma once

#include <ZimBase64t.h>
#include <ZimDisplay64t.h>

#include <QVector>

namespace orvCore {

class MarksTool : public IZimTool {
public:
    // Screen pixels within which a press takes a mark.
    static constexpr double kPickRadius = 8.0;

    MarksTool();

    int beginTool() override;
    int endTool() override;
    bool isDrawSuppressed() override;
    int drawTool(int view) override;
    int onMouseDoubleClick(int view, ZimKey flags, int x, int y) override;
    int onMousePress(int view, ZimKey flags, int x, int y) override;
    int onMouseRelease(int view, ZimKey flags, int x, int y) override;
    int onMouseMove(int view, ZimKey flags, int x, int y) override;
    int onWheel(int view, ZimKey flags, short delta, int x, int y) override;
    int onRightClick(int view, ZimKey flags, int x, int y) override;
    int onKeyPress(int view, int key, int count, ZimKey flags) override;
    int onKeyRelease(int view, int key, int count, ZimKey flags) override;
    int setActiveView(int view) override;
    int notifyTool() override;

    // The view of the drag under way (ZimView3D or ZimViewImage), -1 when none.
    int dragView() const { return m_dragView; }

protected:
    ~MarksTool() override;

private:
    bool pressPhoto(int x, int y);
    bool press3D(int x, int y);
    void drawPhoto();
    void draw3D();

    int m_activeView = -1;
    int m_dragView = -1;
    // The image viewer's own mark drawing, switched off while the tool draws the marks.
    bool m_viewerMarks = true;
    bool m_meshMarks = true;
    bool m_viewerPairs = true;
    bool m_began = false;
};

// A new marks tool, to be made current with the viewer manager's setCurTool.
ref_ptr<IZimTool> newMarksTool();
// True when the tool is a marks tool.
bool isMarksTool(const IZimTool* tool);

// The mark nearest to a screen point among candidates (id, screen position), within `radius`
// pixels; -1 when none is that close. A tie goes to `preferred`, then to the earlier candidate.
struct ScreenMark {
    int id = -1;
    XPnt2d screen;
};
int nearestMark(const QVector<ScreenMark>& marks, const XPnt2d& at, double radius, int preferred);

}  // namespace orvCore
