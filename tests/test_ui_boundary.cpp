// The UI library as a host meets it: loaded at run time, reached only through its exported
// symbols and the virtual tables of the interfaces.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTemporaryDir>

#include "IOrvViewerMan.h"

using orvUI::IOrvViewerMan;

namespace {

class Library {
public:
    Library() : handle(dlopen(ORV_UI_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
    // Left loaded: the manager lives until the process ends, as it does in a host.
    void* symbol(const char* name) const { return handle ? dlsym(handle, name) : nullptr; }
    void* handle;
};

const Library& library()
{
    static Library lib;
    return lib;
}

template <class F>
F entry(const char* mangled)
{
    return reinterpret_cast<F>(library().symbol(mangled));
}

class CountingStep : public IZimUndoStep {
public:
    explicit CountingStep(int* undone) : m_undone(undone) {}
    int undo() override { return ++*m_undone, 0; }
    int redo() override { return --*m_undone, 0; }

private:
    int* m_undone;
};

TEST(UiBoundary, ExportsTheEntryPointsAndHidesTheRest)
{
    ASSERT_NE(library().handle, nullptr) << dlerror();
    for (const char* name : {
             "_ZN5orvUI5getVMEv",                   // getVM()
             "_ZN5orvUI11fileDlgImgsEv",            // fileDlgImgs()
             "_ZN5orvUI9getCurLgeEv",               // getCurLge()
             "_ZN5orvUI10getKeyFlagEP9QKeyEvent",   // getKeyFlag(QKeyEvent*)
             "_ZN5orvUI9getQtFlagEP11QMouseEvent",  // getQtFlag(QMouseEvent*)
             "_ZN5orvUI9getQtFlagEP11QWheelEvent",  // getQtFlag(QWheelEvent*)
             "_ZN3zim15getSelMarkCountEv",          // zim::getSelMarkCount()
             "_ZTVN5orvUI13IOrvViewerManE",         // interface virtual tables
             "_ZTVN5orvUI13IOrvMainFrameE", "_ZTVN5orvUI12IOrv3DViewerE", "_ZTVN5orvUI15IOrvImageViewerE",
             "_ZTVN5orvUI14IOrvDockWidgetE",
             "_ZN5orvUI13IOrvViewerManC2ERKS0_",  // copy constructor
         }) {
        EXPECT_NE(library().symbol(name), nullptr) << name;
    }
    // The concrete classes stay inside.
    EXPECT_EQ(library().symbol("_ZTVN5orvUI13COrvViewerManE"), nullptr);
    EXPECT_EQ(library().symbol("_ZN5orvUI13COrvViewerManC1Ev"), nullptr);
}

TEST(UiBoundary, OneManagerForTheProcess)
{
    auto getVM = entry<ref_ptr<IOrvViewerMan> (*)()>("_ZN5orvUI5getVMEv");
    auto getCurLge = entry<int& (*)()>("_ZN5orvUI9getCurLgeEv");
    auto getKeyFlag = entry<ZimKey (*)(QKeyEvent*)>("_ZN5orvUI10getKeyFlagEP9QKeyEvent");
    ASSERT_TRUE(getVM && getCurLge && getKeyFlag);

    ref_ptr<IOrvViewerMan> first = getVM();
    ref_ptr<IOrvViewerMan> second = getVM();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());

    getCurLge() = 2;
    EXPECT_EQ(getCurLge(), 2);

    QKeyEvent alt(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_EQ(getKeyFlag(&alt), ZimKeyAlt);

    // Objects made here cross into the library and back through the virtual tables.
    int undone = 0;
    first->pushUndo(new CountingStep(&undone));
    EXPECT_TRUE(second->canUndo());
    EXPECT_EQ(second->undo(), 0);
    EXPECT_EQ(undone, 1);
    EXPECT_EQ(first->redo(), 0);
    EXPECT_EQ(undone, 0);
    first->clearUndo();

    QTemporaryDir dir;
    ASSERT_EQ(first->openDump(dir.filePath("dump.bin"), false), 0);
    EXPECT_EQ(first->dumpPoint(XPnt3d(1, 2, 3)), 0);
    EXPECT_EQ(first->closeDump(), 1);
    EXPECT_EQ(QFileInfo(dir.filePath("dump.bin")).size(), 24);
}

}  // namespace
