#include "MarksEditor.h"

#include <IOrvViewerMan.h>
#include <OrvUIElements64t.h>

#include <QCoreApplication>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <cstring>
#include <functional>
#include <limits>

#include "CoreUi.h"

namespace orvCore {

namespace {

constexpr int kKindCount = 4;

using Marks = QVector<MarkRecord>;

// The marks of one kind of an image as stored; empty without a project or record.
Marks readKind(IZimMM* mm, int index, int kind)
{
    Marks out;
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    ref_ptr<IZimImageRecord> record;
    if (!mm || index < 0 || mm->getState(state) != 0 || !state || state->getImageStore(store) != 0 || !store ||
        store->getImageRecord(record, index) != 0 || !record)
        return out;
    if (ref_ptr<MarkArray> marks = record->getMarks(kind)) {
        out.reserve(marks->count());
        for (const MarkRecord& m : *marks) out.append(m);
    }
    return out;
}

int writeKind(IZimMM* mm, int index, int kind, const Marks& marks)
{
    if (!mm) return -1;
    ref_ptr<MarkArray> array;
    if (!marks.isEmpty()) {
        array = ref_ptr<MarkArray>(new MarkArray());
        array->reserve(marks.size());
        for (const MarkRecord& m : marks) array->append(m);
    }
    return mm->setImageMarks(index, kind, array);
}

template <class T>
bool sameBytes(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Byte comparison, field by field: marks hold NaNs for "not set", which == would call different,
// and the record's padding is not part of it.
bool sameRecord(const MarkRecord& a, const MarkRecord& b)
{
    return sameBytes(a.uv, b.uv) && sameBytes(a.point, b.point) && a.id == b.id && sameBytes(a.uv2, b.uv2);
}

bool sameMarks(const Marks& a, const Marks& b)
{
    if (a.size() != b.size()) return false;
    for (int i = 0; i < a.size(); ++i)
        if (!sameRecord(a[i], b[i])) return false;
    return true;
}

// A usable photo position: inside the photo (0..1 both ways).
bool isPhotoPosition(const XPnt2d& uv) { return uv.isValid() && uv.x >= 0 && uv.x <= 1 && uv.y >= 0 && uv.y <= 1; }

// Where a mark is stored: its kind and position, or kind -1 when the photo has no such id.
struct Place {
    int kind = -1;
    int position = -1;
};

Place findMark(IZimMM* mm, int index, int id, Marks* kindMarks)
{
    for (int kind = 0; kind < kKindCount; ++kind) {
        const Marks marks = readKind(mm, index, kind);
        for (int i = 0; i < marks.size(); ++i)
            if (marks[i].id == id) {
                if (kindMarks) *kindMarks = marks;
                return {kind, i};
            }
    }
    return {};
}

// The photo's state a change touches: some kinds' arrays and some marks' enabled flags.
struct Snapshot {
    QMap<int, Marks> kinds;
    QMap<int, bool> enabled;
};

void redrawViews()
{
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM()) {
        vm->updateImageViewer();
        vm->update3DViewer();
    }
}

// Writes a snapshot back to image `index`, only what differs from the project.
void applySnapshot(IZimMM* mm, int index, const Snapshot& s)
{
    if (!mm) return;
    for (auto it = s.kinds.constBegin(); it != s.kinds.constEnd(); ++it)
        if (!sameMarks(readKind(mm, index, it.key()), it.value())) writeKind(mm, index, it.key(), it.value());
    for (auto it = s.enabled.constBegin(); it != s.enabled.constEnd(); ++it)
        if (orvmap::isMarkEnabled(mm, index, it.key()) != it.value())
            orvmap::setMarkEnabled(mm, index, it.key(), it.value());
    mm->setModified(true);
}

// One change of one photo's marks: undo puts `before` back, redo `after`.
class MarksStep : public IZimUndoStep {
public:
    MarksStep(int index, Snapshot before, Snapshot after)
        : m_index(index), m_before(std::move(before)), m_after(std::move(after))
    {
        if (ref_ptr<IZimMM> mm = projectModel()) mm->getState(m_project);
    }
    int undo() override { return apply(m_before); }
    int redo() override { return apply(m_after); }

private:
    int apply(const Snapshot& s)
    {
        ref_ptr<IZimMM> mm = projectModel();
        // Image indices belong to the project the step was made in: never write into another.
        if (!mm || !mm->isProjectOpen() || !m_project || !m_project->hasOpenProject()) return -1;
        // A drag under way started from the marks this step is about to replace: it is called off,
        // or its end would put back what undo or redo just changed.
        if (QCoreApplication::instance()) MarksEditor::instance()->cancelDrag();
        applySnapshot(mm.get(), m_index, s);
        redrawViews();
        if (QCoreApplication::instance()) MarksEditor::instance()->refresh();
        return 0;
    }

