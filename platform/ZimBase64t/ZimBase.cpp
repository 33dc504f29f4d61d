#include "ZimBase64t.h"

int ZimReferenced::unref() const noexcept
{
    const int left = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

ZimReferenced::~ZimReferenced() = default;

IZimProgress::~IZimProgress() = default;

namespace zim {

namespace {
template <class A>
ref_ptr<A> make()
{
    return ref_ptr<A>(new A());
}

template <class P>
Enve2d box2(const ref_ptr<ZimArray<P>>& points, int first)
{
    Enve2d box;
    if (!points) return box;
    for (int i = first < 0 ? 0 : first; i < points->count(); ++i) box.expand(points->element(i));
    return box;
}
}  // namespace

ref_ptr<LongArray> newLongArray() { return make<LongArray>(); }
ref_ptr<IntArray> newIntArray() { return make<IntArray>(); }
ref_ptr<ByteArray> newByteArray() { return make<ByteArray>(); }
ref_ptr<Pnt2fArray> newPnt2fArray() { return make<Pnt2fArray>(); }
ref_ptr<Pnt2dArray> newPnt2dArray() { return make<Pnt2dArray>(); }
ref_ptr<Pnt3fArray> newPnt3fArray() { return make<Pnt3fArray>(); }
ref_ptr<Pnt3dArray> newPnt3dArray() { return make<Pnt3dArray>(); }
ref_ptr<LineSegArray> newLineSegArray() { return make<LineSegArray>(); }
ref_ptr<StringArray> newStringArray() { return make<StringArray>(); }
ref_ptr<ByteArrayArray> newByteArrayArray() { return make<ByteArrayArray>(); }

Enve2d box(const ref_ptr<Pnt2fArray>& points, int first) { return box2(points, first); }
Enve2d box(const ref_ptr<Pnt2dArray>& points, int first) { return box2(points, first); }

Enve3d box(const ref_ptr<Pnt3fArray>& points, int first)
{
    Enve3d box;
    if (!points) return box;
    for (int i = first < 0 ? 0 : first; i < points->count(); ++i) box.expand(points->element(i));
    return box;
}

namespace {
int lastSeparator(const QString& path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
}
}  // namespace

QString pathGetFileName(const QString& path) { return path.mid(lastSeparator(path) + 1); }

QString pathGetBaseName(const QString& path)
{
    const QString name = pathGetFileName(path);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString pathGetDirectory(const QString& path)
{
    const int sep = lastSeparator(path);
    if (sep < 0) return QString();
    return sep == 0 ? path.left(1) : path.left(sep);  // "/c.jpg" lies in "/", not in ""
}

}  // namespace zim
