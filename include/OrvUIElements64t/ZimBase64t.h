// Base library: reference counting, points, boxes, colours, key flags, reference-counted arrays,
// the progress interface and path helpers. Everything above the platform libraries reaches the
// base types through this one header.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#if defined(ORV_BUILDING_ZimBase64t)
#define ZIM_BASE_EXPORT __attribute__((visibility("default")))
#else
#define ZIM_BASE_EXPORT
#endif

// ---------------------------------------------------------------------------------------------
// Intrusive reference counting
// ---------------------------------------------------------------------------------------------

// Base of every reference-counted object. The count starts at 0; the first ref_ptr takes it to 1
// and the last one to let go deletes the object. Copying an object never copies its count: a copy
// is a new object that nobody holds yet.
class ZIM_BASE_EXPORT ZimReferenced {
public:
    ZimReferenced() noexcept : m_refCount(0) {}
    ZimReferenced(const ZimReferenced&) noexcept : m_refCount(0) {}
    ZimReferenced& operator=(const ZimReferenced&) noexcept { return *this; }

    // Adds a reference and returns the new count.
    int ref() const noexcept { return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    // Drops a reference and deletes the object when it was the last one; returns the new count.
    int unref() const noexcept;
    // Drops a reference without ever deleting (hands an object back to a raw owner).
    int unrefNoDelete() const noexcept { return m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    int referenceCount() const noexcept { return m_refCount.load(std::memory_order_acquire); }

protected:
    virtual ~ZimReferenced();

private:
    mutable std::atomic<int> m_refCount;
};

// Smart pointer over a ZimReferenced object. A null ref_ptr is the "empty reference".
template <class T>
class ref_ptr {
public:
    using element_type = T;

    ref_ptr() noexcept : m_ptr(nullptr) {}
    ref_ptr(std::nullptr_t) noexcept : m_ptr(nullptr) {}
    ref_ptr(T* ptr) noexcept : m_ptr(ptr)
    {
        if (m_ptr) m_ptr->ref();
    }
    ref_ptr(const ref_ptr& other) noexcept : m_ptr(other.m_ptr)
    {
        if (m_ptr) m_ptr->ref();
    }
    ref_ptr(ref_ptr&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    template <class U>
    ref_ptr(const ref_ptr<U>& other) noexcept : m_ptr(other.get())
    {
        if (m_ptr) m_ptr->ref();
    }
    ~ref_ptr()
    {
        if (m_ptr) m_ptr->unref();
    }

    ref_ptr& operator=(const ref_ptr& other) noexcept
    {
        assign(other.m_ptr);
        return *this;
    }
    ref_ptr& operator=(ref_ptr&& other) noexcept
    {
        if (this != &other) {
            T* old = m_ptr;
            m_ptr = other.m_ptr;
            other.m_ptr = nullptr;
            if (old) old->unref();
        }
        return *this;
    }
    ref_ptr& operator=(T* ptr) noexcept
    {
        assign(ptr);
        return *this;
    }
    template <class U>
    ref_ptr& operator=(const ref_ptr<U>& other) noexcept
    {
        assign(other.get());
        return *this;
    }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }
    bool valid() const noexcept { return m_ptr != nullptr; }
    void reset() noexcept { assign(nullptr); }

    // Gives up the reference without deleting the object; the caller owns one count less.
    T* release() noexcept
    {
        T* p = m_ptr;
        m_ptr = nullptr;
        if (p) p->unrefNoDelete();
        return p;
    }

    friend bool operator==(const ref_ptr& a, const ref_ptr& b) noexcept { return a.m_ptr == b.m_ptr; }
    friend bool operator!=(const ref_ptr& a, const ref_ptr& b) noexcept { return a.m_ptr != b.m_ptr; }
    friend bool operator==(const ref_ptr& a, std::nullptr_t) noexcept { return a.m_ptr == nullptr; }
    friend bool operator!=(const ref_ptr& a, std::nullptr_t) noexcept { return a.m_ptr != nullptr; }
    friend bool operator<(const ref_ptr& a, const ref_ptr& b) noexcept { return a.m_ptr < b.m_ptr; }

private:
    void assign(T* ptr) noexcept
    {
        if (ptr == m_ptr) return;
        T* old = m_ptr;
        m_ptr = ptr;
        if (m_ptr) m_ptr->ref();
        if (old) old->unref();
    }

    T* m_ptr;
};

// ---------------------------------------------------------------------------------------------
// Points
// ---------------------------------------------------------------------------------------------

// A 2D point. The invalid state (setInvalid) is a quiet NaN in both coordinates: it survives any
// arithmetic, so a query with nothing to map can never turn into a plausible position.
template <class T>
struct XPnt2 {
    T x = 0;
    T y = 0;

    constexpr XPnt2() = default;
    constexpr XPnt2(T px, T py) : x(px), y(py) {}
    template <class U>
    explicit constexpr XPnt2(const XPnt2<U>& o) : x(static_cast<T>(o.x)), y(static_cast<T>(o.y))
    {
    }

    void setInvalid() { x = y = std::numeric_limits<T>::quiet_NaN(); }
    bool isValid() const { return std::isfinite(x) && std::isfinite(y); }

    XPnt2 operator+(const XPnt2& o) const { return {x + o.x, y + o.y}; }
    XPnt2 operator-(const XPnt2& o) const { return {x - o.x, y - o.y}; }
    XPnt2 operator-() const { return {-x, -y}; }
    XPnt2 operator*(T s) const { return {x * s, y * s}; }
    XPnt2 operator/(T s) const { return {x / s, y / s}; }
    XPnt2& operator+=(const XPnt2& o)
    {
        x += o.x;
        y += o.y;
        return *this;
    }
    XPnt2& operator-=(const XPnt2& o)
    {
        x -= o.x;
        y -= o.y;
        return *this;
    }
    XPnt2& operator*=(T s)
    {
        x *= s;
        y *= s;
        return *this;
    }
    bool operator==(const XPnt2& o) const { return x == o.x && y == o.y; }
    bool operator!=(const XPnt2& o) const { return !(*this == o); }

    T dot(const XPnt2& o) const { return x * o.x + y * o.y; }
    // z component of the 3D cross product of the two vectors.
    T cross(const XPnt2& o) const { return x * o.y - y * o.x; }
    T length() const { return std::sqrt(x * x + y * y); }
    T dist(const XPnt2& o) const { return (*this - o).length(); }
    // Scales to unit length and returns the old length; a zero vector is left as it is.
    T normalize()
    {
        const T len = length();
        if (len > T(0)) {
            x /= len;
            y /= len;
        }
        return len;
    }
};

template <class T>
inline XPnt2<T> operator*(T s, const XPnt2<T>& p)
{
    return p * s;
}

// A 3D point, with the same invalid state as XPnt2.
template <class T>
struct XPnt3 {
    T x = 0;
    T y = 0;
    T z = 0;

    constexpr XPnt3() = default;
    constexpr XPnt3(T px, T py, T pz) : x(px), y(py), z(pz) {}
    template <class U>
    explicit constexpr XPnt3(const XPnt3<U>& o) : x(static_cast<T>(o.x)), y(static_cast<T>(o.y)), z(static_cast<T>(o.z))
    {
    }

    void setInvalid() { x = y = z = std::numeric_limits<T>::quiet_NaN(); }
    bool isValid() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }

    XPnt3 operator+(const XPnt3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    XPnt3 operator-(const XPnt3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    XPnt3 operator-() const { return {-x, -y, -z}; }
    XPnt3 operator*(T s) const { return {x * s, y * s, z * s}; }
    XPnt3 operator/(T s) const { return {x / s, y / s, z / s}; }
    XPnt3& operator+=(const XPnt3& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    XPnt3& operator-=(const XPnt3& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    XPnt3& operator*=(T s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    bool operator==(const XPnt3& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const XPnt3& o) const { return !(*this == o); }

    T dot(const XPnt3& o) const { return x * o.x + y * o.y + z * o.z; }
    XPnt3 cross(const XPnt3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    T length() const { return std::sqrt(x * x + y * y + z * z); }
    T dist(const XPnt3& o) const { return (*this - o).length(); }
    T normalize()
    {
        const T len = length();
        if (len > T(0)) {
            x /= len;
            y /= len;
            z /= len;
        }
        return len;
    }
};

template <class T>
inline XPnt3<T> operator*(T s, const XPnt3<T>& p)
{
    return p * s;
}

using XPnt2d = XPnt2<double>;
using XPnt2f = XPnt2<float>;
using XPnt3d = XPnt3<double>;
using XPnt3f = XPnt3<float>;

template <class T>
inline XPnt3<T> cross(const XPnt3<T>& a, const XPnt3<T>& b)
{
    return a.cross(b);
}
template <class T>
inline T cross(const XPnt2<T>& a, const XPnt2<T>& b)
{
    return a.cross(b);
}
template <class T>
inline T dist(const XPnt3<T>& a, const XPnt3<T>& b)
{
    return a.dist(b);
}
template <class T>
inline T dist(const XPnt2<T>& a, const XPnt2<T>& b)
{
    return a.dist(b);
}
template <class P>
inline P normalize(P p)
{
    p.normalize();
    return p;
}

// ---------------------------------------------------------------------------------------------
// Point in triangle
// ---------------------------------------------------------------------------------------------

namespace zim {

// Twice the signed area of the triangle a, b, p: positive with p left of the line from a to b,
// negative right of it, exactly 0 on it.
inline double orient(double ax, double ay, double bx, double by, double px, double py)
{
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

// Whether p lies on the segment from a to b, ends included (exactly, without tolerance).
inline bool onSegment(double ax, double ay, double bx, double by, double px, double py)
{
    return orient(ax, ay, bx, by, px, py) == 0.0 && px >= std::min(ax, bx) && px <= std::max(ax, bx) &&
           py >= std::min(ay, by) && py <= std::max(ay, by);
}

}  // namespace zim

// A triangle in the plane, held in doubles, for testing many points against it: edges and
// corners count as inside; of a triangle whose corners lie on one line (or one point) only the
// points of its edges do.
struct ZimTriangle2d {
    double ax, ay, bx, by, cx, cy;
    bool line;

    ZimTriangle2d(const XPnt2f& a, const XPnt2f& b, const XPnt2f& c)
        : ax(a.x), ay(a.y), bx(b.x), by(b.y), cx(c.x), cy(c.y), line(zim::orient(ax, ay, bx, by, cx, cy) == 0.0)
    {
    }
    bool contains(double px, double py) const
    {
        if (line)
            return zim::onSegment(ax, ay, bx, by, px, py) || zim::onSegment(bx, by, cx, cy, px, py) ||
                   zim::onSegment(cx, cy, ax, ay, px, py);
        const double d0 = zim::orient(ax, ay, bx, by, px, py);
        const double d1 = zim::orient(bx, by, cx, cy, px, py);
        const double d2 = zim::orient(cx, cy, ax, ay, px, py);
        const bool negative = d0 < 0.0 || d1 < 0.0 || d2 < 0.0;
        const bool positive = d0 > 0.0 || d1 > 0.0 || d2 > 0.0;
        return !(negative && positive);
    }
};

// ---------------------------------------------------------------------------------------------
// Boxes
// ---------------------------------------------------------------------------------------------

// Axis-aligned 2D box. Default-constructed it is empty (minimum above maximum); a single point
// makes a valid box of zero size.
struct Enve2d {
    double minX = std::numeric_limits<double>::max();
    double maxX = -std::numeric_limits<double>::max();
    double minY = std::numeric_limits<double>::max();
    double maxY = -std::numeric_limits<double>::max();

    constexpr Enve2d() = default;
    constexpr Enve2d(double x0, double x1, double y0, double y1) : minX(x0), maxX(x1), minY(y0), maxY(y1) {}

    bool isEmpty() const { return !(minX <= maxX && minY <= maxY); }
    double width() const { return isEmpty() ? 0.0 : maxX - minX; }
    double height() const { return isEmpty() ? 0.0 : maxY - minY; }
    XPnt2d center() const { return {(minX + maxX) * 0.5, (minY + maxY) * 0.5}; }
    void expand(double x, double y)
    {
        if (x < minX) minX = x;
        if (x > maxX) maxX = x;
        if (y < minY) minY = y;
        if (y > maxY) maxY = y;
    }
    template <class T>
    void expand(const XPnt2<T>& p)
    {
        expand(double(p.x), double(p.y));
    }
    void expand(const Enve2d& o)
    {
        if (o.isEmpty()) return;
        expand(o.minX, o.minY);
        expand(o.maxX, o.maxY);
    }
    bool contains(double x, double y) const { return x >= minX && x <= maxX && y >= minY && y <= maxY; }
};

// Axis-aligned 3D box, empty when default-constructed.
struct Enve3d {
    double minX = std::numeric_limits<double>::max();
    double maxX = -std::numeric_limits<double>::max();
    double minY = std::numeric_limits<double>::max();
    double maxY = -std::numeric_limits<double>::max();
    double minZ = std::numeric_limits<double>::max();
    double maxZ = -std::numeric_limits<double>::max();

    constexpr Enve3d() = default;
    constexpr Enve3d(double x0, double x1, double y0, double y1, double z0, double z1)
        : minX(x0), maxX(x1), minY(y0), maxY(y1), minZ(z0), maxZ(z1)
    {
    }

    bool isEmpty() const { return !(minX <= maxX && minY <= maxY && minZ <= maxZ); }
    XPnt3d center() const { return {(minX + maxX) * 0.5, (minY + maxY) * 0.5, (minZ + maxZ) * 0.5}; }
    XPnt3d size() const
    {
        if (isEmpty()) return {0, 0, 0};
        return {maxX - minX, maxY - minY, maxZ - minZ};
    }
    double diagonal() const { return size().length(); }
    void expand(double x, double y, double z)
    {
        if (x < minX) minX = x;
        if (x > maxX) maxX = x;
        if (y < minY) minY = y;
        if (y > maxY) maxY = y;
        if (z < minZ) minZ = z;
        if (z > maxZ) maxZ = z;
    }
    template <class T>
    void expand(const XPnt3<T>& p)
    {
        expand(double(p.x), double(p.y), double(p.z));
    }
    void expand(const Enve3d& o)
    {
        if (o.isEmpty()) return;
        expand(o.minX, o.minY, o.minZ);
        expand(o.maxX, o.maxY, o.maxZ);
    }
    bool contains(double x, double y, double z) const
    {
        return x >= minX && x <= maxX && y >= minY && y <= maxY && z >= minZ && z <= maxZ;
    }
};

// ---------------------------------------------------------------------------------------------
// Colours, key flags, small records
// ---------------------------------------------------------------------------------------------

// RGB colour, each component from 0 to 1.
struct ZimColor3f {
    float r = 0, g = 0, b = 0;
    constexpr ZimColor3f() = default;
    constexpr ZimColor3f(float pr, float pg, float pb) : r(pr), g(pg), b(pb) {}
    bool operator==(const ZimColor3f& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const ZimColor3f& o) const { return !(*this == o); }
};

// RGBA colour, each component from 0 to 1 (a = 1 is opaque).
struct ZimColor4f {
    float r = 0, g = 0, b = 0, a = 1;
    constexpr ZimColor4f() = default;
    constexpr ZimColor4f(float pr, float pg, float pb, float pa) : r(pr), g(pg), b(pb), a(pa) {}
    constexpr explicit ZimColor4f(const ZimColor3f& c, float pa = 1.0f) : r(c.r), g(c.g), b(c.b), a(pa) {}
    bool operator==(const ZimColor4f& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const ZimColor4f& o) const { return !(*this == o); }
};

// Key and mouse-button flags, used as a bit set: at most one button and one modifier at a time.
enum ZimKey : std::uint32_t {
    ZimKeyNone = 0x0,
    ZimKeyLButton = 0x1,
    ZimKeyRButton = 0x2,
    ZimKeyMButton = 0x4,
    ZimKeyAlt = 0x10000000,
    ZimKeyShift = 0x20000000,
    ZimKeyCtrl = 0x40000000,
};

inline ZimKey operator|(ZimKey a, ZimKey b) { return ZimKey(std::uint32_t(a) | std::uint32_t(b)); }
inline ZimKey operator&(ZimKey a, ZimKey b) { return ZimKey(std::uint32_t(a) & std::uint32_t(b)); }
inline ZimKey& operator|=(ZimKey& a, ZimKey b) { return a = a | b; }

// Three values, e.g. the vertex indices of a triangle. normalize() sorts them ascending so that
// the same three values in any order give the same key; operator< is lexicographic.
template <class T>
struct XTrip {
    T first{};
    T second{};
    T third{};

    constexpr XTrip() = default;
    constexpr XTrip(T a, T b, T c) : first(a), second(b), third(c) {}

    XTrip& normalize()
    {
        if (second < first) std::swap(first, second);
        if (third < second) std::swap(second, third);
        if (second < first) std::swap(first, second);
        return *this;
    }
    bool operator<(const XTrip& o) const
    {
        if (first != o.first) return first < o.first;
        if (second != o.second) return second < o.second;
        return third < o.third;
    }
    bool operator==(const XTrip& o) const { return first == o.first && second == o.second && third == o.third; }
    bool operator!=(const XTrip& o) const { return !(*this == o); }
};

// A 3D line segment from frPnt() to toPnt().
class CZimLineSeg {
public:
    CZimLineSeg() = default;
    CZimLineSeg(const XPnt3d& from, const XPnt3d& to) : m_from(from), m_to(to) {}

    const XPnt3d& frPnt() const { return m_from; }
    const XPnt3d& toPnt() const { return m_to; }
    void setFrPnt(const XPnt3d& p) { m_from = p; }
    void setToPnt(const XPnt3d& p) { m_to = p; }
    double length() const { return m_from.dist(m_to); }

private:
    XPnt3d m_from;
    XPnt3d m_to;
};

// ---------------------------------------------------------------------------------------------
// Reference-counted arrays
// ---------------------------------------------------------------------------------------------

// A growable array shared by reference count. element(i) and data() give direct access; indices
// are not checked beyond what std::vector does, so callers keep them below count().
template <class T>
class ZimArray : public ZimReferenced {
public:
    using value_type = T;

    ZimArray() = default;
    explicit ZimArray(std::size_t n, const T& v = T()) : m_items(n, v) {}

    int count() const { return static_cast<int>(m_items.size()); }
    int size() const { return count(); }
    bool isEmpty() const { return m_items.empty(); }
    T& element(int i) { return m_items[static_cast<std::size_t>(i)]; }
    const T& element(int i) const { return m_items[static_cast<std::size_t>(i)]; }
    const T& at(int i) const { return element(i); }
    T& operator[](int i) { return element(i); }
    const T& operator[](int i) const { return element(i); }
    int append(const T& v)
    {
        m_items.push_back(v);
        return count() - 1;
    }
    int append(T&& v)
    {
        m_items.push_back(std::move(v));
        return count() - 1;
    }
    void setElement(int i, const T& v) { element(i) = v; }
    void removeAt(int i) { m_items.erase(m_items.begin() + i); }
    void resize(int n, const T& v = T()) { m_items.resize(static_cast<std::size_t>(n < 0 ? 0 : n), v); }
    void reserve(int n)
    {
        if (n > 0) m_items.reserve(static_cast<std::size_t>(n));
    }
    void clear() { m_items.clear(); }
    T* data() { return m_items.data(); }
    const T* data() const { return m_items.data(); }

    typename std::vector<T>::iterator begin() { return m_items.begin(); }
    typename std::vector<T>::iterator end() { return m_items.end(); }
    typename std::vector<T>::const_iterator begin() const { return m_items.begin(); }
    typename std::vector<T>::const_iterator end() const { return m_items.end(); }

protected:
    ~ZimArray() override = default;

private:
    std::vector<T> m_items;
};

using LongArray = ZimArray<long>;
using IntArray = ZimArray<int>;
using ByteArray = ZimArray<unsigned char>;
using Pnt2fArray = ZimArray<XPnt2f>;
using Pnt2dArray = ZimArray<XPnt2d>;
using Pnt3fArray = ZimArray<XPnt3f>;
using Pnt3dArray = ZimArray<XPnt3d>;
using LineSegArray = ZimArray<CZimLineSeg>;
using StringArray = ZimArray<QString>;
using ByteArrayArray = ZimArray<ref_ptr<ByteArray>>;

// ---------------------------------------------------------------------------------------------
// Progress
// ---------------------------------------------------------------------------------------------

// Progress of long work, as nested fractional ranges. A fresh object starts with one open range
// standing for the whole; progressPush opens a sub-range that is a fraction of the innermost one,
// progressStep advances by a fraction of the innermost range, progressPop closes it.
class ZIM_BASE_EXPORT IZimProgress {
public:
    virtual ~IZimProgress();
    virtual int progressPush(double fraction) = 0;
    virtual int progressPop() = 0;
    virtual int progressText(QString text) = 0;
    virtual int progressStep(double fraction) = 0;
    virtual int progressYield() = 0;
    virtual int progressSetCancelable(bool cancelable, ref_ptr<ZimReferenced> owner) = 0;
    virtual bool progressCanceled() = 0;
};

// The steps every batch operation reports on an optional progress object (null: nothing is
// reported): its text and a first step of 0.01 at the start, then a sub-range of 0.99 for the
// work, closed when the range goes out of scope.
class ZimProgressRange {
public:
    ZimProgressRange(IZimProgress* progress, const QString& text) : m_progress(progress)
    {
        if (!m_progress) return;
        m_progress->progressText(text);
        m_progress->progressStep(0.01);
        m_progress->progressPush(0.99);
    }
    ~ZimProgressRange()
    {
        if (m_progress) m_progress->progressPop();
    }
    ZimProgressRange(const ZimProgressRange&) = delete;
    ZimProgressRange& operator=(const ZimProgressRange&) = delete;

    // A step of the given fraction of the sub-range.
    void step(double fraction)
    {
        if (m_progress) m_progress->progressStep(fraction);
    }
    bool canceled() const { return m_progress && m_progress->progressCanceled(); }

private:
    IZimProgress* m_progress;
};

// ---------------------------------------------------------------------------------------------
// Translation outside QObject classes
// ---------------------------------------------------------------------------------------------

// Declares, at namespace scope of one source file, that file's QString tr(const char* text),
// which translates in the given context:   ZIM_TR_CONTEXT("OrvKernel")
#define ZIM_TR_CONTEXT(context) \
    [[maybe_unused]] static QString tr(const char* text) { return QCoreApplication::translate(context, text); }

// ---------------------------------------------------------------------------------------------
// Factories and helpers
// ---------------------------------------------------------------------------------------------

namespace zim {

ZIM_BASE_EXPORT ref_ptr<LongArray> newLongArray();
ZIM_BASE_EXPORT ref_ptr<IntArray> newIntArray();
ZIM_BASE_EXPORT ref_ptr<ByteArray> newByteArray();
ZIM_BASE_EXPORT ref_ptr<Pnt2fArray> newPnt2fArray();
ZIM_BASE_EXPORT ref_ptr<Pnt2dArray> newPnt2dArray();
ZIM_BASE_EXPORT ref_ptr<Pnt3fArray> newPnt3fArray();
ZIM_BASE_EXPORT ref_ptr<Pnt3dArray> newPnt3dArray();
ZIM_BASE_EXPORT ref_ptr<LineSegArray> newLineSegArray();
ZIM_BASE_EXPORT ref_ptr<StringArray> newStringArray();
ZIM_BASE_EXPORT ref_ptr<ByteArrayArray> newByteArrayArray();

// Box of points[first..count-1] of a point array; an empty box for a null array or no points.
ZIM_BASE_EXPORT Enve2d box(const ref_ptr<Pnt2fArray>& points, int first = 0);
ZIM_BASE_EXPORT Enve2d box(const ref_ptr<Pnt2dArray>& points, int first = 0);
ZIM_BASE_EXPORT Enve3d box(const ref_ptr<Pnt3fArray>& points, int first = 0);

// The last component of a path, after the last '/' or '\\' ("a/b/c.jpg" gives "c.jpg").
ZIM_BASE_EXPORT QString pathGetFileName(const QString& path);
// The file name without its last suffix ("a/b/c.tar.gz" gives "c.tar").
ZIM_BASE_EXPORT QString pathGetBaseName(const QString& path);
// Everything before the last separator, without it ("a/b/c.jpg" gives "a/b"; "c.jpg" gives "";
// "/c.jpg" gives "/").
ZIM_BASE_EXPORT QString pathGetDirectory(const QString& path);

}  // namespace zim
