#include "CorePhotoView.h"

#include <IOrv3DViewer.h>
#include <IOrvViewerMan.h>
#include <OrvKernel64t.h>
#include <OrvUIElements64t.h>

#include <QFileInfo>
#include <QSize>

#include "PhotoMapping.h"

namespace orvCore {

namespace {

ZIM_TR_CONTEXT("orvCore")

// How messages name a photograph: its file name, else its position in the project.
QString photoName(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) == 0 && entry) {
        const QString file = QFileInfo(entry->photoPath()).fileName();
        if (!file.isEmpty()) return file;
    }
    return QString::number(index + 1);
}

}  // namespace

bool lookThroughPhoto(int index, const Reporter& report)
{
    const auto fail = [&](const QString& message) {
        if (report) report(message);
        return false;
    };
    ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM();
    ref_ptr<IZimMM> mm = projectModel();
    if (!mm || !mm->isProjectOpen()) return fail(tr("No project is open. Create or open a project first."));
    if (index < 0 || index >= mm->imageCount()) return fail(tr("There is no such photograph in the project."));
    const QString name = photoName(mm.get(), index);
    if (!mm->isImageMapped(index))
        return fail(tr("The photograph %1 is not mapped yet. Place marks on it and map it first.").arg(name));
    ZimPhotoCamera camera;
    if (mm->getImageCamera(index, camera) != 0 || !camera.isValid())
        return fail(tr("The photograph %1 has no usable camera. Map it again.").arg(name));
    const QSize size = orvmap::photoSize(mm.get(), index);
    if (size.isValid() && size != QSize(camera.width, camera.height))
        return fail(tr("The photograph %1 is %2 x %3 pixels, but its camera was mapped on a %4 x %5 photograph. "
                       "Map it again.")
                        .arg(name)
                        .arg(size.width())
                        .arg(size.height())
                        .arg(camera.width)
                        .arg(camera.height));
    orvUI::IOrv3DViewer* viewer = vm ? vm->get3DViewer() : nullptr;
    if (!viewer) return fail(tr("There is no 3D view to look through the photograph."));
    // The overlay shows the current image: the camera's own photograph.
    if (!showProjectPhoto(index)) mm->setCurrentImageIndex(index);
    if (viewer->lookThroughCamera(camera) != 0)
        return fail(tr("The photograph %1 has no usable camera. Map it again.").arg(name));
    viewer->setShowImageOverlay(true);
    vm->updateAllViewers();
    return true;
}

}  // namespace orvCore
