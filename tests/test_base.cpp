// Base library: reference counting, points, boxes, triples, arrays and path helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "ZimBase64t.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class Counted : public ZimReferenced {
public:
    static int alive;
    explicit Counted(int v = 0) : value(v) { ++alive; }
    Counted(const Counted& o) : ZimReferenced(o), value(o.value) { ++alive; }
    Counted& operator=(const Counted&) = default;
    int value;

protected:
    ~Counted() override { --alive; }
};
int Counted::alive = 0;

class RefCounting : public ::testing::Test {
protected:
    void SetUp() override { Counted::alive = 0; }
    void TearDown() override { EXPECT_EQ(Counted::alive, 0) << "an object outlived its last reference"; }
};

}  // namespace

TEST_F(RefCounting, RawCountsReleaseAndObjectCopies)
{
    Counted* raw = new Counted(7);
    EXPECT_EQ(raw->referenceCount(), 0);
    EXPECT_EQ(raw->ref(), 1);
    EXPECT_EQ(raw->ref(), 2);
    EXPECT_EQ(raw->unref(), 1);
    EXPECT_EQ(raw->unrefNoDelete(), 0);
    EXPECT_EQ(Counted::alive, 1);
    raw->ref();
    EXPECT_EQ(raw->unref(), 0);
    EXPECT_EQ(Counted::alive, 0) << "the last unref deletes";

    // release() gives up the count without deleting; a raw owner can hand the object back.
    ref_ptr<Counted> sole(new Counted(10));
    raw = sole.release();
    ASSERT_EQ(Counted::alive, 1);
    EXPECT_FALSE(sole);
    EXPECT_EQ(raw->referenceCount(), 0);
    sole = raw;
    // A copy of an object is a new object nobody holds yet; assignment copies no count either.
    ref_ptr<Counted> second(sole), copy(new Counted(*sole));
    EXPECT_EQ(copy->referenceCount(), 1);
    *copy = *sole;
    EXPECT_EQ(copy->referenceCount(), 1);
    EXPECT_EQ(copy->value, 10);
    EXPECT_EQ(sole->referenceCount(), 2);
}

TEST_F(RefCounting, PointerCopiesMovesAndAssignmentsKeepTheCountExact)
{
    ref_ptr<Counted> a(new Counted(1));
    ref_ptr<Counted> b(a), c(std::move(b)), d, e;
    d = a;
    e = std::move(d);
    EXPECT_FALSE(b || d);
    EXPECT_EQ(a->referenceCount(), 3);
    ref_ptr<Counted>& self = e;
    e = self;
    e = std::move(self);
    e = a.get();
    EXPECT_EQ(a->referenceCount(), 3) << "self-assignment must neither add nor drop a reference";

    ref_ptr<Counted> other(new Counted(2));
    c = other;
    e = std::move(other);
    EXPECT_EQ(a->referenceCount(), 1) << "reassigned pointers let go of the first object";
    ref_ptr<ZimReferenced> root(c);
    root = a;  // a derived pointer converts to a base one
    EXPECT_EQ(a->referenceCount(), 2);
    a = nullptr;
    e.reset();
    EXPECT_EQ(Counted::alive, 2);
    c.reset();
    EXPECT_EQ(Counted::alive, 1);
}

TEST(ZimArrayTest, FactoriesGiveOneReferenceAndElementsKeepTheirOrder)
{
    auto fresh = [](const auto& arr) { return arr && arr->referenceCount() == 1 && arr->isEmpty(); };
    EXPECT_TRUE(fresh(zim::newLongArray()) && fresh(zim::newIntArray()) && fresh(zim::newByteArray()) &&
                fresh(zim::newPnt2fArray()) && fresh(zim::newPnt2dArray()) && fresh(zim::newPnt3fArray()) &&
                fresh(zim::newPnt3dArray()) && fresh(zim::newLineSegArray()) && fresh(zim::newStringArray()) &&
                fresh(zim::newByteArrayArray()));

    ref_ptr<IntArray> arr = zim::newIntArray();
    for (int v : {10, 20, 30}) EXPECT_EQ(arr->append(v), v / 10 - 1);
    arr->setElement(1, 25);
    arr->removeAt(0);
    EXPECT_EQ((std::vector<int>(arr->begin(), arr->end())), (std::vector<int>{25, 30}));
    arr->resize(-4);
    EXPECT_EQ(arr->count(), 0);
}