    int m_index;
    ref_ptr<IZimTqState> m_project;
    Snapshot m_before;
    Snapshot m_after;
};

}  // namespace

struct MarksEditor::Private {
    int selected = -1;
    // What refresh() saw last: the photo and its marks, to tell changes.
    int seenIndex = -1;
    QVector<orvmap::PhotoMark> seen;
    // A running drag: the photo, the mark, where it is stored, the photo's state before the drag
    // and the enabled flags it sets (a new mark's).
    int dragIndex = -1;
    int dragId = -1;
    Place dragPlace;
    Snapshot dragBefore;
    QMap<int, bool> dragEnabled;
};

MarksEditor* MarksEditor::instance()
{
    static QPointer<MarksEditor> editor;
    if (!editor) editor = new MarksEditor(QCoreApplication::instance());
    return editor;
}

MarksEditor::MarksEditor(QObject* parent) : QObject(parent), d(new Private)
{
    d->seenIndex = imageIndex();
    d->seen = marks();
    // The model manager tells nobody when another photo becomes current: look now and then, so
    // that changed() follows the photo even while no view is drawn.
    auto* watch = new QTimer(this);
    watch->setInterval(250);
    connect(watch, &QTimer::timeout, this, [this]() {
        if (imageIndex() != d->seenIndex) refresh();
    });
    watch->start();
}

MarksEditor::~MarksEditor() { delete d; }

int MarksEditor::imageIndex() const
{
    ref_ptr<IZimMM> mm = projectModel();
    if (!mm || !mm->isProjectOpen()) return -1;
    return mm->getCurMeshIndex();
}

QVector<orvmap::PhotoMark> MarksEditor::marks() const
{
    const int index = imageIndex();
    if (index < 0) return {};
    return orvmap::photoMarks(projectModel().get(), index);
}

int MarksEditor::selectedId() const { return d->selected; }

bool MarksEditor::hasMark(int id) const
{
    const int index = imageIndex();
    return index >= 0 && findMark(projectModel().get(), index, id, nullptr).kind >= 0;
}

void MarksEditor::select(int id)
{
    if (id != -1 && !hasMark(id)) id = -1;
    if (id == d->selected) return;
    d->selected = id;
    emit changed();
}

namespace {

// Pushes one step and tells the project it changed.
void pushStep(int index, Snapshot before, Snapshot after)
{
    if (ref_ptr<IZimMM> mm = projectModel()) mm->setModified(true);
    if (ref_ptr<orvUI::IOrvViewerMan> vm = orvUI::getVM())
        vm->pushUndo(ref_ptr<IZimUndoStep>(new MarksStep(index, std::move(before), std::move(after))));
    redrawViews();
}

}  // namespace

bool MarksEditor::removeMark(int id)
{
    ref_ptr<IZimMM> mm = projectModel();
    const int index = imageIndex();
    if (index < 0 || isDragging()) return false;
    Marks marks;
    const Place place = findMark(mm.get(), index, id, &marks);
    if (place.kind < 0) return false;
    Snapshot before, after;
    before.kinds[place.kind] = marks;
    marks.removeAt(place.position);
    after.kinds[place.kind] = marks;
    // A later mark may take the id again: it starts enabled.
    before.enabled[id] = orvmap::isMarkEnabled(mm.get(), index, id);
    after.enabled[id] = true;
    applySnapshot(mm.get(), index, after);
    pushStep(index, before, after);
    refresh();
    return true;
}

bool MarksEditor::setEnabled(int id, bool enabled)
{
    ref_ptr<IZimMM> mm = projectModel();
    const int index = imageIndex();
    if (index < 0 || findMark(mm.get(), index, id, nullptr).kind < 0) return false;
    const bool was = orvmap::isMarkEnabled(mm.get(), index, id);
    if (was == enabled) return false;
    Snapshot before, after;
    before.enabled[id] = was;
    after.enabled[id] = enabled;
    applySnapshot(mm.get(), index, after);
    pushStep(index, before, after);
    refresh();
    return true;
}

// The next free id of a photo: one above its largest of any kind, 0 for the first; -1 when the
// ids are used up.
static std::int32_t nextId(IZimMM* mm, int index)
{
    std::int32_t id = -1;
    for (int kind = 0; kind < kKindCount; ++kind)
        for (const MarkRecord& m : readKind(mm, index, kind)) id = std::max(id, m.id);
    if (id == std::numeric_limits<std::int32_t>::max()) return -1;
    return id + 1;
}

int MarksEditor::addMark(const XPnt2d& uv, const XPnt3d& point)
{
    const int id = beginNewMark(uv, point);
    if (id >= 0) endDrag();
    return id;
}

int MarksEditor::beginNewMark(const XPnt2d& uv, const XPnt3d& point)
{
    ref_ptr<IZimMM> mm = projectModel();
    const int index = imageIndex();
    const bool hasUv = isPhotoPosition(uv);
    if (index < 0 || isDragging() || (!hasUv && !point.isValid())) return -1;
    const std::int32_t id = nextId(mm.get(), index);
    if (id < 0) return -1;
    MarkRecord mark;
    if (hasUv) mark.uv = uv;
    if (point.isValid()) mark.point = point;
    mark.id = id;
    Marks marks = readKind(mm.get(), index, ZimMarkPoint);
    d->dragIndex = index;
    d->dragId = id;
    d->dragPlace = {ZimMarkPoint, int(marks.size())};
    d->dragBefore = Snapshot();
    d->dragBefore.kinds[ZimMarkPoint] = marks;
    // A flag left behind by a mark that had this id once: the new mark starts enabled.
    d->dragBefore.enabled[id] = orvmap::isMarkEnabled(mm.get(), index, id);
    d->dragEnabled.clear();
    d->dragEnabled[id] = true;
    marks.append(mark);
    Snapshot now;
    now.kinds[ZimMarkPoint] = marks;
    now.enabled = d->dragEnabled;
    applySnapshot(mm.get(), index, now);
    redrawViews();
    d->selected = id;
    refresh();
    emit changed();
    return id;
}

namespace {

bool changeMark(int index, int id, const std::function<void(MarkRecord&)>& change)
{
    ref_ptr<IZimMM> mm = projectModel();
    if (index < 0) return false;
    Marks marks;
    const Place place = findMark(mm.get(), index, id, &marks);
    if (place.kind < 0) return false;
    Snapshot before, after;
    before.kinds[place.kind] = marks;
    change(marks[place.position]);
    if (sameMarks(before.kinds[place.kind], marks)) return false;
    after.kinds[place.kind] = marks;
    applySnapshot(mm.get(), index, after);
    pushStep(index, before, after);
    return true;
}

}  // namespace

bool MarksEditor::setPhotoPosition(int id, const XPnt2d& uv)
{
    if (!isPhotoPosition(uv) || isDragging()) return false;
    const bool done = changeMark(imageIndex(), id, [&](MarkRecord& m) { m.uv = uv; });
    if (done) refresh();
    return done;
}

bool MarksEditor::setPoint(int id, const XPnt3d& point)
{
    if (!point.isValid() || isDragging()) return false;
    const bool done = changeMark(imageIndex(), id, [&](MarkRecord& m) { m.point = point; });
    if (done) refresh();
    return done;
}

bool MarksEditor::beginDrag(int id)
{
    ref_ptr<IZimMM> mm = projectModel();
    const int index = imageIndex();
    if (index < 0 || isDragging()) return false;
    Marks marks;
    const Place place = findMark(mm.get(), index, id, &marks);
    if (place.kind < 0) return false;
    d->dragIndex = index;
    d->dragId = id;
    d->dragPlace = place;
    d->dragBefore = Snapshot();
    d->dragBefore.kinds[place.kind] = marks;
    d->dragEnabled.clear();
    select(id);
    return true;
}

bool MarksEditor::isDragging() const { return d->dragId != -1; }

int MarksEditor::dragId() const { return d->dragId; }

namespace {

bool moveDragged(int index, const Place& place, const std::function<void(MarkRecord&)>& change)
{
    ref_ptr<IZimMM> mm = projectModel();
    Marks marks = readKind(mm.get(), index, place.kind);
    if (place.position >= marks.size()) return false;
    const Marks was = marks;
    change(marks[place.position]);
    if (sameMarks(was, marks)) return false;
    if (writeKind(mm.get(), index, place.kind, marks) != 0) return false;
    mm->setModified(true);
    redrawViews();
    return true;
}

}  // namespace

bool MarksEditor::dragPhotoPosition(const XPnt2d& uv)
{
    if (!isDragging() || !isPhotoPosition(uv)) return false;
    const bool moved = moveDragged(d->dragIndex, d->dragPlace, [&](MarkRecord& m) { m.uv = uv; });
    if (moved) refresh();
    return moved;
}

bool MarksEditor::dragPoint(const XPnt3d& point)
{
    if (!isDragging() || !point.isValid()) return false;
    const bool moved = moveDragged(d->dragIndex, d->dragPlace, [&](MarkRecord& m) { m.point = point; });
    if (moved) refresh();
    return moved;
}

bool MarksEditor::endDrag()
{
    if (!isDragging()) return false;
    const int index = d->dragIndex;
    Snapshot before = d->dragBefore;
    Snapshot after;
    ref_ptr<IZimMM> mm = projectModel();
    bool same = true;
    for (auto it = before.kinds.constBegin(); it != before.kinds.constEnd(); ++it) {
        after.kinds[it.key()] = readKind(mm.get(), index, it.key());
        same = same && sameMarks(it.value(), after.kinds[it.key()]);
    }
    after.enabled = d->dragEnabled;
    for (auto it = after.enabled.constBegin(); it != after.enabled.constEnd(); ++it)
        same = same && before.enabled.value(it.key(), true) == it.value();
    d->dragIndex = d->dragId = -1;
    d->dragBefore = Snapshot();
    d->dragEnabled.clear();
    if (same) return false;
    pushStep(index, std::move(before), std::move(after));
    refresh();
    return true;
}

void MarksEditor::cancelDrag()
{
    if (!isDragging()) return;
    const int index = d->dragIndex;
    const Snapshot before = d->dragBefore;
    d->dragIndex = d->dragId = -1;
    d->dragBefore = Snapshot();
    d->dragEnabled.clear();
    if (ref_ptr<IZimMM> mm = projectModel()) {
        applySnapshot(mm.get(), index, before);
        redrawViews();
    }
    refresh();
}

void MarksEditor::refresh()
{
    const int index = imageIndex();
    if (isDragging() && index != d->dragIndex) endDrag();
    const QVector<orvmap::PhotoMark> now = marks();
    bool differs = index != d->seenIndex || now.size() != d->seen.size();
    for (int i = 0; !differs && i < now.size(); ++i) {
        const orvmap::PhotoMark& a = now[i];
        const orvmap::PhotoMark& b = d->seen[i];
        differs =
            a.kind != b.kind || a.position != b.position || a.enabled != b.enabled || !sameRecord(a.record, b.record);
    }
    if (index != d->seenIndex) d->selected = -1;
    d->seenIndex = index;
    d->seen = now;
    if (d->selected != -1) {
        bool present = false;
        for (const orvmap::PhotoMark& m : now) present = present || m.record.id == d->selected;
        if (!present) {
            d->selected = -1;
            differs = true;
        }
    }
    if (differs) emit changed();
}

}  // namespace orvCore
