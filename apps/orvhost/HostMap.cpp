#include "HostMap.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "OrvKernel64t.h"
#include "PhotoMapping.h"

namespace orvHost {

namespace {

ZIM_TR_CONTEXT("orvhost")

QString photoName(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) != 0 || !entry) return QString();
    return QFileInfo(entry->photoPath()).fileName();
}

}  // namespace

MapRunResult runMapRequest(const MapRequest& request)
{
    MapRunResult result;
    const ref_ptr<IZimMM> mm = zim::getMM();
    if (mm->openProject(request.project, nullptr) != 0) {
        result.err << mm->lastError();
        result.exitCode = MapNoProject;
        return result;
    }
    // What the kernel found changed outside the program, and missing files, said once.
    if (!mm->openNotice().isEmpty()) result.err << mm->openNotice();
    QStringList missing;
    if (mm->getMissingFiles(missing) > 0) result.err << mm->lastError();

    const int count = mm->imageCount();
    if (!request.all && (request.index < 0 || request.index >= count)) {
        result.err << (count == 0 ? tr("the project %1 has no photos").arg(QDir::toNativeSeparators(request.project))
                                  : tr("the project %1 has no photo %2 (its photos are 0 to %3)")
                                        .arg(QDir::toNativeSeparators(request.project))
                                        .arg(request.index)
                                        .arg(count - 1));
        result.exitCode = MapNoProject;
        mm->closeProject();
        return result;
    }

    bool refused = false;
    const int first = request.all ? 0 : request.index;
    const int last = request.all ? count - 1 : request.index;
    for (int i = first; i <= last; ++i) {
        const QString head = tr("photo %1 (%2)").arg(i).arg(photoName(mm.get(), i));
        if (request.all) {
            const int usable = orvmap::usableMarkCount(mm.get(), i);
            const int needed = orvmap::marksNeeded(mm.get(), i);
            if (usable < needed) {
                result.out << tr("%1: skipped, %2 of the %3 marks needed").arg(head).arg(usable).arg(needed);
                continue;
            }
        }
        const orvmap::MapOutcome outcome = orvmap::mapPhoto(mm.get(), i);
        if (!outcome.ok) {
            result.out << tr("%1: not mapped: %2").arg(head, outcome.message);
            refused = true;
            continue;
        }
        ++result.mapped;
        result.out << QStringLiteral("%1: %2").arg(head, orvmap::summary(outcome));
        for (const QString& w : outcome.warnings) result.out << tr("  warning: %1").arg(w);
    }
    if (request.all && result.mapped == 0 && !refused) {
        result.err << tr("no photo of the project could be mapped");
        refused = true;
    }
    result.exitCode = refused ? MapSomeRefused : MapAllMapped;

    if (request.save && result.mapped > 0) {
        if (mm->saveProject() != 0) {
            result.err << mm->lastError();
            result.exitCode = MapSaveFailed;
        } else {
            result.out << tr("saved %1").arg(QDir::toNativeSeparators(mm->projectPath()));
        }
    }
    mm->closeProject();
    return result;
}

}  // namespace orvHost
