#include <QCoreApplication>
#include <QFileDialog>
#include <QWidget>
#include <new>

#include "COrvViewerMan.h"
#include "IOrvMainFrame.h"
#include "OrvFrameLink.h"
#include "OrvUIElements64t.h"

namespace orvUI {

namespace {

// Held from the first getVM until the library is unloaded.
ref_ptr<IOrvViewerMan>& theViewerMan()
{
    static ref_ptr<IOrvViewerMan> manager;
    return manager;
}

}  // namespace

ref_ptr<IOrvViewerMan> getVM()
{
    ref_ptr<IOrvViewerMan>& manager = theViewerMan();
    if (!manager) {
        static const bool makersInstalled = (installViewMakers(), true);
        (void)makersInstalled;
        try {
            manager = new COrvViewerMan();
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    return manager;
}

QStringList fileDlgImgs()
{
    QWidget* parent = nullptr;
    if (ref_ptr<IOrvViewerMan> vm = getVM()) parent = dynamic_cast<QWidget*>(vm->getMainFrame());
    return QFileDialog::getOpenFileNames(
        parent, QCoreApplication::translate("orvUI", "Select Images"), QString(),
        QCoreApplication::translate("orvUI",
                                    "Supported Files Types(*.jpg *.bmp *.ptm *.ptml *.tbm)\nJPEG Files (*.jpg)\n"
                                    "Bitmaps (*.bmp)\nPTM (*.ptm *.ptml)\nTBM (*.tbm)"));
}

QString fileDlgXXXFile(bool open, const QString& filter, QWidget* parent, QString dir)
{
    if (!open) return QString();
    return QFileDialog::getOpenFileName(parent, QCoreApplication::translate("orvUI", "Open WorkSpace"), dir, filter);
}

int& getCurLge()
{
    static int language = 0;
    return language;
}

}  // namespace orvUI

namespace zim {

unsigned long long getSelMarkCount()
{
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    ref_ptr<IZimMM> mm = getMM();
    ref_ptr<MeshArray> meshes;
    if (vm && mm && vm->isCurMeshOnly()) {
        const int index = mm->getCurMeshIndex();
        if (index != -1) {
            meshes = newMeshArray();
            ref_ptr<IZimMesh> mesh;
            mm->getMeshAt(mesh, index);
            if (mesh) meshes->appendMesh(mesh);
        }
    } else if (mm) {
        mm->getMeshArray(meshes);
    }
    return getSelMarkCount(meshes);
}

}  // namespace zim