TEST(Points, CrossDistanceNormalizeAndTheInvalidState)
{
    EXPECT_DOUBLE_EQ(cross(XPnt2d(2, 3), XPnt2d(4, 5)), -2.0);
    EXPECT_EQ(cross(XPnt3d(1, 2, 3), XPnt3d(4, 5, 6)), XPnt3d(-3, 6, -3));
    EXPECT_EQ(cross(XPnt3d(0, 0, 1), XPnt3d(1, 0, 0)), XPnt3d(0, 1, 0));
    EXPECT_DOUBLE_EQ(dist(XPnt3d(1, 2, 3), XPnt3d(4, 6, 3)), 5.0);
    EXPECT_DOUBLE_EQ(CZimLineSeg(XPnt3d(1, 1, 1), XPnt3d(1, 4, 5)).length(), 5.0);
    XPnt2d n(3, 4);
    EXPECT_DOUBLE_EQ(n.normalize(), 5.0);
    EXPECT_EQ(n, XPnt2d(0.6, 0.8));
    XPnt3d zero;
    EXPECT_DOUBLE_EQ(zero.normalize(), 0.0);
    EXPECT_TRUE(zero.isValid()) << "a zero vector stays as it is";

    XPnt2d p(1, 2);
    p.setInvalid();
    XPnt3f q(1, 2, 3);
    q.setInvalid();
    EXPECT_FALSE((p * 0.0).isValid() || (p - p).isValid() || normalize(p).isValid());
    EXPECT_FALSE((q * 0.0f).isValid() || cross(q, XPnt3f(1, 0, 0)).isValid() || XPnt3d(q).isValid());
    EXPECT_NE(p, p);
    EXPECT_FALSE(XPnt2d(0, std::numeric_limits<double>::infinity()).isValid());
}

TEST(Boxes, EmptyByDefaultPointIsZeroSizedAndEmptyBoxesAddNothing)
{
    Enve2d b;
    EXPECT_TRUE(b.isEmpty() && b.width() == 0.0);
    b.expand(2.0, 3.0);
    EXPECT_FALSE(b.isEmpty());
    EXPECT_EQ(b.height(), 0.0);
    b.expand(XPnt2f(-1.0f, 5.0f));
    b.expand(Enve2d());
    EXPECT_EQ((std::array<double, 4>{b.minX, b.maxX, b.minY, b.maxY}), (std::array<double, 4>{-1, 2, 3, 5}));
    EXPECT_EQ(b.center(), XPnt2d(0.5, 4.0));
    EXPECT_TRUE(b.contains(2, 3) && !b.contains(2, 5.5));

    Enve3d c, d;
    EXPECT_EQ(c.size(), XPnt3d(0, 0, 0));
    c.expand(XPnt3d(1, 1, 1));
    c.expand(4.0, 5.0, 13.0);
    d.expand(c);
    d.expand(Enve3d());
    EXPECT_EQ(d.size(), XPnt3d(3, 4, 12));
    EXPECT_DOUBLE_EQ(d.diagonal(), 13.0);
    EXPECT_FALSE(d.contains(2, 2, 14));
}

TEST(Triples, NormalizeSortsEveryOrderAndLessIsLexicographic)
{
    std::array<int, 3> v{1, 2, 3};
    do {
        XTrip<int> t(v[0], v[1], v[2]);
        EXPECT_EQ(t.normalize(), XTrip<int>(1, 2, 3)) << v[0] << v[1] << v[2];
    } while (std::next_permutation(v.begin(), v.end()));
    EXPECT_EQ(XTrip<int>(2, 1, 2).normalize(), XTrip<int>(1, 2, 2));
    EXPECT_EQ(XTrip<int>(5, 5, 1).normalize(), XTrip<int>(1, 5, 5));

    std::vector<XTrip<int>> all;  // generated in lexicographic order
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            for (int c = 0; c < 3; ++c) all.emplace_back(a, b, c);
    const std::set<XTrip<int>> ordered(all.rbegin(), all.rend());
    EXPECT_TRUE(std::equal(ordered.begin(), ordered.end(), all.begin(), all.end()));
}

TEST(BoxOfPoints, CoversPointsFromFirstAndIsEmptyForNothing)
{
    ref_ptr<Pnt2fArray> pf = zim::newPnt2fArray();
    ref_ptr<Pnt2dArray> pd = zim::newPnt2dArray();
    ref_ptr<Pnt3fArray> p3 = zim::newPnt3fArray();
    for (const auto& p : {XPnt3f(10, 10, 10), XPnt3f(1, 2, -3), XPnt3f(3, -1, 0)}) {
        pf->append(XPnt2f(p.x, p.y));
        pd->append(XPnt2d(p.x, p.y));
        p3->append(p);
    }
    auto rect = [](const Enve2d& e) { return std::array<double, 4>{e.minX, e.maxX, e.minY, e.maxY}; };
    for (const Enve2d& e : {zim::box(pf, 1), zim::box(pd, 1)}) EXPECT_EQ(rect(e), (std::array<double, 4>{1, 3, -1, 2}));
    EXPECT_EQ(rect(zim::box(pf)), (std::array<double, 4>{1, 10, -1, 10}));
    const Enve3d b3 = zim::box(p3, 1);
    EXPECT_EQ((std::array<double, 6>{b3.minX, b3.maxX, b3.minY, b3.maxY, b3.minZ, b3.maxZ}),
              (std::array<double, 6>{1, 3, -1, 2, -3, 0}));
    EXPECT_TRUE(zim::box(pf, 3).isEmpty() && zim::box(pd, 50).isEmpty() && zim::box(p3, 3).isEmpty());
    EXPECT_TRUE(zim::box(ref_ptr<Pnt2fArray>()).isEmpty() && zim::box(ref_ptr<Pnt3fArray>()).isEmpty());
}

