// A host built against the installed package only: it reaches the viewer manager, installs a
// tool on a fresh project, pushes undo steps and dumps points.
#include <OrvUIElements64t.h>
#include <ZimGeometry64t.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {

class Step : public IZimUndoStep {
public:
    explicit Step(int* count) : m_count(count) {}
    int undo() override { return --*m_count, 0; }
    int redo() override { return ++*m_count, 0; }

private:
    int* m_count;
};

class Tool : public IZimTool {
public:
    bool begun = false;
    int beginTool() override { return begun = true, 0; }
    int endTool() override { return 0; }
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
    int notifyTool() override { return 0; }
};

int fail(const char* what)
{
    std::fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ref_ptr<IZimImage> image = zim::newZimImage();
    if (!image->imageCreate(4, 4, 24, ZimImageWithMarks)) return fail("image");

    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    if (!vm || vm.get() != orvUI::getVM().get()) return fail("getVM");

    QTemporaryDir dir;
    ref_ptr<IZimMM> mm = vm->getModelMan();
    if (mm->createProject(dir.filePath("consumer.orvproj")) != 0) return fail("project");
    ref_ptr<Tool> tool = new Tool();
    if (vm->setCurTool(tool) != 0 || !tool->begun || vm->getCurTool() != tool.get()) return fail("tool");

    int count = 0;
    vm->pushUndo(new Step(&count));
    vm->pushUndo(new Step(&count));
    if (vm->undo() != 0 || vm->undo() != 0 || vm->undo() != 1 || count != -2) return fail("undo");

    const QString dump = dir.filePath("points.bin");
    if (vm->openDump(dump, false) != 0) return fail("open dump");
    if (vm->dumpPoint(XPnt3d(1, 2, 3)) != 0) return fail("dump");
    vm->closeDump();
    if (QFileInfo(dump).size() != 24) return fail("dump size");

    vm->setCurTool(nullptr);
    mm->closeProject();
    return 0;
}
