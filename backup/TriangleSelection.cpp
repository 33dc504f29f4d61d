#include "TriangleSelection.h"

#include <GL/gl.h>

#include <QDebug>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <vector>

#include "FlatKeyTable.h"
#include "OrvLog.h"
#include "ProgressSteps.h"

namespace orvUI {

namespace {

void multiply(const double m[16], const double in[4], double out[4])
{
    for (int i = 0; i < 4; ++i)
        out[i] = in[0] * m[0 * 4 + i] + in[1] * m[1 * 4 + i] + in[2] * m[2 * 4 + i] + in[3] * m[3 * 4 + i];
}

// Pixel index trunc(w + 0.5) when it lies in 0..size - 1 (NaN and huge values included).
bool pixelIndex(double w, int size, int* out)
{
    const double a = w + 0.5;
    if (!(a > -1.0 && a < double(size))) return false;
    *out = int(a);
    return true;
}

struct SeamEntry {
    unsigned first, second;
    int meshes[2];
};

TripleKey edgeKey(unsigned a, unsigned b) { return {a, b, 0}; }

// Sorts 64-bit keys by their bytes, least significant first (passes over bytes that are the
// same in every key are skipped).
void sortKeys(std::vector<std::uint64_t>& keys, std::vector<std::uint64_t>& scratch)
{
    if (keys.size() < 64) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    std::uint64_t all = 0, any = 0;
    for (std::uint64_t k : keys) {
        any |= k;
        all |= ~k;
    }
    const std::uint64_t varying = any & all;  // bits that are 1 in some key and 0 in another
    scratch.resize(keys.size());
    for (int shift = 0; shift < 64; shift += 8) {
        if (((varying >> shift) & 0xff) == 0) continue;
        std::size_t count[257] = {};
        for (std::uint64_t k : keys) ++count[((k >> shift) & 0xff) + 1];
        for (int b = 0; b < 256; ++b) count[b + 1] += count[b];
        for (std::uint64_t k : keys) scratch[count[(k >> shift) & 0xff]++] = k;
        keys.swap(scratch);
    }
}

using Clock = std::chrono::steady_clock;
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// projectToScreen of the trackball whose matrices and viewport `ball` holds: the same sums in
// the same order, so the same bits; invalid where the camera cannot project.
XPnt3d projectLikeTrackBall(const SelectionView& ball, const XPnt3f& p)
{
    double w[3];
    XPnt3d out;
    if (!projectLikeGlu(ball, p.x, p.y, p.z, w) || !std::isfinite(w[0]) || !std::isfinite(w[1]) ||
        !std::isfinite(w[2])) {
        out.setInvalid();
        return out;
    }
    return XPnt3d(w[0], w[1], w[2]);
}

}  // namespace

void depthSamplePixels(const double win[3][3], int width, int height, int qx[3], int qy[3])
{
    const double cx = (win[0][0] + win[1][0] + win[2][0]) / 3.0, cy = (win[0][1] + win[1][1] + win[2][1]) / 3.0;
    for (int k = 0; k < 3; ++k) {
        const double dx = cx - win[k][0], dy = cy - win[k][1];
        const double length = std::sqrt(dx * dx + dy * dy);
        const double t = length > 1.5 ? 1.5 / length : 1.0;
        const double x = win[k][0] + t * dx, y = win[k][1] + t * dy;
        qx[k] = std::min(std::max(int(std::floor(x)), 0), width - 1);
        qy[k] = std::min(std::max(int(std::floor(y)), 0), height - 1);
    }
}

void depthAtPixels(const double win[3][3], const int px[3], const int py[3], double out[3])
{
    // Window depth is affine in window x and y over a flat triangle.
    const double ax = win[1][0] - win[0][0], ay = win[1][1] - win[0][1], az = win[1][2] - win[0][2];
    const double bx = win[2][0] - win[0][0], by = win[2][1] - win[0][1], bz = win[2][2] - win[0][2];
    const double den = ax * by - bx * ay;
    const double gx = (az * by - bz * ay), gy = (ax * bz - bx * az);
    // Below a hundredth of a pixel in area the plane says nothing; the corners' own depths do.
    if (!(std::fabs(den) > 1e-2)) {
        for (int k = 0; k < 3; ++k) out[k] = win[k][2];
        return;
    }
    for (int k = 0; k < 3; ++k) {
        const double cx = px[k] + 0.5 - win[0][0], cy = py[k] + 0.5 - win[0][1];
        out[k] = win[0][2] + (cx * gx + cy * gy) / den;
    }
}

bool projectLikeGlu(const SelectionView& view, double x, double y, double z, double out[3])
{
    double in[4] = {x, y, z, 1.0};
    double eye[4];
    multiply(view.modelView, in, eye);
    multiply(view.projection, eye, in);
    if (in[3] == 0.0) return false;
    in[0] /= in[3];
    in[1] /= in[3];
    in[2] /= in[3];
    in[0] = in[0] * 0.5 + 0.5;
    in[1] = in[1] * 0.5 + 0.5;
    in[2] = in[2] * 0.5 + 0.5;
    out[0] = in[0] * view.viewport[2] + view.viewport[0];
    out[1] = in[1] * view.viewport[3] + view.viewport[1];
    out[2] = in[2];
    return true;
}

bool passesDepthTest(const double windowDepth[3], const float bufferDepth[3])
{
    float d[3];
    double z[3];
    for (int k = 0; k < 3; ++k) {
        d[k] = bufferDepth[k] * 10000.0f;
        z[k] = windowDepth[k] * 10000.0;
    }
    return !(std::fabs((z[2] - d[2]) + (z[1] - d[1]) + (z[0] - d[0])) > 0.4);
}

void refineVisibleTriangles(const SelectionView& view, const ref_ptr<IZimTrackBall>& trackBall,
                            const ref_ptr<MeshArray>& meshes, ByteArrayArray& flags, IZimProgress* progress,
                            TriangleRecords& records, TextureImageMap& textures, SeamEdgeMap& seams,
                            BackupTimings* timings)
{
    const auto start = Clock::now();
    seams.clear();
    ref_ptr<IZimMM> mm = zim::getMM();
    const int meshCount = meshes ? meshes->meshCount() : 0;
    if (!mm || !trackBall || meshCount == 0) return;
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    if (mm->getState(state) == 0 && state) state->getImageStore(store);

    // The trackball's own projection, as projectToScreen computes it, with its matrices taken
    // once instead of being rebuilt for every point.
    SelectionView ball;
    trackBall->getModelViewMatrix(ball.modelView);
    trackBall->getProjectionMatrix(ball.projection);
    ball.viewport[2] = std::max(trackBall->viewportWidth(), 1);
    ball.viewport[3] = std::max(trackBall->viewportHeight(), 1);

    const int W = view.viewport[2];
    const int H = view.viewport[3];
    const double widgetMaxX = double(view.widgetWidth) - 1.0;
    const double widgetMaxY = double(view.widgetHeight) - 1.0;

    // Opaque triangles already taken, by their mesh and sorted vertex indices; the boundary
    // edges every mesh leaves, in the order they were found.
    std::map<int, FlatKeyTable<unsigned char>> takenByMesh;
    FlatKeyTable<int> seamIndex;  // edge -> position in seamEntries
    std::vector<SeamEntry> seamEntries;
    std::vector<TripleKey> boundary;
    std::vector<TripleKey> accepted;
    std::vector<std::uint64_t> edgeKeys, sortScratch;
    double seamTime = 0.0;
    // Each vertex is projected once per mesh (a vertex is shared by some six triangles):
    // window point by the GL matrices, screen point by the trackball's.
    struct Projected {
        double win[3];
        XPnt3d screen;
        unsigned char state;  // 0 not yet, 1 projected, 2 the GL projection failed
    };
    std::vector<Projected> projected;

    for (int i = 0; i < meshCount; ++i) {
        pStep(progress, 1.0 / meshCount);
        const ref_ptr<IZimMesh> mesh = meshes->meshAt(i);
        if (!mesh) continue;
        QString name, textureName;
        mesh->meshName(name);
        mesh->meshTextureName(textureName);
        const int m = mm->indexOfMesh(name);
        mm->wakeMesh(m, nullptr);
        ref_ptr<IZimImage> alpha;
        if (store) store->getAlphaImage(alpha, mm->indexOfMesh(textureName), 1, false);

        const ref_ptr<IntArray> triangles = mesh->meshTriangles();
        const ref_ptr<Pnt3fArray> vertices = mesh->meshVertexSource();
        const ref_ptr<Pnt2fArray> texCoords = mesh->meshTexCoords();
        const ref_ptr<ByteArray> bytes = i < flags.count() ? flags.element(i) : ref_ptr<ByteArray>();
        if (!triangles || !vertices || !texCoords || !bytes) continue;
        const int triangleCount = std::min(triangles->count() / 3, bytes->count());
        const unsigned vertexCount = unsigned(vertices->count());
        const unsigned texCount = unsigned(texCoords->count());
        const int* index = triangles->data();
        const XPnt3f* V = vertices->data();
        const XPnt2f* T = texCoords->data();
        unsigned char* flag = bytes->data();
        const bool separateTex = mm->hasTexIndices(mesh);
        bool textureTaken = false;
        // One table a mesh index: the tables stay small enough for the cache, and a mesh listed
        // twice finds what it took the first time.
        FlatKeyTable<unsigned char>& taken = takenByMesh[m];
        accepted.clear();
        projected.assign(vertexCount, Projected{{0, 0, 0}, XPnt3d(), 0});
        auto project = [&](int v) -> const Projected& {
            Projected& p = projected[std::size_t(v)];
            if (p.state == 0) {
                const XPnt3f& w = V[v];
                p.state = projectLikeGlu(view, w.x, w.y, w.z, p.win) ? 1 : 2;
                p.screen = projectLikeTrackBall(ball, w);
            }
            return p;
        };
        {
            std::size_t flagged = 0;
            for (int t = 0; t < triangleCount; ++t) flagged += flag[t] != 0;
            records.reserve(records.size() + int(flagged));
        }

        for (int t = 0; t < triangleCount; ++t) {
            if (!flag[t]) continue;
            const int i0 = index[3 * t], i1 = index[3 * t + 1], i2 = index[3 * t + 2];
            int ti[3] = {i0, i1, i2};
            if (separateTex) {
                const int f = mesh->meshTexFace(i0, i1, i2);
                if (f >= 0)
                    for (int k = 0; k < 3; ++k) ti[k] = mesh->meshTexFaceIndex(f, k);
            }
            // Indices the arrays do not hold leave the triangle out (its flag as it is).
            if (i0 < 0 || i1 < 0 || i2 < 0 || unsigned(i0) >= vertexCount || unsigned(i1) >= vertexCount ||
                unsigned(i2) >= vertexCount)
                continue;
            if (ti[0] < 0 || ti[1] < 0 || ti[2] < 0 || unsigned(ti[0]) >= texCount || unsigned(ti[1]) >= texCount ||
                unsigned(ti[2]) >= texCount)
                continue;

            XTrip<unsigned> trip{unsigned(i0), unsigned(i1), unsigned(i2)};
            trip.normalize();
            // Vertex indices count within one mesh: the same three indices in another mesh are
            // another triangle, so each mesh has its own table.
            const TripleKey key{trip.first, trip.second, trip.third};
            if (taken.contains(key)) continue;
            if (!zim::isAlphaTri(alpha, &T[ti[0]], &T[ti[1]], &T[ti[2]])) taken.findOrInsert(key, 1);

            const int vi[3] = {i0, i1, i2};
            double win[3][3];
            int px[3], py[3];
            bool inside = true;
            const Projected* corner[3];
            for (int k = 0; k < 3 && inside; ++k) {
                corner[k] = &project(vi[k]);
                std::copy(corner[k]->win, corner[k]->win + 3, win[k]);
                inside = corner[k]->state == 1 && pixelIndex(win[k][0], W, &px[k]) && pixelIndex(win[k][1], H, &py[k]);
            }
            if (!inside) continue;

            int qx[3], qy[3];
            depthSamplePixels(win, W, H, qx, qy);
            double z[3];
            depthAtPixels(win, qx, qy, z);
            const float d[3] = {view.depth[std::size_t(qy[0]) * W + qx[0]], view.depth[std::size_t(qy[1]) * W + qx[1]],
                                view.depth[std::size_t(qy[2]) * W + qx[2]]};
            if (!passesDepthTest(z, d)) {
                flag[t] = 0;
                continue;
            }

            XPnt3d S[3];
            bool onScreen = true;
            for (int k = 0; k < 3; ++k) {
                const XPnt3d& s = corner[k]->screen;
                S[k] = XPnt3d(s.x / W, s.y / H, s.z);
                // A point the camera cannot project (NaN) is off the screen too.
                if (!(S[k].x >= 0.0 && S[k].x <= widgetMaxX && S[k].y >= 0.0 && S[k].y <= widgetMaxY) ||
                    !std::isfinite(S[k].z))
                    onScreen = false;
            }
            if (!onScreen) {
                flag[t] = 0;
                continue;
            }

            flag[t] = 1;
            records.append(zim::newTqTriangleIndex(unsigned(i0), unsigned(i1), unsigned(i2), V[i0], V[i1], V[i2], S[0],
                                                   S[1], S[2], T[ti[0]], T[ti[1]], T[ti[2]], m));
            if (!textureTaken) {
                textureTaken = true;
                if (!textures.contains(m)) {
                    ref_ptr<IZimImage> image;
                    if (store) store->getStoreImage(image, m, 1);
                    if (!image) {
                        ref_ptr<IZimMesh> owner;
                        mm->getMeshAt(owner, m);
                        if (owner) image = owner->meshTexture();
                    }
                    textures.insert(m, image);
                }
            }

            accepted.push_back(key);
        }

        // Edges of the accepted triangles: an edge an earlier mesh left on its boundary gets
        // this mesh as its second side; the others are counted, and those counted an odd number
        // of times bound the visible area of this mesh. (The seam map does not change while a
        // mesh's triangles are taken, so doing this after them gives the same result.)
        const auto seamStart = Clock::now();
        edgeKeys.clear();
        for (const TripleKey& key : accepted) {
            const TripleKey edges[3] = {edgeKey(key.a, key.b), edgeKey(key.a, key.c), edgeKey(key.b, key.c)};
            for (const TripleKey& e : edges) {
                if (const int* at = seamIndex.find(e))
                    seamEntries[std::size_t(*at)].meshes[1] = m;
                else
                    edgeKeys.push_back(std::uint64_t(e.a) << 32 | e.b);
            }
        }
        // Sorted, equal edges sit together: those there an odd number of times remain.
        sortKeys(edgeKeys, sortScratch);
        boundary.clear();
        for (std::size_t k = 0; k < edgeKeys.size();) {
            std::size_t end = k + 1;
            while (end < edgeKeys.size() && edgeKeys[end] == edgeKeys[k]) ++end;
            if ((end - k) % 2 == 1) boundary.push_back(edgeKey(unsigned(edgeKeys[k] >> 32), unsigned(edgeKeys[k])));
            k = end;
        }
        for (const TripleKey& e : boundary) {
            bool inserted = false;
            seamIndex.findOrInsert(e, int(seamEntries.size()), &inserted);
            if (!inserted) {
                qCDebug(orvUiLog) << "BIG BUG";
                continue;
            }
            seamEntries.push_back({e.a, e.b, {m, -1}});
        }
        seamTime += seconds(Clock::now() - seamStart);
    }

    const auto mapStart = Clock::now();
    // In key order, each one goes at the end of the map: no search per edge.
    std::sort(seamEntries.begin(), seamEntries.end(), [](const SeamEntry& x, const SeamEntry& y) {
        return x.first != y.first ? x.first < y.first : x.second < y.second;
    });
    for (const SeamEntry& s : seamEntries)
        seams.insert(seams.constEnd(), qMakePair(s.first, s.second), qMakePair(s.meshes[0], s.meshes[1]));
    seamTime += seconds(Clock::now() - mapStart);
    if (timings) {
        timings->seams += seamTime;
        timings->refine += seconds(Clock::now() - start) - seamTime;
    }
}

bool selectVisibleTriangles(const ref_ptr<IZimTrackBall>& trackBall, bool wholeTriangles,
                            const ref_ptr<MeshArray>& meshes, const Enve2d& region, ref_ptr<ByteArrayArray>& flags,
                            IZimProgress* progress, TriangleRecords& records, TextureImageMap& textures,
                            SeamEdgeMap& seams, int widgetWidth, int widgetHeight, BackupTimings* timings)
{
    const auto start = Clock::now();
    if (trackBall) trackBall->applyView();
    SelectionView view;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (int k = 0; k < 4; ++k) view.viewport[k] = viewport[k];
    glGetDoublev(GL_MODELVIEW_MATRIX, view.modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, view.projection);
    view.widgetWidth = widgetWidth;
    view.widgetHeight = widgetHeight;

    // The buffer holds exactly the pixels read: the viewport's width times its height.
    const std::size_t pixels = std::size_t(std::max(0, viewport[2])) * std::size_t(std::max(0, viewport[3]));
    std::vector<float> depth(pixels, 1.0f);
    if (pixels > 0) {
        GLint packAlignment = 4;
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(viewport[0], viewport[1], viewport[2], viewport[3], GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
    }
    view.depth = depth.data();

    const bool selected =
        zim::tqSelectTriByOpenGL(trackBall, wholeTriangles, meshes, region, flags, nullptr) > 0 && flags;
    if (timings) timings->idBuffer += seconds(Clock::now() - start);
    if (!selected) return false;
    refineVisibleTriangles(view, trackBall, meshes, *flags, progress, records, textures, seams, timings);
    return true;
}

}  // namespace orvUI
