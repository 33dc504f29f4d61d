#include "PhotoCommands.h"

#include <CameraSolver.h>
#include <IOrvViewerMan.h>

#include <QCoreApplication>
#include <QFileInfo>

namespace orvCore {

namespace {

ZIM_TR_CONTEXT("orvCore")

// One mapping run: the photos it changed, as they were before and after.
class MappingStep : public IZimUndoStep {
public:
    MappingStep(IZimMM* mm, QVector<PhotoMapState> before, QVector<PhotoMapState> after, MappingRefresh refresh)
        : m_mm(mm), m_before(std::move(before)), m_after(std::move(after)), m_refresh(std::move(refresh))
    {
    }
    int undo() override { return apply(m_before); }
    int redo() override { return apply(m_after); }

private:
    int apply(const QVector<PhotoMapState>& states)
    {
        if (!m_mm || !m_mm->isProjectOpen()) return -1;
        bool ok = true;
        QVector<int> photos;
        for (const PhotoMapState& s : states) {
            ok = restorePhotoMapState(m_mm.get(), s) && ok;
            photos.append(s.index);
        }
        if (m_refresh) m_refresh(photos);
        return ok ? 0 : -1;
    }
    ref_ptr<IZimMM> m_mm;
    QVector<PhotoMapState> m_before, m_after;
    MappingRefresh m_refresh;
};

void pushStep(IZimMM* mm, orvUI::IOrvViewerMan* vm, QVector<PhotoMapState> before, const MappingRefresh& refresh)
{
    if (!vm || before.isEmpty()) return;
    QVector<PhotoMapState> after;
    for (const PhotoMapState& s : before) after.append(photoMapState(mm, s.index));
    vm->pushUndo(ref_ptr<IZimUndoStep>(new MappingStep(mm, std::move(before), std::move(after), refresh)));
}

QString photoName(IZimMM* mm, int index)
{
    ref_ptr<IZimImageEntry> entry;
    if (mm->getImageEntry(entry, index) == 0 && entry) return QFileInfo(entry->photoPath()).fileName();
    return tr("photo %1").arg(index);
}

}  // namespace

PhotoMapState photoMapState(IZimMM* mm, int index)
{
    PhotoMapState s;
    s.index = index;
    if (!mm) return s;
    s.hasCamera = mm->getImageCamera(index, s.camera) == 0;
    if (!s.hasCamera) s.camera = ZimPhotoCamera();
    s.mapped = mm->isImageMapped(index);
    return s;
}

bool restorePhotoMapState(IZimMM* mm, const PhotoMapState& state)
{
    if (!mm) return false;
    const bool camera = mm->setImageCamera(state.index, state.hasCamera ? &state.camera : nullptr) == 0;
    const bool mapped = mm->setImageMapped(state.index, state.mapped) == 0;
    return camera && mapped;
}

orvmap::MapOutcome mapPhotoUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, int index, const MappingRefresh& refresh)
{
    const PhotoMapState before = photoMapState(mm, index);
    orvmap::MapOutcome outcome = orvmap::mapPhoto(mm, index);
    if (outcome.ok) pushStep(mm, vm, {before}, refresh);
    if (refresh && outcome.ok) refresh({index});
    return outcome;
}

int completeEnabledMarks(IZimMM* mm, int index)
{
    int n = 0;
    for (const orvmap::PhotoMark& m : orvmap::photoMarks(mm, index))
        if (m.enabled && m.hasPhotoPosition() && m.hasPoint()) ++n;
    return n;
}

int MapAllOutcome::mappedCount() const
{
    int n = 0;
    for (const MapAllEntry& e : tried) n += e.outcome.ok ? 1 : 0;
    return n;
}

MapAllOutcome mapAllPhotosUndoable(IZimMM* mm, orvUI::IOrvViewerMan* vm, const MappingRefresh& refresh)
{
    MapAllOutcome out;
    if (!mm || !mm->isProjectOpen()) return out;
    const int needed = orvreg::minimumMarks(true);
    QVector<PhotoMapState> before;
    for (int i = 0; i < mm->imageCount(); ++i) {
        if (completeEnabledMarks(mm, i) < needed) {
            ++out.skipped;
            continue;
        }
        MapAllEntry entry;
        entry.index = i;
        entry.name = photoName(mm, i);
        const PhotoMapState state = photoMapState(mm, i);
        entry.outcome = orvmap::mapPhoto(mm, i);
        if (entry.outcome.ok) before.append(state);
        out.tried.append(entry);
    }
    pushStep(mm, vm, before, refresh);
    QVector<int> mapped;
    for (const PhotoMapState& s : before) mapped.append(s.index);
    if (refresh && !mapped.isEmpty()) refresh(mapped);
    return out;
}

QString mapAllReport(const MapAllOutcome& outcome)
{
    QStringList lines;
    if (outcome.tried.isEmpty()) {
        lines << tr("No photograph has enough marks to be mapped (%1 or more with a photo position and a 3D point).")
                     .arg(orvreg::minimumMarks(true));
        return lines.join(QLatin1Char('\n'));
    }
    lines << tr("%1 of %2 photographs mapped.").arg(outcome.mappedCount()).arg(outcome.tried.size());
    for (const MapAllEntry& e : outcome.tried) {
        if (e.outcome.ok) {
            lines << tr("%1: %2").arg(e.name, orvmap::summary(e.outcome));
            for (const QString& w : e.outcome.warnings) lines << QStringLiteral("    ") + w;
        } else {
            lines << tr("%1: not mapped. %2").arg(e.name, e.outcome.message);
        }
    }
    if (outcome.skipped > 0)
        lines << QCoreApplication::translate("orvCore", "%n photograph(s) with too few marks left alone.", nullptr,
                                             outcome.skipped);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace orvCore
