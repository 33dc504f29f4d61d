// Progress reporting for batch operations that take an optional progress object (null: nothing
// is reported).
#pragma once

#include <ZimBase64t.h>

#include <QString>

namespace orvUI {

inline void pText(IZimProgress* p, const QString& text)
{
    if (p) p->progressText(text);
}
inline void pStep(IZimProgress* p, double fraction)
{
    if (p) p->progressStep(fraction);
}
inline void pPush(IZimProgress* p, double fraction)
{
    if (p) p->progressPush(fraction);
}
inline void pPop(IZimProgress* p)
{
    if (p) p->progressPop();
}

// fn(i) for i from 0 to count - 1, each followed by a step of 1 / count.
template <class Fn>
void stepEach(IZimProgress* p, int count, Fn fn)
{
    for (int i = 0; i < count; ++i) {
        fn(i);
        pStep(p, 1.0 / count);
    }
}

// A batch under its own text (see ZimProgressRange): a first step of 0.01, then a sub-range of
// 0.99 with one step per item, closed afterwards.
template <class Fn>
void stepBatch(IZimProgress* p, const QString& text, int count, Fn fn)
{
    ZimProgressRange range(p, text);
    for (int i = 0; i < count; ++i) {
        fn(i);
        range.step(1.0 / count);
    }
}

}  // namespace orvUI