TEST(Paths, FileNameBaseNameAndDirectoryWithEitherSeparator)
{
    const struct {
        const char *path, *file, *base, *dir;
    } cases[] = {
        {"a/b/c.tar.gz", "c.tar.gz", "c.tar", "a/b"},
        {"a\\b\\c.png", "c.png", "c", "a\\b"},
        {"a/b\\c.jpg", "c.jpg", "c", "a/b"},
        {"a\\b/c.jpg", "c.jpg", "c", "a\\b"},
        {"dir.v2/file", "file", "file", "dir.v2"},
        {"c.jpg", "c.jpg", "c", ""},
        {"a/b/", "", "", "a/b"},
        {"/c.jpg", "c.jpg", "c", "/"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zim::pathGetFileName(c.path), c.file) << c.path;
        EXPECT_EQ(zim::pathGetBaseName(c.path), c.base) << c.path;
        EXPECT_EQ(zim::pathGetDirectory(c.path), c.dir) << c.path;
    }
}

namespace {

// Writes down every call it gets, as "text:..", "step:..", "push:..", "pop".
class ProgressLog : public IZimProgress {
public:
    std::vector<std::string> calls;
    bool cancel = false;
    int progressPush(double f) override { return add("push:" + std::to_string(f)); }
    int progressPop() override { return add("pop"); }
    int progressText(QString text) override { return add("text:" + text.toStdString()); }
    int progressStep(double f) override { return add("step:" + std::to_string(f)); }
    int progressYield() override { return 0; }
    int progressSetCancelable(bool, ref_ptr<ZimReferenced>) override { return 0; }
    bool progressCanceled() override { return cancel; }

private:
    int add(const std::string& call)
    {
        calls.push_back(call);
        return 0;
    }
};

}  // namespace

TEST(ProgressRange, OpensWithTextAndFirstStepAndClosesItsSubRangeAtScopeEnd)
{
    ProgressLog log;
    {
        ZimProgressRange range(&log, QStringLiteral("Loading"));
        EXPECT_EQ(log.calls, (std::vector<std::string>{"text:Loading", "step:0.010000", "push:0.990000"}));
        range.step(0.5);
        EXPECT_FALSE(range.canceled());
        log.cancel = true;
        EXPECT_TRUE(range.canceled());
    }
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"text:Loading", "step:0.010000", "push:0.990000", "step:0.500000", "pop"}));
    // Without a progress object nothing is reported and nothing is canceled.
    ZimProgressRange none(nullptr, QStringLiteral("Loading"));
    none.step(1.0);
    EXPECT_FALSE(none.canceled());
}

TEST(Triangle2d, EdgesAndCornersAreInsideAndACollinearTriangleHoldsOnlyItsSegments)
{
    const ZimTriangle2d tri(XPnt2f(0, 0), XPnt2f(4, 0), XPnt2f(0, 4));
    EXPECT_TRUE(tri.contains(1, 1));
    EXPECT_TRUE(tri.contains(2, 0));  // on an edge
    EXPECT_TRUE(tri.contains(2, 2));  // on the slanted edge
    EXPECT_TRUE(tri.contains(4, 0));  // a corner
    EXPECT_FALSE(tri.contains(2.5, 2));
    EXPECT_FALSE(tri.contains(-0.001, 1));
    // The winding does not matter.
    EXPECT_TRUE(ZimTriangle2d(XPnt2f(0, 4), XPnt2f(4, 0), XPnt2f(0, 0)).contains(1, 1));

    const ZimTriangle2d line(XPnt2f(0, 0), XPnt2f(2, 2), XPnt2f(4, 4));
    EXPECT_TRUE(line.line);
    EXPECT_TRUE(line.contains(3, 3));
    EXPECT_FALSE(line.contains(5, 5));
    EXPECT_FALSE(line.contains(3, 2));
    const ZimTriangle2d point(XPnt2f(1, 1), XPnt2f(1, 1), XPnt2f(1, 1));
    EXPECT_TRUE(point.contains(1, 1));
    EXPECT_FALSE(point.contains(1, 1.5));
}
