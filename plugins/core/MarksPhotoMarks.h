// Transitional: the photo-mark collection the editor reads, until the mapping service provides it.
#pragma once

#include <OrvKernel64t.h>

#include <QHash>
#include <QPair>
#include <QVector>
#include <cmath>

namespace orvmap {

struct PhotoMark {
    int kind = 0;
    int position = 0;
    MarkRecord record;
    bool enabled = true;
    bool hasPhotoPosition() const
    {
        return std::isfinite(record.uv.x) && std::isfinite(record.uv.y) && record.uv.x >= 0 && record.uv.x <= 1 &&
               record.uv.y >= 0 && record.uv.y <= 1;
    }
    bool hasPoint() const { return record.point.isValid(); }
};

inline QHash<QPair<int, int>, bool>& transitionalFlags()
{
    static QHash<QPair<int, int>, bool> flags;
    return flags;
}

inline bool isMarkEnabled(IZimMM*, int index, int id) { return transitionalFlags().value({index, id}, true); }

inline int setMarkEnabled(IZimMM* mm, int index, int id, bool enabled)
{
    if (!mm || !mm->isProjectOpen() || index < 0) return -1;
    transitionalFlags()[{index, id}] = enabled;
    return 0;
}

inline QVector<PhotoMark> photoMarks(IZimMM* mm, int index)
{
    QVector<PhotoMark> out;
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    ref_ptr<IZimImageRecord> record;
    if (!mm || index < 0 || mm->getState(state) != 0 || !state || state->getImageStore(store) != 0 || !store ||
        store->getImageRecord(record, index) != 0 || !record)
        return out;
    for (int kind = 0; kind < 4; ++kind)
        if (ref_ptr<MarkArray> marks = record->getMarks(kind))
            for (int i = 0; i < marks->count(); ++i) {
                PhotoMark m;
                m.kind = kind;
                m.position = i;
                m.record = marks->at(i);
                m.enabled = isMarkEnabled(mm, index, m.record.id);
                out.append(m);
            }
    return out;
}

}  // namespace orvmap
